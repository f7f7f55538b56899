// pool.h - the worker pool: one forked worker process per input file.

#ifndef CORVANE_POOL_H
#define CORVANE_POOL_H

// Lists the input directory and converts every file in it; never returns.
[[noreturn]] void run_pool();

void fork_new_process();
void sigchld_handler(int sig);
[[noreturn]] void exit_program();

#endif
