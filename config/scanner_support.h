// scanner_support.h - what the generated scanner calls; keeps scanner.l to the rules.

#ifndef CORVANE_SCANNER_SUPPORT_H
#define CORVANE_SCANNER_SUPPORT_H

#include <cstdio>

#include "config/tokens.h"

// Read errors and allocation failures end the process with status 2 after one log line.
#define YY_FATAL_ERROR(message) scanner_fatal_error(message)

[[noreturn]] void scanner_fatal_error(const char *message);
void count_config_line();
int scan_number(const char *text);
int scan_text(int token, const char *text);

// The scanner's entry points (flex, prefix global_).
int global_lex();
void global_restart(FILE *input);
struct yy_buffer_state;
yy_buffer_state *global__scan_bytes(const char *bytes, int length);
void global__delete_buffer(yy_buffer_state *buffer);

#endif
