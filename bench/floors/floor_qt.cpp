// floor_qt.cpp - parses XML files with QXmlSimpleReader, the reader corvane uses, through
// a handler whose callbacks do nothing: the cost of the reader alone.
//
//   floor_qt <file>...          exit status 0 when every file is well-formed

#include <cstdio>

#include <QFile>
#include <QXmlDefaultHandler>
#include <QXmlInputSource>
#include <QXmlSimpleReader>

namespace
{

class NoOpHandler : public QXmlDefaultHandler
{
public:
    bool startElement(const QString &, const QString &, const QString &,
                      const QXmlAttributes &) override
    {
        return true;
    }
    bool endElement(const QString &, const QString &, const QString &) override { return true; }
    bool characters(const QString &) override { return true; }
    bool fatalError(const QXmlParseException &exception) override
    {
        fprintf(stderr, "floor_qt: line %d: %s\n", exception.lineNumber(),
                exception.message().toLocal8Bit().constData());
        return false;
    }
};

int parse_file(const char *path)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        fprintf(stderr, "floor_qt: cannot open %s\n", path);
        return 1;
    }
    QXmlInputSource source(&file);
    QXmlSimpleReader reader;
    NoOpHandler handler;
    reader.setContentHandler(&handler);
    reader.setErrorHandler(&handler);
    return reader.parse(&source) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    int status = 0;
    for (int i = 1; i < argc; ++i)
        status |= parse_file(argv[i]);
    return status;
}
