// loader.cpp - reads the configuration file into the record description tree and the
// global settings; also the actions that the grammar runs.

#include "config/loader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>

#include <QRegExp>

#include "config/attribute.h"
#include "config/loader_actions.h"
#include "config/scanner_support.h"
#include "grammar.h"
#include "runtime/runtime.h"

// The grammar declares its tokens in the order of tokens.h; check every code.
#define SAME_CODE(name) static_assert(int(TK_##name) == int(tok::name), "token code of " #name)
SAME_CODE(STRING);
SAME_CODE(IDENTIFIER);
SAME_CODE(NUMBER);
SAME_CODE(GLOBALS);
SAME_CODE(VERSION);
SAME_CODE(FILE_MASK);
SAME_CODE(TIME_FORMAT);
SAME_CODE(COLUMN_SEPARATOR);
SAME_CODE(HEADER_SIZE_MAX);
SAME_CODE(INPUTFILE);
SAME_CODE(GENERATES);
SAME_CODE(MEASUREMENT);
SAME_CODE(MEASUREMENTNAME);
SAME_CODE(GRANULARITY);
SAME_CODE(H24);
SAME_CODE(MIN15);
SAME_CODE(EVENT);
SAME_CODE(MATCH);
SAME_CODE(AND);
SAME_CODE(NEEDS);
SAME_CODE(VOID);
SAME_CODE(POINTER);
SAME_CODE(COLUMNS);
SAME_CODE(ATTRIBUTE);
SAME_CODE(ATTRIBUTE_BOOL);
SAME_CODE(ATTRIBUTE_CONVERT);
SAME_CODE(ATTRIBUTE_REGEXP);
SAME_CODE(UTC_FILESTAMP);
SAME_CODE(MS_TO_UTC);
SAME_CODE(MS_TO_LOCAL);
SAME_CODE(STRING_TO_LOCAL);
SAME_CODE(STRING_TO_UTC);
SAME_CODE(ATTRIBUTE_ARG);
SAME_CODE(MISSING_VALUES);
SAME_CODE(EMPTY);
SAME_CODE(REPEAT);
SAME_CODE(WORDLIST);
SAME_CODE(ELEMENTLIST);
SAME_CODE(LISTKEY);
SAME_CODE(ELEMENTNAME);
SAME_CODE(DURATION_TO_SECONDS);
SAME_CODE(TIME_ZONE);
SAME_CODE(FILE_TIME);
SAME_CODE(UTC);
SAME_CODE(LOCAL);
#undef SAME_CODE
static_assert(tok::NUMBER_OUT_OF_RANGE == int(TK_GLOBAL_UNDEF),
              "an out-of-range number is no token");

namespace
{

// Every node the loader made, so that tests can free whole trees, partial ones included.
// The list itself is never destroyed: the nodes of a file that failed to parse stay
// reachable until the process ends, as the tree does, instead of turning into leaks
// when static objects are torn down at exit.
std::vector<ATTRIBUTE *> &created_nodes = *new std::vector<ATTRIBUTE *>;

// The last node of every list built so far, by its head. Every list is left-recursive
// and grows at its end; walking it from the head on each append would make a long path
// or column list cost quadratic time.
std::unordered_map<ATTRIBUTE *, ATTRIBUTE *> list_tails;

// A string literal's text: its bytes as Latin-1 characters, without the double quotes.
QString take_text(char *literal)
{
    if (literal == nullptr)
        return QString();
    QString text = QString::fromLatin1(literal);
    free(literal);
    text.remove(QLatin1Char('"'));
    return text;
}

} // namespace

void global_error(const char *message)
{
    elog.log(QStringLiteral("%1 in line %2\n")
                 .arg(QString::fromLatin1(message))
                 .arg(GL_param.config_line));
}

void set_record_descriptions(ATTRIBUTE *list) { GL_param.record_descriptions = list; }

void set_file_tag(char *literal) { GL_param.file_tag = take_text(literal); }

void set_file_mask(char *literal) { GL_param.file_mask = take_text(literal); }

void set_time_format(char *literal) { GL_param.time_format = take_text(literal); }

void set_column_separator(char *literal) { GL_param.column_separator = take_text(literal); }

void set_max_header_size(int size) { GL_param.max_header_size = size; }

void set_missing_values(bool empty)
{
    GL_param.missing_values = empty ? MISSING_VALUES_EMPTY : MISSING_VALUES_REPEAT;
}

bool set_time_zone(char *literal)
{
    const QString name = take_text(literal);
    const QTimeZone zone(name.toUtf8());
    if (!zone.isValid()) {
        elog.log(QStringLiteral("ERROR: unknown time zone \"%1\" in line %2\n")
                     .arg(name)
                     .arg(GL_param.config_line));
        return false;
    }
    GL_param.time_zone_name = name;
    GL_param.time_zone = zone;
    return true;
}

void set_file_time_utc(bool utc)
{
    GL_param.file_time_mode = utc ? FILE_TIME_UTC : FILE_TIME_LOCAL;
}

ATTRIBUTE *new_node(int type, int sub_type, char *name, char *argument, ATTRIBUTE *child)
{
    ATTRIBUTE *node = new ATTRIBUTE(type, sub_type);
    created_nodes.push_back(node);
    node->line = GL_param.config_line;
    node->name = take_text(name);
    node->argument = take_text(argument);
    node->child = child;
    return node;
}

namespace
{

// Where an attribute name may stand: only at the end of the path of a column that takes
// one value from its element's text, after at least one element. False, after one line
// in the log, for the first one that stands anywhere else.
bool attribute_names_fit(const char *holder, bool may_end, const ATTRIBUTE *path)
{
    for (const ATTRIBUTE *name = path; name != nullptr; name = name->next) {
        if (!ATTRIBUTE::is_attribute_name(name->name))
            continue;
        const QString head =
            QStringLiteral("ERROR: attribute \"%1\" in line %2").arg(name->name).arg(name->line);
        QString fault;
        if (name->name.size() == 1)
            fault = QStringLiteral(" has no name");
        else if (!may_end)
            fault = QStringLiteral(" in %1: only ATTRIBUTE, BOOLATTRIBUTE, REGEXPATTRIBUTE and "
                                   "CONVERTATTRIBUTE take an attribute at the end of their path")
                        .arg(QLatin1String(holder));
        else if (name->next != nullptr)
            fault = QStringLiteral(" is not at the end of its path");
        else if (name == path)
            fault = QStringLiteral(" follows no element: write the path of its element first");
        else
            continue;
        elog.log(head + fault + QLatin1Char('\n'));
        return false;
    }
    return true;
}

const char *keyword_of(int type)
{
    switch (type) {
    case tok::ATTRIBUTE_ARG:
        return "ARGATTRIBUTE";
    case tok::WORDLIST:
        return "WORDLIST";
    case tok::ELEMENTLIST:
        return "ELEMENTLIST";
    case tok::ELEMENTNAME:
        return "ELEMENTNAME";
    default:
        return "this column";
    }
}

} // namespace

ATTRIBUTE *new_column(int type, int sub_type, char *name, char *argument, ATTRIBUTE *path)
{
    ATTRIBUTE *column = new_node(type, sub_type, name, argument, path);
    const bool may_end = type == tok::ATTRIBUTE || type == tok::ATTRIBUTE_BOOL ||
                         type == tok::ATTRIBUTE_REGEXP || type == tok::ATTRIBUTE_CONVERT;
    return attribute_names_fit(keyword_of(type), may_end, path) ? column : nullptr;
}

ATTRIBUTE *new_condition(ATTRIBUTE *path)
{
    ATTRIBUTE *condition = new_node(tok::NEEDS, 0, nullptr, nullptr, path);
    return attribute_names_fit("a NEEDS path", false, path) ? condition : nullptr;
}

ATTRIBUTE *append(ATTRIBUTE *list, ATTRIBUTE *item)
{
    if (list == nullptr)
        return item;
    auto known = list_tails.find(list);
    ATTRIBUTE *last = known != list_tails.end() ? known->second : list;
    while (last->next != nullptr)
        last = last->next;
    last->next = item;
    while (last->next != nullptr)
        last = last->next;
    list_tails[list] = last;
    return list;
}

int parse_configuration_stream(FILE *stream)
{
    list_tails.clear();
    global_restart(stream);
    GL_param.config_line = 1;
    elog.debug(5, "DEBUG: start parsing\n");
    const int parsed = global_parse();
    list_tails.clear();
    if (parsed != 0)
        return 6;
    elog.debug(5, "DEBUG: end parsing\n");
    return 0;
}

void discard_configuration_tree()
{
    for (ATTRIBUTE *node : created_nodes) {
        delete node->regexp;
        delete node;
    }
    created_nodes.clear();
    list_tails.clear();
    GL_param.record_descriptions = nullptr;
    GL_param.current_description = nullptr;
}

int GL_PARAM::read_configuration_file()
{
    elog.debug(3, "CALLED: GL_PARAM::read_configuration()\n");
    const QByteArray path = QFile::encodeName(configuration_file);
    const QString shown = QString::fromLocal8Bit(path);
    elog.debug(4, QStringLiteral("parsing file \"") + shown + QStringLiteral("\"\n"));

    FILE *stream = fopen(path.constData(), "rb");
    // A directory opens for reading but fails on the first read, which would end the
    // process inside the scanner; refuse it here like any file that cannot be opened.
    struct stat status;
    if (stream != nullptr && fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode)) {
        fclose(stream);
        stream = nullptr;
        errno = EISDIR;
    }
    if (stream == nullptr) {
        int error = errno;
        elog.log(QStringLiteral("ERROR: could not open configuration file \"") + shown +
                 QStringLiteral("\"\n"));
        elog.log(QStringLiteral("ERROR: system strerror() ") +
                 QString::fromLocal8Bit(strerror(error)) + QLatin1Char('\n'));
        return 2;
    }

    int rc = parse_configuration_stream(stream);
    fclose(stream);
    if (rc != 0) {
        elog.log(QStringLiteral("ERROR: during global_parse() - file was: \"") + shown +
                 QStringLiteral("\"\n"));
        return rc;
    }
    if (debug_level != 0)
        dump();
    elog.debug(3, "FINISH: parse_global()\n");
    return 0;
}
