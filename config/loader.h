// loader.h - loading a configuration into GL_param.

#ifndef CORVANE_LOADER_H
#define CORVANE_LOADER_H

#include <cstdio>

// Parses an already open configuration stream into GL_param: 0 loaded, 6 parse failed.
// read_configuration_file() is this plus opening the file and its log lines.
int parse_configuration_stream(FILE *stream);

// Frees every node the loader has created and empties record_descriptions. The program
// itself keeps its tree for the whole run; tests and the fuzzer load many.
void discard_configuration_tree();

#endif
