/* floor_fork.c - the libxml2 floor run the way corvane runs its workers: the parent lists
 * a directory and forks one child per file, without exec; the child parses its file with
 * SAX2 callbacks that do nothing and exits, the parent reaps it and forks the next. What a
 * converter pays per file for being a forked process (the fork, the pages the child
 * touches and so copies or maps afresh, the exit and the reaping) is all in here, next to
 * the bare parse.
 *
 *   floor_fork [-j N] <directory>    N children at a time (default 1); exit status 0 when
 *                                    every file is well-formed
 *
 * Names starting with a dot and directories are left out, as corvane leaves them out. */

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libxml/parser.h>

#include "sax2_nothing.h"

enum { BLOCK = 1 << 20 };

static int by_name(const void *a, const void *b)
{
    return strcmp(*(char *const *)a, *(char *const *)b);
}

/* The paths of the directory's files, sorted; NULL on a fault. */
static char **list_files(const char *dir, size_t *count)
{
    DIR *d = opendir(dir);
    if (d == NULL) {
        perror(dir);
        return NULL;
    }
    size_t used = 0, room = 1024;
    char **paths = malloc(room * sizeof *paths);
    struct dirent *entry;
    while (paths != NULL && (entry = readdir(d)) != NULL) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat info;
        if (entry->d_type == DT_DIR ||
            (entry->d_type == DT_UNKNOWN && fstatat(dirfd(d), entry->d_name, &info, 0) == 0 &&
             S_ISDIR(info.st_mode)))
            continue;
        if (used == room) {
            char **more = realloc(paths, (room *= 2) * sizeof *paths);
            if (more == NULL) {
                free(paths);
                paths = NULL;
                break;
            }
            paths = more;
        }
        size_t length = strlen(dir) + 1 + strlen(entry->d_name) + 1;
        if ((paths[used] = malloc(length)) == NULL)
            break;
        snprintf(paths[used++], length, "%s/%s", dir, entry->d_name);
    }
    closedir(d);
    if (paths != NULL)
        qsort(paths, used, sizeof *paths, by_name);
    *count = used;
    return paths;
}

int main(int argc, char **argv)
{
    int jobs = 1;
    int opt;
    while ((opt = getopt(argc, argv, "j:")) != -1) {
        if (opt != 'j' || (jobs = atoi(optarg)) < 1) {
            fprintf(stderr, "usage: floor_fork [-j N] <directory>\n");
            return 2;
        }
    }
    if (optind + 1 != argc) {
        fprintf(stderr, "usage: floor_fork [-j N] <directory>\n");
        return 2;
    }
    size_t count;
    char **paths = list_files(argv[optind], &count);
    if (paths == NULL)
        return 1;
    /* Set up once here, as corvane's parent prepares its library before the first fork,
     * so that no child repeats it. */
    xmlInitParser();
    char *block = malloc(BLOCK);
    if (block == NULL)
        return 1;

    int failed = 0;
    size_t next = 0;
    int running = 0;
    while (next < count || running > 0) {
        while (running < jobs && next < count) {
            pid_t pid = fork();
            if (pid < 0) {
                perror("fork");
                return 1;
            }
            /* The child ends without tearing down what it inherited, as a worker does. */
            if (pid == 0)
                _exit(sax2_parse_file(paths[next], block, BLOCK));
            ++next;
            ++running;
        }
        int status;
        if (wait(&status) < 0) {
            perror("wait");
            return 1;
        }
        --running;
        failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    return failed;
}
