// file_list.cpp - the names of a run's input files, kept in one block of memory.

#include "runtime/file_list.h"

FILE_LIST::FILE_LIST(const QStringList &names)
{
    for (const QString &name : names)
        append(name);
}

void FILE_LIST::append(QStringView name)
{
    text.append(name.data(), size_t(name.size()));
    ends.push_back(qsizetype(text.size()));
}
