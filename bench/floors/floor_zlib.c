/* floor_zlib.c - inflates gzip-compressed files with zlib and does nothing with the text:
 * what decompressing alone costs corvane, which reads such files through the same library.
 *
 *   floor_zlib <file>...        exit status 0 when every file inflates without a fault */

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <zlib.h>

enum { BLOCK = 1 << 20 };

static int inflate_file(const char *path, char *block)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        perror(path);
        return 1;
    }
    gzFile gz = gzdopen(fd, "rb");
    if (gz == NULL) {
        close(fd);
        return 1;
    }
    /* The 64 KB of compressed bytes per read that corvane uses. */
    gzbuffer(gz, 64 * 1024);
    int got;
    while ((got = gzread(gz, block, BLOCK)) > 0) {
    }
    int error;
    const char *message = gzerror(gz, &error);
    int failed = got < 0 || error != Z_OK;
    if (failed)
        fprintf(stderr, "floor_zlib: %s: %s\n", path, message);
    gzclose(gz);
    return failed;
}

int main(int argc, char **argv)
{
    char *block = malloc(BLOCK);
    int status = 0;
    if (block == NULL)
        return 1;
    for (int i = 1; i < argc; ++i)
        status |= inflate_file(argv[i], block);
    free(block);
    return status;
}
