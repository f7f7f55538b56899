// publication.h - output files are written under a hidden temporary name and given their
// final name only when complete, so that a loader never finds a file that is still being
// written under a name it would take.

#ifndef CORVANE_PUBLICATION_H
#define CORVANE_PUBLICATION_H

#include <QByteArray>
#include <QString>

// The hidden name an output file is written under: "." + its name + ".part", in the same
// directory, so that the final rename stays within one file system.
QByteArray part_path_of(const QByteArray &final_path);

// The final path of a temporary one; empty if the name is not one of ours.
QByteArray final_path_of(const QByteArray &part_path);

// Creates the temporary file for final_path, locked against every other writer for as long
// as it is open. A temporary file of that name that nobody holds is a leftover of an
// interrupted run: it is taken over and emptied, with a warning. Returns the descriptor,
// or -1 after logging why (shown names the final file in messages).
int create_part(const QByteArray &part_path, const QString &shown);

// Gives the temporary file its final name, never replacing a file of that name (which
// may have appeared since the name was checked). Returns 0, or the errno of the failure:
// EEXIST when the final name is taken.
int publish_part(const QByteArray &part_path, const QByteArray &final_path);

#endif
