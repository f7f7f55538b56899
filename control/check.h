// check.h - corvane -n: what a configuration will do, checked before it runs.

#ifndef CORVANE_CHECK_H
#define CORVANE_CHECK_H

// Reports on standard output, one line each, what in the loaded configuration would fail
// or surprise at conversion time although the loader accepts it, and with -i the plan for
// every input file: the description that would convert it, its file time, whether it is
// compressed and the output names it would create. Creates, changes and removes nothing
// and starts no worker. Ends the program: status 0 when nothing was found, 1 otherwise.
[[noreturn]] void check_and_plan();

#endif
