// event_reader.h - a plain SAX reader for the parts of the program that look at a
// document as a whole rather than convert it (corvane -g): element starts and ends and
// the pieces of text between them, with the same reading of the document as the
// conversion's reader (entities replaced, nothing outside the document read).

#ifndef CORVANE_EVENT_READER_H
#define CORVANE_EVENT_READER_H

#include <string_view>

#include <QString>

#include "convert/records/element_stack.h"

class INPUT_SOURCE;

class XML_EVENTS
{
public:
    // qname as written (prefix included), local without the prefix; the attributes by
    // their local names, their values as the reader normalised them.
    virtual void start(std::string_view qname, std::string_view local, const XML_ATTRIBUTE *atts,
                       int count) = 0;
    virtual void end(std::string_view qname) = 0;
    // Character data. A piece of text ends at markup: an element's start or end, a
    // comment, a processing instruction; a CDATA section is a piece of its own. `joined`
    // is false for the first chunk of a piece.
    virtual void text(std::string_view chunk, bool joined) = 0;
    // True once the receiver has seen what it needs: the reader then stops, after the
    // element that just ended, and the read counts as a success.
    virtual bool finished() const { return false; }

protected:
    ~XML_EVENTS() = default;
};

// Reads the whole document. False when it is not well-formed or cannot be read to its
// end; *error then says why, with the line where the reader stopped.
bool read_xml_events(INPUT_SOURCE &input, XML_EVENTS *events, QString *error);

// The same for a file, plain or gzip-compressed (known by its first bytes).
bool read_xml_file_events(const QString &path, XML_EVENTS *events, QString *error);

#endif
