// file_list.cpp - the names of a run's input files, kept in one block of memory.

#include "runtime/file_list.h"

FILE_LIST::FILE_LIST(const QStringList &names)
{
    qsizetype total = 0;
    for (const QString &name : names)
        total += name.size();
    text.reserve(total);
    ends.reserve(size_t(names.size()));
    for (const QString &name : names) {
        text += name;
        ends.push_back(text.size());
    }
}
