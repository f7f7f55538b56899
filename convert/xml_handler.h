// xml_handler.h - follows the elements of one input file and writes its records.

#ifndef CORVANE_XML_HANDLER_H
#define CORVANE_XML_HANDLER_H

#include <string>
#include <string_view>
#include <vector>

#include <QByteArray>
#include <QString>

#include "runtime/byte_string.h"

class ATTRIBUTE;
struct COLUMN_PLAN;
struct MEASUREMENT_PLAN;

// A piece of UTF-8 text handed over by the XML reader; valid during the call only.
struct XML_TEXT {
    const char *data;
    int size;
};

// An attribute as the handler sees it: its local name (prefix left off) and its value.
struct XML_ATTRIBUTE {
    XML_TEXT local_name;
    XML_TEXT value;
};

// The open elements, outermost first: their qualified names, and for each the number
// under which the record description knows that name (0 for a name no path uses).
class ELEMENT_STACK
{
public:
    int size() const { return static_cast<int>(ids.size()); }
    bool empty() const { return ids.empty(); }
    std::string_view name(int level) const
    {
        const size_t at = static_cast<size_t>(level);
        const int end = at + 1 < starts.size() ? starts[at + 1] : text.size();
        return std::string_view(text.data() + starts[at], static_cast<size_t>(end - starts[at]));
    }
    int id(int level) const { return ids[static_cast<size_t>(level)]; }
    std::string_view innermost() const { return name(size() - 1); }
    int innermost_id() const { return ids.back(); }

    void push(XML_TEXT name, int name_id)
    {
        starts.push_back(text.size());
        ids.push_back(name_id);
        text.append(name.data, name.size);
    }
    void pop()
    {
        text.truncate(starts.back());
        starts.pop_back();
        ids.pop_back();
    }
    void clear()
    {
        text.clear();
        starts.clear();
        ids.clear();
    }

private:
    // All open names one after the other: a document does not allocate per element.
    BYTE_STRING text;
    std::vector<int> starts;
    std::vector<int> ids;
};

// The handler of one input file. The XML reader calls it with UTF-8 text; the results
// it captures are kept as UTF-8 too, so that a value goes from the input to the output
// file without being converted. Callbacks return false to stop the parse.
class XMLInputHandler
{
public:
    XMLInputHandler();
    ~XMLInputHandler();

    bool startDocument();
    bool endDocument();
    bool startElement(XML_TEXT qName, const XML_ATTRIBUTE *atts, int count);
    bool endElement(XML_TEXT qName);
    // One run of character data between two pieces of markup, or one CDATA section.
    bool characters(XML_TEXT ch);
    // The same for a run the reader has collected itself: the handler takes the bytes
    // over and leaves its previous buffer in exchange.
    bool characters(BYTE_STRING &run);
    bool skippedEntity(const QString &name);
    bool fatalError(int line, int column, const QString &message);

    // True when the path names the innermost open elements, outermost first.
    bool is_pointer_matching(ATTRIBUTE *path, int count);
    bool should_write(ATTRIBUTE *measurement);
    void reset_needs(ATTRIBUTE *measurement);
    int write_output_files(ATTRIBUTE *measurement);

    ELEMENT_STACK hierarchy;
    BYTE_STRING current_text;

    // Deeper documents are refused: no measurement file comes near this, and a reader
    // that recurses per level would run out of stack long before any limit of its own.
    static constexpr int MAX_DEPTH = 256;

    struct PLAN;

private:
    void prepare();
    void prepare_output();
    bool capture_attributes(const XML_ATTRIBUTE *atts, int count);
    bool capture_attribute(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts, int count);
    bool capture_at_end(COLUMN_PLAN &column);
    bool end_of_element();
    bool conditions_met(MEASUREMENT_PLAN &m);
    void clear_conditions(MEASUREMENT_PLAN &m);
    int write_record(MEASUREMENT_PLAN &m);
    void write_columns_one_by_one(MEASUREMENT_PLAN &m);
    void compose_line(MEASUREMENT_PLAN &m);

    PLAN *plan;
};

#endif
