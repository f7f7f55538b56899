/* sax2_nothing.c - see sax2_nothing.h. */

#include "sax2_nothing.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <zlib.h>

static void on_start(void *ctx, const xmlChar *localname, const xmlChar *prefix, const xmlChar *uri,
                     int nb_namespaces, const xmlChar **namespaces, int nb_attributes,
                     int nb_defaulted, const xmlChar **attributes)
{
    (void)ctx, (void)localname, (void)prefix, (void)uri, (void)nb_namespaces;
    (void)namespaces, (void)nb_attributes, (void)nb_defaulted, (void)attributes;
}

static void on_end(void *ctx, const xmlChar *localname, const xmlChar *prefix, const xmlChar *uri)
{
    (void)ctx, (void)localname, (void)prefix, (void)uri;
}

static void on_characters(void *ctx, const xmlChar *text, int length)
{
    (void)ctx, (void)text, (void)length;
}

/* The rest of a compressed file, from its start. gzread inflates straight into the block;
 * its own input buffer is set to the 64 KB corvane reads the compressed bytes in. */
static int parse_gzip(xmlParserCtxtPtr parser, int fd, char *block, size_t size)
{
    if (lseek(fd, 0, SEEK_SET) != 0)
        return 1;
    gzFile gz = gzdopen(dup(fd), "rb");
    if (gz == NULL)
        return 1;
    gzbuffer(gz, 64 * 1024);
    unsigned want = size > INT_MAX ? INT_MAX : (unsigned)size;
    int got;
    int failed = 0;
    while (!failed && (got = gzread(gz, block, want)) > 0)
        failed = xmlParseChunk(parser, block, got, 0) != 0;
    int error;
    gzerror(gz, &error);
    failed |= got < 0 || error != Z_OK;
    gzclose(gz);
    return failed;
}

int sax2_parse_file(const char *path, char *block, size_t size)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        perror(path);
        return 1;
    }
    xmlSAXHandler handler;
    memset(&handler, 0, sizeof handler);
    handler.initialized = XML_SAX2_MAGIC;
    handler.startElementNs = on_start;
    handler.endElementNs = on_end;
    handler.characters = on_characters;

    xmlParserCtxtPtr parser = xmlCreatePushParserCtxt(&handler, NULL, NULL, 0, path);
    if (parser == NULL) {
        close(fd);
        return 1;
    }
    xmlCtxtUseOptions(parser, XML_PARSE_NONET);
    ssize_t got = read(fd, block, size);
    int failed = got < 0;
    if (got >= 2 && (unsigned char)block[0] == 0x1f && (unsigned char)block[1] == 0x8b) {
        /* Told apart by the first block, so that a plain file costs no extra read. */
        failed = parse_gzip(parser, fd, block, size);
    } else {
        while (!failed && got > 0) {
            failed = xmlParseChunk(parser, block, (int)got, 0) != 0;
            if (!failed)
                failed = (got = read(fd, block, size)) < 0;
        }
    }
    if (!failed)
        failed = xmlParseChunk(parser, NULL, 0, 1) != 0 || !parser->wellFormed;
    if (failed)
        fprintf(stderr, "%s: not well-formed, or not readable\n", path);
    xmlFreeParserCtxt(parser);
    close(fd);
    return failed;
}
