// process_file.h - the conversion of one input file.

#ifndef CORVANE_PROCESS_FILE_H
#define CORVANE_PROCESS_FILE_H

#include <QString>

class ATTRIBUTE;
class INPUT_SOURCE;
class XMLInputHandler;

class PROCESS_FILE
{
public:
    PROCESS_FILE();

    int start(QString input_path, QString file_name);
    int find_current_inputfile(QString file_name);
    int open_output_files(ATTRIBUTE *inputfile);
    int close_output_files(ATTRIBUTE *inputfile);

    // The XML reader every conversion uses; tests compare others against it.
    static bool (*xml_reader)(INPUT_SOURCE &input, XMLInputHandler *handler);
};

// Compiles the file name patterns, sets the XML reader up and works out, for the first
// files of GL_param.input_files, the description that takes each, the time its name gives
// and the stamp of that time; called in the parent, before any worker is forked. A worker
// takes these for the file at GL_param.file_index.
void prepare_conversions();

// The name of the file at `index` of GL_param.input_files, with its facts worked out (for
// it and the files after it, a batch at a time) unless they are; called in the parent
// right before it forks the file's worker.
const QString &prepare_file(int index);

#endif
