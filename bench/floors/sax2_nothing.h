/* sax2_nothing.h - the parse of the libxml2 floors: libxml2's SAX2 interface with callbacks
 * that do nothing, fed from the file in blocks. A file that starts with the gzip magic
 * (1f 8b) is inflated with zlib on the way, as corvane reads such files, so that the floors
 * measure the same work on a compressed set. */

#ifndef SAX2_NOTHING_H
#define SAX2_NOTHING_H

#include <stddef.h>

/* 0 when the file is well-formed; a message on standard error otherwise. `block` is the
 * caller's buffer of `size` bytes, reused from file to file. */
int sax2_parse_file(const char *path, char *block, size_t size);

#endif
