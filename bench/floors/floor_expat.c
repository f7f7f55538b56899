/* floor_expat.c - parses XML files with expat (namespace processing on, as the other
 * parsers do it) and does nothing with what it reads.
 *
 *   floor_expat <file>...       exit status 0 when every file is well-formed */

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <expat.h>

enum { BLOCK = 1 << 20 };

static void XMLCALL on_start(void *data, const XML_Char *name, const XML_Char **attributes)
{
    (void)data, (void)name, (void)attributes;
}

static void XMLCALL on_end(void *data, const XML_Char *name) { (void)data, (void)name; }

static void XMLCALL on_characters(void *data, const XML_Char *text, int length)
{
    (void)data, (void)text, (void)length;
}

static int parse_file(const char *path)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        perror(path);
        return 1;
    }
    XML_Parser parser = XML_ParserCreateNS(NULL, ' ');
    if (parser == NULL) {
        close(fd);
        return 1;
    }
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_characters);
    int failed = 0;
    for (;;) {
        void *block = XML_GetBuffer(parser, BLOCK);
        if (block == NULL) {
            failed = 1;
            break;
        }
        ssize_t got = read(fd, block, BLOCK);
        if (got < 0) {
            perror(path);
            failed = 1;
            break;
        }
        if (XML_ParseBuffer(parser, (int)got, got == 0) != XML_STATUS_OK) {
            fprintf(stderr, "floor_expat: %s line %lu: %s\n", path,
                    (unsigned long)XML_GetCurrentLineNumber(parser),
                    XML_ErrorString(XML_GetErrorCode(parser)));
            failed = 1;
            break;
        }
        if (got == 0)
            break;
    }
    XML_ParserFree(parser);
    close(fd);
    return failed;
}

int main(int argc, char **argv)
{
    int status = 0;
    for (int i = 1; i < argc; ++i)
        status |= parse_file(argv[i]);
    return status;
}
