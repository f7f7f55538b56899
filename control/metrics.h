// metrics.h - the figures of a run for monitoring (-m): written when the parent ends, in the
// Prometheus text format, for the node exporter's textfile collector.

#ifndef CORVANE_METRICS_H
#define CORVANE_METRICS_H

#include <QtGlobal>

// Right after the options: with -m (and without -n), checks that the metrics file can be
// written (otherwise one ERROR line and status 1), notes the start of the run, and from
// then on writes the file when the parent ends, whatever its exit status.
void metrics_start();

// The configuration is loaded: every measurement gets a sample of its records.
void metrics_configuration_loaded();

// The run starts its workers: `young` files were left for a later run by -a. Makes room for
// the workers' figures.
void metrics_files_listed(int young);

// The worker of `slot` converted its file of `input_bytes` bytes: its figures count.
void metrics_file_converted(int slot, qint64 input_bytes);

// Another run is busy with the input directory: its file is left alone.
void metrics_leave_alone();

#endif
