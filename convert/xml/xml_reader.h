// xml_reader.h - the XML readers that drive an XMLInputHandler over one document.

#ifndef CORVANE_XML_READER_H
#define CORVANE_XML_READER_H

class INPUT_SOURCE;
class QIODevice;
class XMLInputHandler;

// Reads the whole document from input and calls the handler for every event. Returns
// false when the document is not well-formed, the input could not be read to its end or
// the handler stopped the parse; the handler has then been told why through fatalError.
using XML_READER = bool (*)(INPUT_SOURCE &input, XMLInputHandler *handler);

// The reader corvane uses: libxml2's SAX2 interface.
bool read_with_libxml2(INPUT_SOURCE &input, XMLInputHandler *handler);
// The same for a device (an unopened one reads as empty).
bool read_with_libxml2(QIODevice *input, XMLInputHandler *handler);

// Sets the XML library up for every reader of the program: nothing outside a document
// (an external DTD or entity) is ever read, and the library's own messages stay quiet.
void set_up_xml_library();

// Sets the XML library up; done by the first read otherwise. The pool calls it before
// it starts workers, so that they do not each do it again.
void prepare_xml_reader();

#endif
