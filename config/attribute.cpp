// attribute.cpp - search, clearing and listing of the record description tree.

#include "config/attribute.h"

#include "runtime/runtime.h"

ATTRIBUTE::ATTRIBUTE() : ATTRIBUTE(0, 0) {}

ATTRIBUTE::ATTRIBUTE(int node_type, int node_sub_type)
    : next(nullptr), child(nullptr), type(node_type), sub_type(node_sub_type), file(-1),
      stream(nullptr), regexp(nullptr), pointer_count(0), matched(false), line(0)
{
}

ATTRIBUTE *ATTRIBUTE::find(ATTRIBUTE *node, int wanted_type)
{
    // Deliberately not limited to the sub-tree of the start node: the search runs on
    // along the chain, so a measurement without COLUMNS finds the next one's.
    for (; node != nullptr; node = node->next) {
        if (node->type == wanted_type)
            return node;
        if (ATTRIBUTE *hit = find(node->child, wanted_type))
            return hit;
    }
    return nullptr;
}

void ATTRIBUTE::clear_result(ATTRIBUTE *node)
{
    elog.debug(3, "CALLED: ATTRIBUTE::clear_result()\n");
    for (; node != nullptr; node = node->next) {
        if (node->type == tok::COLUMNS) {
            for (ATTRIBUTE *column = node->child; column != nullptr; column = column->next)
                column->result.clear(); // CONST_NOT_AVAILABLE, the empty text
        }
        clear_result(node->child);
    }
}

int ATTRIBUTE::child_count() const
{
    int count = 0;
    for (const ATTRIBUTE *node = child; node != nullptr; node = node->next)
        ++count;
    return count;
}

bool ATTRIBUTE::is_column() const
{
    switch (type) {
    case tok::ATTRIBUTE:
    case tok::ATTRIBUTE_BOOL:
    case tok::ATTRIBUTE_CONVERT:
    case tok::ATTRIBUTE_REGEXP:
    case tok::UTC_FILESTAMP:
    case tok::ATTRIBUTE_ARG:
    case tok::WORDLIST:
    case tok::ELEMENTLIST:
    case tok::LISTKEY:
    case tok::ELEMENTNAME:
        return true;
    default:
        return false;
    }
}

const ATTRIBUTE *ATTRIBUTE::attribute_in_path() const
{
    const ATTRIBUTE *last = child;
    if (last == nullptr || !is_column())
        return nullptr;
    while (last->next != nullptr)
        last = last->next;
    return last->type == tok::POINTER && is_attribute_name(last->name) ? last : nullptr;
}

bool ATTRIBUTE::is_list() const { return type == tok::WORDLIST || type == tok::ELEMENTLIST; }

bool ATTRIBUTE::is_element_kind() const
{
    return type == tok::ATTRIBUTE || type == tok::ATTRIBUTE_BOOL ||
           type == tok::ATTRIBUTE_CONVERT || type == tok::ATTRIBUTE_REGEXP ||
           type == tok::ATTRIBUTE_ARG || type == tok::ELEMENTNAME;
}

namespace
{

QString dump_line(const ATTRIBUTE *node)
{
    switch (node->type) {
    case tok::INPUTFILE:
        return QStringLiteral("INPUTFILE = %1\n").arg(node->name);
    case tok::MEASUREMENT:
        return QStringLiteral("MEASUREMENT\n");
    case tok::MEASUREMENTNAME:
        return QStringLiteral("MEASUREMENTNAME = %1\n").arg(node->name);
    case tok::GRANULARITY:
        switch (node->sub_type) {
        case tok::H24:
            return QStringLiteral("GRANULARITY: H24\n");
        case tok::MIN15:
            return QStringLiteral("GRANULARITY: MIN15\n");
        case tok::EVENT:
            return QStringLiteral("GRANULARITY: EVENT\n");
        default:
            return QStringLiteral("ERROR: undefined subtype for GRANULARITY\n");
        }
    case tok::MATCH:
        return QStringLiteral("MATCH\n");
    case tok::NEEDS:
        return QStringLiteral("NEEDS\n");
    case tok::VOID:
        return QStringLiteral("VOID\n");
    case tok::POINTER:
        return QStringLiteral("POINTER = %1\n").arg(node->name);
    case tok::COLUMNS:
        return QStringLiteral("COLUMNS\n");
    case tok::ATTRIBUTE:
        return QStringLiteral("ATTRIBUTE ( POINTER ) %1\n").arg(node->name);
    case tok::ATTRIBUTE_BOOL:
        return QStringLiteral("ATTRIBUTE_BOOL ( POINTER, \"%1\" ) %2\n")
            .arg(node->argument, node->name);
    case tok::ATTRIBUTE_CONVERT:
        switch (node->sub_type) {
        case tok::MS_TO_UTC:
            return QStringLiteral("ATTRIBUTE_CONVERT MS_TO_UTC( POINTER ) %1\n").arg(node->name);
        case tok::MS_TO_LOCAL:
            return QStringLiteral("ATTRIBUTE_CONVERT MS_TO_LOCAL( POINTER ) %1\n").arg(node->name);
        case tok::STRING_TO_LOCAL:
            return QStringLiteral("ATTRIBUTE_CONVERT STRING_TO_LOCAL( POINTER, %1 ) %2\n")
                .arg(node->argument, node->name);
        case tok::STRING_TO_UTC:
            return QStringLiteral("ATTRIBUTE_CONVERT STRING_TO_UTC( POINTER, %1 ) %2\n")
                .arg(node->argument, node->name);
        case tok::DURATION_TO_SECONDS:
            return QStringLiteral("ATTRIBUTE_CONVERT DURATION_TO_SECONDS( POINTER ) %1\n")
                .arg(node->name);
        default:
            return QStringLiteral("ERROR: undefined subtype for ATTRIBUTE_CONVERT\n");
        }
    case tok::ATTRIBUTE_REGEXP:
        return QStringLiteral("ATTRIBUTE_REGEXP ( POINTER, \"%1\" ) %2\n")
            .arg(node->argument, node->name);
    case tok::UTC_FILESTAMP:
        return QStringLiteral("UTC_FILESTAMP %1\n").arg(node->name);
    case tok::ATTRIBUTE_ARG:
        return QStringLiteral("ATTRIBUTE_ARG ( POINTER, \"%1\" ) %2\n")
            .arg(node->argument, node->name);
    case tok::WORDLIST:
        return QStringLiteral("WORDLIST ( POINTER ) %1\n").arg(node->name);
    case tok::ELEMENTLIST:
        if (node->sub_type == tok::ATTRIBUTE_ARG)
            return QStringLiteral("ELEMENTLIST ( POINTER, \"%1\" ) %2\n")
                .arg(node->argument, node->name);
        return QStringLiteral("ELEMENTLIST ( POINTER ) %1\n").arg(node->name);
    case tok::LISTKEY:
        return QStringLiteral("LISTKEY %1\n").arg(node->name);
    case tok::ELEMENTNAME:
        return QStringLiteral("ELEMENTNAME ( POINTER ) %1\n").arg(node->name);
    default:
        return QStringLiteral("undefined ATTRIBUTE type = %1\n").arg(node->type);
    }
}

} // namespace

void ATTRIBUTE::dump(ATTRIBUTE *list, int indent)
{
    elog.debug(3, "CALLED: ATTRIBUTE::dump()\n");
    const QString indentation(indent, QLatin1Char(' '));
    for (ATTRIBUTE *node = list; node != nullptr; node = node->next) {
        elog.log(indentation + dump_line(node));
        if (node->child != nullptr)
            dump(node->child, indent + 4);
    }
}
