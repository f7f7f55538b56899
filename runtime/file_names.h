// file_names.h - file names as the file system stores them (bytes) and as the program
// handles them (text), and their form in log lines.

#ifndef CORVANE_FILE_NAMES_H
#define CORVANE_FILE_NAMES_H

#include <QByteArray>
#include <QString>

// A directory entry's name as text. Valid UTF-8 is decoded; every byte that is not part
// of a valid sequence becomes one character of a reserved private-use block, so that
// encode_file_name gives back exactly the bytes of the name.
QString decode_file_name(const QByteArray &raw);

// The bytes of a name that decode_file_name produced: those characters become their
// bytes again, everything else UTF-8.
QByteArray encode_file_name(const QString &name);

// A name or path for a log line: line breaks and other control characters, backslashes
// and bytes that were not UTF-8 are written as backslash escapes, so that a line of the
// log stays one line and the name can still be told apart from others.
QString printable_name(const QString &name);

#endif
