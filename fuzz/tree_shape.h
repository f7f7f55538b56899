// tree_shape.h - checks that a loaded record description tree has the shape that the
// grammar gives it. Used by the fuzz target and by the corpus replay test, so that a
// loader fault shows as a wrong tree, not only as a crash.

#ifndef CORVANE_TREE_SHAPE_H
#define CORVANE_TREE_SHAPE_H

#include <set>

#include <QString>

#include "config/attribute.h"

namespace tree_shape
{

enum level { INPUTFILES, MEASUREMENTS, ITEMS, CONDITIONS, COLUMN_LIST, PATH };

// The list a node's children must form, or -1 when the node must have none.
inline int child_level(const ATTRIBUTE *node, level where, QString *fault)
{
    const int type = node->type;
    const int sub = node->sub_type;
    const bool keyed_list = type == tok::ELEMENTLIST && sub == tok::ATTRIBUTE_ARG;
    const bool takes_argument = type == tok::ATTRIBUTE_BOOL || type == tok::ATTRIBUTE_REGEXP ||
                                type == tok::ATTRIBUTE_ARG || keyed_list ||
                                (type == tok::ATTRIBUTE_CONVERT &&
                                 (sub == tok::STRING_TO_LOCAL || sub == tok::STRING_TO_UTC));
    if (!takes_argument && !node->argument.isEmpty())
        *fault = QStringLiteral("argument on node type %1").arg(type);
    if (type != tok::GRANULARITY && type != tok::ATTRIBUTE_CONVERT && !keyed_list && sub != 0)
        *fault = QStringLiteral("subtype on node type %1").arg(type);
    switch (where) {
    case INPUTFILES:
        if (type == tok::INPUTFILE)
            return MEASUREMENTS;
        break;
    case MEASUREMENTS:
        if (type == tok::MEASUREMENT && node->name.isEmpty())
            return ITEMS;
        break;
    case ITEMS:
        if (type == tok::MEASUREMENTNAME)
            return -1;
        if (type == tok::GRANULARITY && sub >= tok::H24 && sub <= tok::EVENT)
            return -1;
        if (type == tok::MATCH && node->name.isEmpty())
            return CONDITIONS;
        if (type == tok::COLUMNS && node->name.isEmpty())
            return COLUMN_LIST;
        break;
    case CONDITIONS:
        if (type == tok::NEEDS && node->name.isEmpty())
            return PATH;
        if (type == tok::VOID && node->name.isEmpty())
            return -1;
        break;
    case COLUMN_LIST:
        if (type == tok::UTC_FILESTAMP || type == tok::LISTKEY)
            return -1;
        if (type == tok::WORDLIST || type == tok::ELEMENTLIST)
            return PATH;
        if (type == tok::ATTRIBUTE_CONVERT &&
            ((sub >= tok::MS_TO_UTC && sub <= tok::STRING_TO_UTC) ||
             sub == tok::DURATION_TO_SECONDS))
            return PATH;
        if (type == tok::ATTRIBUTE || type == tok::ATTRIBUTE_BOOL ||
            type == tok::ATTRIBUTE_REGEXP || type == tok::ATTRIBUTE_ARG || type == tok::ELEMENTNAME)
            return PATH;
        break;
    case PATH:
        if (type == tok::POINTER)
            return -1;
        break;
    }
    *fault = QStringLiteral("node type %1 (subtype %2) out of place").arg(type).arg(sub);
    return -1;
}

inline void check_list(const ATTRIBUTE *node, level where, std::set<const ATTRIBUTE *> *seen,
                       QString *fault)
{
    for (; node != nullptr && fault->isEmpty(); node = node->next) {
        if (!seen->insert(node).second) {
            *fault = QStringLiteral("node reached twice");
            return;
        }
        if (node->name.contains(QLatin1Char('"')) || node->argument.contains(QLatin1Char('"')))
            *fault = QStringLiteral("double quote left in a text");
        if (node->file != -1 || node->stream != nullptr || node->regexp != nullptr ||
            node->pointer_count != 0 || node->matched || !node->result.isEmpty() ||
            !node->file_name.isEmpty())
            *fault = QStringLiteral("working field set by the loader");
        const int below = child_level(node, where, fault);
        if (below < 0 && node->child != nullptr && fault->isEmpty())
            *fault = QStringLiteral("children under node type %1").arg(node->type);
        if (below >= 0)
            check_list(node->child, static_cast<level>(below), seen, fault);
    }
}

} // namespace tree_shape

// Empty when the tree below record_descriptions is well formed, else the first fault.
inline QString tree_shape_fault(const ATTRIBUTE *record_descriptions)
{
    std::set<const ATTRIBUTE *> seen;
    QString fault;
    tree_shape::check_list(record_descriptions, tree_shape::INPUTFILES, &seen, &fault);
    return fault;
}

#endif
