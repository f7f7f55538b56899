// event_reader.cpp - libxml2's SAX2 interface behind XML_EVENTS.

#include "convert/xml/event_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <QFile>

#include "convert/input/gzip_input.h"
#include "convert/input/input_source.h"
#include "convert/xml/xml_reader.h"
#include "runtime/file_names.h"

namespace
{

struct EVENT_STATE {
    XML_EVENTS *events = nullptr;
    INPUT_SOURCE *input = nullptr;
    xmlParserCtxtPtr context = nullptr;
    std::string qname;
    std::vector<XML_ATTRIBUTE> attributes;
    bool in_piece = false; // text has been handed on since the last piece ended
    bool finished = false; // the receiver needs no more
    bool failed = false;
    QString error;
};

EVENT_STATE *state_of(void *context)
{
    return static_cast<EVENT_STATE *>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

void fail(EVENT_STATE *state, const QString &why, int line)
{
    if (state->failed)
        return;
    state->failed = true;
    state->error = line > 0 ? QStringLiteral("%1 (line %2)").arg(why).arg(line) : why;
    xmlStopParser(state->context);
}

void on_start_element(void *context, const xmlChar *local_name, const xmlChar *prefix,
                      const xmlChar *, int, const xmlChar **, int nb_attributes, int nb_defaulted,
                      const xmlChar **attributes)
{
    EVENT_STATE *state = state_of(context);
    if (state->failed)
        return;
    state->in_piece = false;
    const char *local = reinterpret_cast<const char *>(local_name);
    state->qname.clear();
    if (prefix != nullptr) {
        state->qname.append(reinterpret_cast<const char *>(prefix));
        state->qname.push_back(':');
    }
    state->qname.append(local);
    // As for the conversion: values the document type only supplies by default are not
    // the document's own.
    const int count = nb_attributes - nb_defaulted;
    state->attributes.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const xmlChar **a = attributes + 5 * i;
        const char *name = reinterpret_cast<const char *>(a[0]);
        state->attributes[static_cast<size_t>(i)] = {
            {name, static_cast<int>(strlen(name))},
            {reinterpret_cast<const char *>(a[3]), static_cast<int>(a[4] - a[3])}};
    }
    state->events->start(state->qname, local, state->attributes.data(), count);
}

void on_end_element(void *context, const xmlChar *local_name, const xmlChar *prefix,
                    const xmlChar *)
{
    EVENT_STATE *state = state_of(context);
    if (state->failed)
        return;
    state->in_piece = false;
    state->qname.clear();
    if (prefix != nullptr) {
        state->qname.append(reinterpret_cast<const char *>(prefix));
        state->qname.push_back(':');
    }
    state->qname.append(reinterpret_cast<const char *>(local_name));
    state->events->end(state->qname);
    if (state->events->finished()) {
        state->finished = true;
        state->failed = true; // nothing more is handed on
        xmlStopParser(state->context);
    }
}

void on_characters(void *context, const xmlChar *text, int length)
{
    EVENT_STATE *state = state_of(context);
    if (state->failed)
        return;
    state->events->text(
        std::string_view(reinterpret_cast<const char *>(text), static_cast<size_t>(length)),
        state->in_piece);
    state->in_piece = true;
}

void on_cdata(void *context, const xmlChar *text, int length)
{
    EVENT_STATE *state = state_of(context);
    if (state->failed)
        return;
    state->events->text(
        std::string_view(reinterpret_cast<const char *>(text), static_cast<size_t>(length)), false);
    state->in_piece = false;
}

void on_comment(void *context, const xmlChar *) { state_of(context)->in_piece = false; }

void on_processing_instruction(void *context, const xmlChar *, const xmlChar *)
{
    state_of(context)->in_piece = false;
}

xmlEntityPtr on_get_entity(void *context, const xmlChar *name)
{
    EVENT_STATE *state = state_of(context);
    xmlEntityPtr entity = xmlSAX2GetEntity(context, name);
    if (entity == nullptr)
        entity = xmlGetPredefinedEntity(name);
    if (entity != nullptr && entity->etype != XML_EXTERNAL_GENERAL_PARSED_ENTITY &&
        entity->etype != XML_EXTERNAL_GENERAL_UNPARSED_ENTITY)
        return entity;
    fail(state,
         QStringLiteral("reference to undeclared or external entity &%1;")
             .arg(QString::fromUtf8(reinterpret_cast<const char *>(name))),
         xmlSAX2GetLineNumber(context));
    return nullptr;
}

void on_error(void *context, xmlErrorPtr error)
{
    if (error == nullptr || error->level != XML_ERR_FATAL)
        return;
    EVENT_STATE *state = state_of(context);
    QString message = QString::fromUtf8(error->message).trimmed();
    message.replace(QLatin1Char('\n'), QStringLiteral("; "));
    fail(state, message, error->line);
}

int read_input(void *context, char *buffer, int length)
{
    EVENT_STATE *state = static_cast<EVENT_STATE *>(context);
    const qint64 got = state->input->read(buffer, length);
    if (got < 0 && !state->failed) {
        state->failed = true;
        state->error = QStringLiteral("reading failed: %1").arg(state->input->error_text());
    }
    return static_cast<int>(got);
}

int close_input(void *) { return 0; }

} // namespace

bool read_xml_events(INPUT_SOURCE &input, XML_EVENTS *events, QString *error)
{
    set_up_xml_library();
    xmlSAXHandler sax;
    memset(&sax, 0, sizeof sax);
    xmlSAXVersion(&sax, 2);
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

    EVENT_STATE state;
    state.events = events;
    state.input = &input;
    xmlParserCtxtPtr context = xmlCreateIOParserCtxt(&sax, nullptr, read_input, close_input, &state,
                                                     XML_CHAR_ENCODING_NONE);
    if (context == nullptr) {
        *error = QStringLiteral("the XML parser could not be set up");
        return false;
    }
    state.context = context;
    context->_private = &state;
    xmlCtxtUseOptions(context, XML_PARSE_NOENT | XML_PARSE_NONET);
    xmlParseDocument(context);
    const bool well_formed = context->wellFormed != 0;
    // As the conversion does: a NUL byte after the root element is not the end of the
    // input.
    if (well_formed && !state.failed && context->input != nullptr &&
        context->input->cur < context->input->end)
        fail(&state, QStringLiteral("Char 0x0 out of allowed range"),
             xmlSAX2GetLineNumber(context));
    if (!well_formed && !state.failed) {
        state.failed = true;
        state.error = QStringLiteral("not well-formed");
    }
    if (context->myDoc != nullptr)
        xmlFreeDoc(context->myDoc);
    context->myDoc = nullptr;
    xmlFreeParserCtxt(context);
    if (state.finished)
        return true;
    if (state.failed)
        *error = state.error;
    return !state.failed;
}

bool read_xml_file_events(const QString &path, XML_EVENTS *events, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot be opened: %1").arg(system_reason(errno));
        return false;
    }
    bool read;
    if (holds_gzip(fd)) {
        GZIP_INPUT input(fd, printable_name(path));
        read = read_xml_events(input, events, error);
        if (read && !input.read_to_end()) {
            *error = input.error_text();
            read = false;
        }
    } else {
        FILE_SOURCE input(fd);
        read = read_xml_events(input, events, error);
    }
    ::close(fd);
    return read;
}
