// libxml2_reader.cpp - drives XMLInputHandler with libxml2's SAX2 parser.
//
// The handler expects the events of a streaming reader that hands over one run of
// character data between two pieces of markup at once (a CDATA section on its own),
// qualified element names and attributes by local name. libxml2 delivers text in
// pieces, so they are joined here; everything else is passed on as it comes.

#include "convert/xml/xml_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <QBuffer>
#include <QIODevice>
#include <QString>

#include "convert/input/input_source.h"
#include "convert/records/xml_handler.h"
#include "runtime/runtime.h"

namespace
{

// The longest run of character data accepted in one element. Measurement values are a
// few bytes; a larger text is refused rather than held in memory whatever its size.
constexpr size_t MAX_TEXT_BYTES = 16 * 1024 * 1024;

constexpr int READ_BLOCK = 256 * 1024;
// The first reads are smaller, and double up to READ_BLOCK once four reads of a size are
// in: a small file then fills only a few pages of the block, each of which a worker pays
// a page fault for, while a large one soon reads in full blocks.
constexpr int FIRST_READ = 16 * 1024;

// Entity references can make what a document hands on many times larger than the
// document itself: a few hundred kilobytes that repeat one entity would write a gigabyte
// of records. Without them, names, text and attribute values never come to much more
// than twice the bytes read (Latin-1 text grows when it becomes UTF-8, an empty element
// counts its name and a fixed share), so past an allowance more than ten times is
// refused.
constexpr uint64_t EXPANSION_ALLOWANCE = 16 * 1024 * 1024;
constexpr uint64_t MAX_EXPANSION = 10;
constexpr uint64_t ELEMENT_COST = 8;

struct READER_STATE {
    XMLInputHandler *handler = nullptr;
    xmlParserCtxtPtr context = nullptr;
    INPUT_SOURCE *input = nullptr;

    std::unique_ptr<char[]> block; // input read ahead of the parser (left uninitialised)
    int block_used = 0;
    int block_size = 0;
    int block_room = 0;
    int read_size = FIRST_READ; // how much the next read asks for
    bool input_ended = false;
    bool input_failed = false; // reading (or decompressing) the input failed
    uint64_t bytes_read = 0;   // of the document, so far
    uint64_t bytes_handed_on = 0;
    uint64_t expansion_limit = 0; // what may be handed on for the bytes read so far

    BYTE_STRING text; // the run of character data not yet handed over
    bool has_text = false;
    std::string qname; // a prefixed element name, put together
    std::vector<XML_ATTRIBUTE> attributes;

    // libxml2 keeps every name once in its dictionary for the whole parse, so what is
    // known about a name (its length, the handler's number for it) can be remembered by
    // its address instead of being worked out every time.
    struct NAME_SLOT {
        const xmlChar *name = nullptr;
        int length = 0;
        int id = -1; // the handler's number, once asked for
    };
    NAME_SLOT names[512];

    NAME_SLOT &slot_of(const xmlChar *name)
    {
        NAME_SLOT &slot = names[(reinterpret_cast<uintptr_t>(name) >> 3) & 511];
        if (slot.name != name) {
            slot.name = name;
            slot.length = static_cast<int>(strlen(reinterpret_cast<const char *>(name)));
            slot.id = -1;
        }
        return slot;
    }
    int length_of(const xmlChar *name) { return slot_of(name).length; }

    bool stopped = false; // the handler (or a limit here) stopped the parse
    bool failed = false;  // libxml2 reported a fatal error
    int error_line = 0;
    int error_column = 0;
    QString error_message;
};

READER_STATE *state_of(void *context)
{
    return static_cast<READER_STATE *>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

// After a fatal error libxml2 still hands on character data in places (the rest of an
// attribute value or comment that was too long, say); nothing of it may reach the
// handler, which would report a fault of its own in place of the reader's.
bool ended(const READER_STATE *state) { return state->stopped || state->failed; }

[[gnu::cold, gnu::noinline]] void stop(READER_STATE *state)
{
    if (!state->stopped) {
        state->stopped = true;
        state->error_line = xmlSAX2GetLineNumber(state->context);
        state->error_column = xmlSAX2GetColumnNumber(state->context);
    }
    xmlStopParser(state->context);
}

void set_expansion_limit(READER_STATE *state)
{
    state->expansion_limit = std::max(EXPANSION_ALLOWANCE, MAX_EXPANSION * state->bytes_read);
}

[[gnu::cold, gnu::noinline]] void refuse_expansion(READER_STATE *state)
{
    elog.log(QStringLiteral("ERROR: entity references expand the document more than %1 times\n")
                 .arg(MAX_EXPANSION));
    stop(state);
}

// Counts what goes to the handler; false (and the parse stopped) when it has grown too
// far beyond the document.
inline bool within_expansion(READER_STATE *state, uint64_t bytes)
{
    state->bytes_handed_on += bytes;
    if (state->bytes_handed_on <= state->expansion_limit)
        return true;
    refuse_expansion(state);
    return false;
}

bool pass_text_on(READER_STATE *state)
{
    state->has_text = false;
    const bool go_on = state->handler->characters(state->text);
    state->text.clear();
    if (!go_on)
        stop(state);
    return go_on;
}

inline bool hand_over_text(READER_STATE *state) { return !state->has_text || pass_text_on(state); }

[[gnu::noinline]] XML_TEXT prefixed_name(READER_STATE *state, const xmlChar *local_name,
                                         const xmlChar *prefix)
{
    state->qname.assign(reinterpret_cast<const char *>(prefix));
    state->qname.push_back(':');
    state->qname.append(reinterpret_cast<const char *>(local_name));
    return {state->qname.data(), static_cast<int>(state->qname.size())};
}

inline XML_TEXT element_name(READER_STATE *state, const xmlChar *local_name, const xmlChar *prefix)
{
    if (prefix != nullptr)
        return prefixed_name(state, local_name, prefix);
    return {reinterpret_cast<const char *>(local_name), state->length_of(local_name)};
}

void on_start_document(void *context)
{
    xmlSAX2StartDocument(context);
    READER_STATE *state = state_of(context);
    if (!state->handler->startDocument())
        stop(state);
}

void on_end_document(void *context)
{
    xmlSAX2EndDocument(context);
    READER_STATE *state = state_of(context);
    if (!ended(state) && (!hand_over_text(state) || !state->handler->endDocument()))
        stop(state);
}

void on_start_element(void *context, const xmlChar *local_name, const xmlChar *prefix,
                      const xmlChar *, int, const xmlChar **, int nb_attributes, int nb_defaulted,
                      const xmlChar **attributes)
{
    READER_STATE *state = state_of(context);
    if (ended(state) || !hand_over_text(state))
        return;
    // Values that the document type only supplies by default are not the document's
    // own; like the reader's plain SAX2 use, they are left out.
    const int count = nb_attributes - nb_defaulted;
    if (state->attributes.size() < static_cast<size_t>(count))
        state->attributes.resize(static_cast<size_t>(count));
    // The handler's number for an unprefixed name is asked for once per parse; a prefixed
    // name is put together anew each time and looked up each time.
    XML_TEXT name;
    int id;
    if (prefix == nullptr) {
        READER_STATE::NAME_SLOT &slot = state->slot_of(local_name);
        if (slot.id < 0)
            slot.id = state->handler->element_id(
                {reinterpret_cast<const char *>(local_name), slot.length});
        name = {reinterpret_cast<const char *>(local_name), slot.length};
        id = slot.id;
    } else {
        name = prefixed_name(state, local_name, prefix);
        id = state->handler->element_id(name);
    }
    uint64_t size = ELEMENT_COST + static_cast<uint64_t>(name.size);
    for (int i = 0; i < count; ++i) {
        const xmlChar **a = attributes + 5 * i;
        const char *attribute_name = reinterpret_cast<const char *>(a[0]);
        const int value_size = static_cast<int>(a[4] - a[3]);
        state->attributes[static_cast<size_t>(i)] = {
            {attribute_name, state->length_of(a[0])},
            {reinterpret_cast<const char *>(a[3]), value_size}};
        size += static_cast<uint64_t>(value_size);
    }
    if (!within_expansion(state, size))
        return;
    if (!state->handler->startElement(name, id, state->attributes.data(), count))
        stop(state);
}

void on_end_element(void *context, const xmlChar *local_name, const xmlChar *prefix,
                    const xmlChar *)
{
    READER_STATE *state = state_of(context);
    if (ended(state) || !hand_over_text(state))
        return;
    if (!state->handler->endElement(element_name(state, local_name, prefix)))
        stop(state);
}

[[gnu::cold, gnu::noinline]] void refuse_long_text(READER_STATE *state)
{
    elog.log(QStringLiteral("ERROR: element text longer than %1 bytes\n").arg(MAX_TEXT_BYTES));
    stop(state);
}

void on_characters(void *context, const xmlChar *text, int length)
{
    READER_STATE *state = state_of(context);
    if (ended(state))
        return;
    if (static_cast<size_t>(state->text.size()) + static_cast<size_t>(length) > MAX_TEXT_BYTES) {
        refuse_long_text(state);
        return;
    }
    if (!within_expansion(state, static_cast<uint64_t>(length)))
        return;
    state->text.append(reinterpret_cast<const char *>(text), length);
    state->has_text = true;
}

void on_cdata(void *context, const xmlChar *text, int length)
{
    READER_STATE *state = state_of(context);
    if (ended(state) || !hand_over_text(state) ||
        !within_expansion(state, static_cast<uint64_t>(length)))
        return;
    // A CDATA section is a chunk of its own, even an empty one.
    if (!state->handler->characters({reinterpret_cast<const char *>(text), length}))
        stop(state);
}

// Comments and processing instructions end a run of text.
void on_comment(void *context, const xmlChar *)
{
    READER_STATE *state = state_of(context);
    if (!ended(state))
        hand_over_text(state);
}

void on_processing_instruction(void *context, const xmlChar *, const xmlChar *)
{
    on_comment(context, nullptr);
}

xmlEntityPtr on_get_entity(void *context, const xmlChar *name)
{
    READER_STATE *state = state_of(context);
    xmlEntityPtr entity = xmlSAX2GetEntity(context, name);
    if (entity == nullptr)
        entity = xmlGetPredefinedEntity(name);
    if (entity != nullptr && entity->etype != XML_EXTERNAL_GENERAL_PARSED_ENTITY &&
        entity->etype != XML_EXTERNAL_GENERAL_UNPARSED_ENTITY)
        return entity;
    // Nothing outside the document is ever read: a reference to an external entity is
    // treated like one to an undeclared entity, and both stop the parse.
    if (!ended(state) &&
        !state->handler->skippedEntity(QString::fromUtf8(reinterpret_cast<const char *>(name))))
        stop(state);
    return nullptr;
}

void on_error(void *context, xmlErrorPtr error)
{
    READER_STATE *state = state_of(context);
    if (error == nullptr || error->level != XML_ERR_FATAL || state->failed || state->stopped)
        return;
    state->failed = true;
    state->error_line = error->line;
    state->error_column = error->int2;
    // Some messages run over several lines ("Bytes: 0x.." after an encoding error); a log
    // line must stay one line.
    state->error_message = QString::fromUtf8(error->message).trimmed();
    state->error_message.replace(QLatin1Char('\n'), QStringLiteral("; "));
}

int read_input(void *context, char *buffer, int length)
{
    READER_STATE *state = static_cast<READER_STATE *>(context);
    if (state->block_used == state->block_size) {
        if (state->input_ended)
            return 0;
        const qint64 got =
            state->input->read(state->block.get(), std::min(state->read_size, state->block_room));
        if (state->bytes_read + static_cast<uint64_t>(got) >= 4 * uint64_t(state->read_size))
            state->read_size = std::min(2 * state->read_size, READ_BLOCK);
        if (got <= 0) {
            state->input_ended = true;
            if (got < 0) {
                state->input_failed = true;
                elog.log(QStringLiteral("ERROR: reading input failed: %1\n")
                             .arg(state->input->error_text()));
                return -1;
            }
            return 0;
        }
        state->block_used = 0;
        state->block_size = static_cast<int>(got);
        state->bytes_read += static_cast<uint64_t>(got);
        set_expansion_limit(state);
    }
    const int count = qMin(length, state->block_size - state->block_used);
    memcpy(buffer, state->block.get() + state->block_used, static_cast<size_t>(count));
    state->block_used += count;
    return count;
}

int close_input(void *) { return 0; }

// Anything the document points to outside itself (an external DTD or parameter entity)
// reads as empty: nothing but the input file itself ever reaches the parser.
xmlParserInputPtr load_nothing(const char *, const char *, xmlParserCtxtPtr context)
{
    return xmlNewStringInputStream(context, reinterpret_cast<const xmlChar *>(""));
}

void ignore_message(void *, const char *, ...) {}

void set_up_library_once()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    xmlInitParser();
    xmlSetExternalEntityLoader(load_nothing);
    xmlSetGenericErrorFunc(nullptr, ignore_message);
}

} // namespace

void set_up_xml_library() { set_up_library_once(); }

void prepare_xml_reader()
{
    set_up_library_once();
    // A first small document takes the library through its usual paths once: what it
    // sets up or looks up on first use is then inherited by every worker, instead of
    // being done again in each of them.
    QBuffer warm_up;
    warm_up.setData("<?xml version='1.0' encoding='UTF-8'?><!DOCTYPE a [<!ENTITY e 'x'>]>"
                    "<a b='c'>d&amp;&e;<![CDATA[e]]><!--f--><g:h xmlns:g='urn:g'/></a>");
    warm_up.open(QIODevice::ReadOnly);
    XMLInputHandler handler;
    read_with_libxml2(&warm_up, &handler);
}

bool read_with_libxml2(QIODevice *input, XMLInputHandler *handler)
{
    DEVICE_SOURCE source(input);
    return read_with_libxml2(source, handler);
}

bool read_with_libxml2(INPUT_SOURCE &input, XMLInputHandler *handler)
{
    set_up_library_once();

    xmlSAXHandler sax;
    memset(&sax, 0, sizeof sax);
    xmlSAXVersion(&sax, 2);
    sax.startDocument = on_start_document;
    sax.endDocument = on_end_document;
    sax.startElementNs = on_start_element;
    sax.endElementNs = on_end_element;
    sax.characters = on_characters;
    sax.ignorableWhitespace = on_characters;
    sax.cdataBlock = on_cdata;
    sax.comment = on_comment;
    sax.processingInstruction = on_processing_instruction;
    sax.getEntity = on_get_entity;
    sax.serror = on_error;
    sax.warning = nullptr;
    sax.error = nullptr;
    sax.fatalError = nullptr;

    READER_STATE state;
    state.handler = handler;
    set_expansion_limit(&state);
    state.input = &input;
    // No larger than the file: most input files are small.
    const qint64 file_size = input.size_hint();
    state.block_room =
        file_size > 0 && file_size < READ_BLOCK ? static_cast<int>(file_size) + 1 : READ_BLOCK;
    state.block.reset(new char[static_cast<size_t>(state.block_room)]);
    // A small document is read in one go: a compressed one then inflates in one call.
    if (file_size > 0 && file_size <= 2 * FIRST_READ)
        state.read_size = state.block_room;

    xmlParserCtxtPtr context = xmlCreateIOParserCtxt(&sax, nullptr, read_input, close_input, &state,
                                                     XML_CHAR_ENCODING_NONE);
    if (context == nullptr) {
        handler->fatalError(0, 0, QStringLiteral("XML parser could not be set up"));
        return false;
    }
    state.context = context;
    context->_private = &state;
    // Entities are replaced by their text, so that a value reads the same whichever way
    // the document writes it; the network is never used.
    xmlCtxtUseOptions(context, XML_PARSE_NOENT | XML_PARSE_NONET);

    xmlParseDocument(context);
    const bool well_formed = context->wellFormed != 0;
    // libxml2 takes a NUL byte after the root element for the end of the input and reads
    // no further: a file padded with zeros after a crash, or two documents joined by one,
    // would count as converted and be removed with the rest unread.
    if (well_formed && !state.stopped && !state.failed && context->input != nullptr &&
        context->input->cur < context->input->end) {
        state.failed = true;
        state.error_line = xmlSAX2GetLineNumber(context);
        state.error_column = xmlSAX2GetColumnNumber(context);
        state.error_message = QStringLiteral("Char 0x0 out of allowed range");
    }

    // Whatever libxml2 made of it, input that could not be read to its end is no
    // complete document.
    if (state.input_failed && !state.stopped && !state.failed) {
        state.failed = true;
        state.error_line = xmlSAX2GetLineNumber(context);
        state.error_column = xmlSAX2GetColumnNumber(context);
        state.error_message = QStringLiteral("the input could not be read to its end");
    }

    if (context->myDoc != nullptr)
        xmlFreeDoc(context->myDoc);
    context->myDoc = nullptr;
    xmlFreeParserCtxt(context);

    if (state.stopped) {
        handler->fatalError(state.error_line, state.error_column,
                            QStringLiteral("error triggered by consumer"));
        return false;
    }
    if (state.failed || !well_formed) {
        handler->fatalError(state.error_line, state.error_column,
                            state.failed ? state.error_message
                                         : QStringLiteral("document is not well-formed"));
        return false;
    }
    return true;
}
