// input_file.h - opening an input file for the conversion and removing it afterwards.

#ifndef CORVANE_INPUT_FILE_H
#define CORVANE_INPUT_FILE_H

#include <QString>

// Opens input_path/file_name for reading; the descriptor in *fd. Anything but a regular
// file (or a link to one) is refused without being read, so that a FIFO cannot stop the
// worker. Returns 0, or 1 after logging "ERROR: opening file <path>" and the reason.
int open_input_file(const QString &input_path, const QString &file_name, int *fd);

// Removes input_path/file_name, which fd was read from, and closes fd. The name is only
// removed while it still leads to the file that was read: a file delivered again under
// the same name during the conversion is not the one converted. Returns 0, or 1 after
// logging the reason.
int remove_input_file(const QString &input_path, const QString &file_name, int fd);

// Moves input_path/file_name, whose conversion failed, into directory: under its own name,
// or with ".1", ".2" ... added where that name is taken there, never replacing a file;
// across file systems by a copy that is synced and renamed into place before the input is
// removed. Logs one line naming both paths. Returns 0, or 1 after logging why.
int move_input_file(const QString &input_path, const QString &file_name, const QString &directory);

// Where the record of the publication of the input file's output goes while its output
// files get their final names: a hidden file beside it, "." + its name + ".corvane-pub".
QByteArray publication_record_path(const QString &input_path, const QString &file_name);

// The name of the input file that a directory entry's name would be the publication
// record of; empty when it is no such record.
QByteArray input_of_publication_record(const QByteArray &entry_name);

// The input file's name as output names carry it: without a trailing ".gz" and then
// without a trailing ".xml", both in any case.
QString input_name_for_output(const QString &file_name);

#endif
