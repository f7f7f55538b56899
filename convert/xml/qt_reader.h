// qt_reader.h - Qt's QXmlSimpleReader as an XML reader for XMLInputHandler.

#ifndef CORVANE_QT_READER_H
#define CORVANE_QT_READER_H

class INPUT_SOURCE;
class XMLInputHandler;

bool read_with_qt(INPUT_SOURCE &input, XMLInputHandler *handler);

#endif
