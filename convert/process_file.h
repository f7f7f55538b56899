// process_file.h - the conversion of one input file.

#ifndef CORVANE_PROCESS_FILE_H
#define CORVANE_PROCESS_FILE_H

#include <QDateTime>
#include <QString>

class ATTRIBUTE;
class QIODevice;
class XMLInputHandler;

class PROCESS_FILE
{
public:
    PROCESS_FILE();

    int start(QString input_path, QString file_name);
    int find_current_inputfile(QString file_name);
    int open_output_files(ATTRIBUTE *inputfile);
    int close_output_files(ATTRIBUTE *inputfile);

    // After a failed parse: writes out what the streams hold and closes the files, so
    // that the records written so far end with a complete line.
    void abandon_output_files(ATTRIBUTE *inputfile);

    // The XML reader every conversion uses; tests compare others against it.
    static bool (*xml_reader)(QIODevice *input, XMLInputHandler *handler);
};

// Compiles what every conversion needs (file name patterns, the time expression) and
// sets the XML reader up; called in the parent, before any worker is forked.
void prepare_conversions();

// The measurement time carried in an input file name: the last "_yyyyMMdd_hhmm" group.
// Returns false when the name carries none.
bool file_time_from_name(const QString &file_name, QDateTime *file_time);

// The output file name: file time, granularity letter, measurement name and tag put into
// the mask one after the other, each into the lowest-numbered marker still present.
QString output_file_name(const QString &mask, const QDateTime &file_time, int granularity,
                         const QString &measurement, const QString &tag);

#endif
