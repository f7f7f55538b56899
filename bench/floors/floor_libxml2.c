/* floor_libxml2.c - parses XML files with libxml2's SAX2 interface and does nothing
 * with what it reads: the speed any converter built on this parser cannot beat.
 *
 *   floor_libxml2 <file>...     exit status 0 when every file is well-formed */

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <libxml/parser.h>

enum { BLOCK = 1 << 20 };

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

static int parse_file(const char *path, char *block)
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
    ssize_t got;
    int failed = 0;
    while (!failed && (got = read(fd, block, BLOCK)) > 0)
        failed = xmlParseChunk(parser, block, (int)got, 0) != 0;
    if (!failed)
        failed = xmlParseChunk(parser, NULL, 0, 1) != 0 || !parser->wellFormed;
    if (failed)
        fprintf(stderr, "floor_libxml2: %s is not well-formed\n", path);
    xmlFreeParserCtxt(parser);
    close(fd);
    return failed;
}

int main(int argc, char **argv)
{
    char *block = malloc(BLOCK);
    int status = 0;
    if (block == NULL)
        return 1;
    for (int i = 1; i < argc; ++i)
        status |= parse_file(argv[i], block);
    free(block);
    xmlCleanupParser();
    return status;
}
