// file_list.h - the names of a run's input files, kept in one block of memory.

#ifndef CORVANE_FILE_LIST_H
#define CORVANE_FILE_LIST_H

#include <vector>

#include <QString>
#include <QStringList>
#include <QStringView>

// Every page of memory the parent holds is one more entry for each fork to copy and one
// more page a worker may have to copy before writing to it. A list of ten thousand names
// as separate strings takes some 220 pages; packed one after the other, half as many.
class FILE_LIST
{
public:
    FILE_LIST() = default;
    explicit FILE_LIST(const QStringList &names);

    qsizetype size() const { return qsizetype(ends.size()); }
    QStringView view(qsizetype index) const
    {
        const qsizetype from = index == 0 ? 0 : ends[size_t(index - 1)];
        return QStringView(text).mid(from, ends[size_t(index)] - from);
    }
    // A string of its own: a copy of a shared one would write to the shared data.
    QString at(qsizetype index) const { return view(index).toString(); }

private:
    QString text;
    std::vector<qsizetype> ends; // where each name ends in text
};

#endif
