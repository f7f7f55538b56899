// file_list.h - the names of a run's input files, kept in one block of memory.

#ifndef CORVANE_FILE_LIST_H
#define CORVANE_FILE_LIST_H

#include <QString>
#include <QStringList>
#include <QStringView>

#include "runtime/unforked_array.h"

// The names one after the other, in memory that workers do not get (unforked_array.h):
// the parent reads them, a worker is handed the name of its own file. Some 50 bytes a
// name of 20 characters, where a string of its own would take a block of the heap.
class FILE_LIST
{
public:
    FILE_LIST() = default;
    explicit FILE_LIST(const QStringList &names);

    void append(QStringView name);

    qsizetype size() const { return qsizetype(ends.size()); }
    QStringView view(qsizetype index) const
    {
        const qsizetype from = index == 0 ? 0 : ends[size_t(index - 1)];
        return QStringView(text.data() + from, ends[size_t(index)] - from);
    }
    QString at(qsizetype index) const { return view(index).toString(); }

private:
    UNFORKED_ARRAY<QChar> text;
    UNFORKED_ARRAY<qsizetype> ends; // where each name ends in text
};

#endif
