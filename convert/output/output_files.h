// output_files.h - the output data files of one input file: their names, their creation
// with the header lines, and their completion after the parse.

#ifndef CORVANE_OUTPUT_FILES_H
#define CORVANE_OUTPUT_FILES_H

#include <QDateTime>
#include <QString>

class ATTRIBUTE;

// Creates one file per MEASUREMENT of the description and writes its header line, each
// under a hidden temporary name until it is complete. Returns 0, or 1 after logging the
// reason; the files created before a failure are removed again.
int open_output_files(ATTRIBUTE *inputfile);

// Writes out, closes (and at debug level 0 syncs) the files after a successful parse and
// gives them their final names, then (at debug level 0) syncs the directory. With an
// error directory, files that could not be written completely are removed instead.
int close_output_files(ATTRIBUTE *inputfile);

// The input file being converted (its descriptor) and where the record of the
// publication of its output goes, so that a publication that a kill interrupted can be
// finished by a later run of the same file.
void output_files_for_input(int input_fd, const QByteArray &record_path);

// Before any output file is created: true when an earlier run converted this very input
// file completely but was killed while it gave the output files their final names (or
// before it removed the input). The publication is finished here, with a warning, and
// the file needs no conversion.
bool finish_interrupted_publication();

// After the input file has been dealt with: the record of the publication is removed.
void publication_done();

// After a failed parse: writes out what the streams hold and closes the files, so that
// the records written so far end with a complete line, and publishes them; with an error
// directory they are removed instead.
void abandon_output_files(ATTRIBUTE *inputfile);

// The output file name: file time, granularity letter, measurement name, tag and the
// input file's name (as output_name_of_input gives it) put into the mask one after the
// other, each into the lowest-numbered marker still present.
QString output_file_name(const QString &mask, const QDateTime &file_time, int granularity,
                         const QString &measurement, const QString &tag,
                         const QString &input_name = QString());

#endif
