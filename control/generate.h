// generate.h - corvane -g: a configuration written from sample files and proven on them.

#ifndef CORVANE_GENERATE_H
#define CORVANE_GENERATE_H

#include <QStringList>

// Recognises the layout of every sample file, writes one configuration that converts
// files like them into the long table measvalues, converts each sample with it (copies
// in a temporary directory; the samples are neither changed nor removed) and checks that
// every value of each is on exactly one line. Only then is the configuration written to
// standard output. The log says, per file, the layout found and how many values and lines
// it gave, or why it failed. Returns the exit status: 0, or 1 when a file failed (and
// nothing was written).
int generate_configuration(const QStringList &files);

#endif
