// listing.h - the input directory at the start of a run: its lock, the error directory
// beside it, and the list of files to convert.

#ifndef CORVANE_LISTING_H
#define CORVANE_LISTING_H

#include <QByteArray>
#include <QList>

#include "runtime/file_list.h"

// The lists of a listing are kept where a fork does not copy them (unforked_array.h).
struct INPUT_LISTING {
    FILE_LIST names;                 // the files to convert, in the order they are handed out
    UNFORKED_ARRAY<qint64> sizes;    // their sizes in bytes at the listing (0 when unknown)
    FILE_LIST left;                  // files left for a later run: younger than the minimum age
    QList<QByteArray> stale_records; // publication records of input files that are gone
};

// One run per input directory: takes an exclusive lock on the directory itself. Returns
// the descriptor that holds it (-1 when the directory cannot be opened, which the listing
// reports, or cannot be locked, with a warning); ends the program with status 3 when
// another run holds it.
int lock_input_directory();

// Why the directory `path` cannot take new files, empty when it can: it is missing, is not
// a directory, is the input directory `input` (when given), or a file cannot be created in
// it (tried for real).
QString directory_problem(const QByteArray &path, const QByteArray &input = QByteArray());

// Ends the program with status 1 when an error directory is given that cannot take files.
void check_error_directory();

// The input directory's files as the run hands them out: sorted by name without regard
// to case, hidden entries and directories left out, and with a minimum age those younger
// than it set aside. A missing or unreadable directory ends the program with status 1.
INPUT_LISTING list_input_directory();

#endif
