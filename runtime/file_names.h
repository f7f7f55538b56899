// file_names.h - file names as the file system stores them (bytes) and as the program
// handles them (text), their form in log lines, and the few operations on files that
// several stages share.

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

// The system's text for an errno, for log lines.
QString system_reason(int error);

// Syncs the directory, so that the entries made or removed in it reach the disk. Returns
// 0 or the errno of the failure.
int sync_directory(const QByteArray &path);

// Gives the file from the name to, unless a file of that name exists: never replaces
// one. Where the file system has no rename that refuses to replace, a link (which
// refuses too) and the removal of the old name do it. Returns 0 or the errno: EEXIST
// when the name is taken.
int rename_without_replacing(const QByteArray &from, const QByteArray &to);

#endif
