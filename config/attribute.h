// attribute.h - a node of the record description tree.

#ifndef CORVANE_ATTRIBUTE_H
#define CORVANE_ATTRIBUTE_H

#include <QByteArray>
#include <QString>

#include "config/tokens.h"
#include "runtime/byte_string.h"

class QRegExp;
class OUTPUT_STREAM;

class ATTRIBUTE
{
public:
    ATTRIBUTE();
    explicit ATTRIBUTE(int node_type, int node_sub_type = 0);

    // Pre-order search of this node, its sub-tree and everything after it in its
    // chain. All three operations accept a null node.
    static ATTRIBUTE *find(ATTRIBUTE *node, int wanted_type);
    ATTRIBUTE *find(int wanted_type) { return find(this, wanted_type); }
    static void clear_result(ATTRIBUTE *node);
    static void dump(ATTRIBUTE *list, int indent);

    // Number of nodes in the child list (the length of an element path).
    int child_count() const;
    bool is_column() const;
    // WORDLIST and ELEMENTLIST: columns that hold a list of items, one line each.
    bool is_list() const;
    // The columns that hold one value taken from an element: ATTRIBUTE, ATTRIBUTE_BOOL,
    // ATTRIBUTE_CONVERT, ATTRIBUTE_REGEXP, ATTRIBUTE_ARG and ELEMENTNAME.
    bool is_element_kind() const;
    // A path's last name that reads an attribute of the element before it: "@name".
    static bool is_attribute_name(const QString &name) { return name.startsWith(QLatin1Char('@')); }
    // The POINTER node of this column's path that names an attribute, or null.
    const ATTRIBUTE *attribute_in_path() const;

    ATTRIBUTE *next;
    ATTRIBUTE *child;
    int type;
    int sub_type;
    QString name;
    QString argument;
    int file; // the descriptor of the open output file; -1 when none is open
    OUTPUT_STREAM *stream;
    QRegExp *regexp;
    QString file_name;
    BYTE_STRING result; // UTF-8, as it is written to the output file
    int pointer_count;
    bool matched;
    int line; // of the configuration file, where the loader read it
};

#endif
