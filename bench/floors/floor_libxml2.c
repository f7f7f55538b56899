/* floor_libxml2.c - parses XML files with libxml2's SAX2 interface and does nothing
 * with what it reads: the speed any converter built on this parser cannot beat.
 * gzip-compressed files are inflated with zlib as they are parsed.
 *
 *   floor_libxml2 <file>...     exit status 0 when every file is well-formed */

#include <stdlib.h>

#include <libxml/parser.h>

#include "sax2_nothing.h"

enum { BLOCK = 1 << 20 };

int main(int argc, char **argv)
{
    char *block = malloc(BLOCK);
    int status = 0;
    if (block == NULL)
        return 1;
    for (int i = 1; i < argc; ++i)
        status |= sax2_parse_file(argv[i], block, BLOCK);
    free(block);
    xmlCleanupParser();
    return status;
}
