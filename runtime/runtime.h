// runtime.h - the event log, the global parameters and the shared constants.
//
// Every part of the program includes this header. The three groups of globals are
// defined together in globals.cpp so that they are constructed in a fixed order:
// constants, then the event log, then the parameters.

#ifndef CORVANE_RUNTIME_H
#define CORVANE_RUNTIME_H

#include <sys/types.h>

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QTimeZone>

#include "runtime/file_list.h"

class ATTRIBUTE;

extern const QString DEFAULT_CONFIG_FILE;
extern const QString DEFAULT_INPUT_PATH;
extern const QString DEFAULT_OUTPUT_PATH;
extern const QString RX_INPUT_FILE_DATE;
extern const QString INPUT_DATE_STRING;
extern const QString INPUT_TIME_STRING;
extern const QString DEFAULT_TIME_FORMAT;
extern const QString FILENAME_PMS_DATEFORMAT;
extern const QString DEFAULT_FILE_MASK;
extern const QString DEFAULT_COLUMN_SEPARATOR;
extern const QString DEFAULT_RECORD_SEPARATOR;
extern const QString CONST_NOT_AVAILABLE;

// The largest number of worker processes that may run at once.
constexpr int MAX_PARALLEL_PROCESSES = 20;

// The event log: one time-stamped line per message on standard error.
class ELOG
{
public:
    ELOG();
    ~ELOG();

    void log(const QString &message);
    void log(const char *message);
    void debug(int level, const char *message);
    void debug(int level, const QString &message);
};

// MISSING_VALUES of the configuration: whether a value of an element belongs to that
// element (EMPTY) or stays until it is captured again (REPEAT). Not given, it is REPEAT.
enum MISSING_VALUES_MODE { MISSING_VALUES_NOT_GIVEN, MISSING_VALUES_REPEAT, MISSING_VALUES_EMPTY };

// FILE_TIME of the configuration: the file time as the digits of the name read (LOCAL),
// or the UTC instant they stand for (UTC). Not given, it is LOCAL.
enum FILE_TIME_MODE { FILE_TIME_NOT_GIVEN, FILE_TIME_LOCAL, FILE_TIME_UTC };

// All settings of a run and the run state of the parent process.
class GL_PARAM
{
public:
    GL_PARAM();

    int parse_options(int argc, char **argv);
    int read_configuration_file();
    void dump();

    int debug_level;
    pid_t mypid;
    QString output_path;
    QString input_path;
    QDateTime file_time;
    QString input_name; // the converted file's name as output names carry it
    QString configuration_file;
    QString file_tag;
    ATTRIBUTE *record_descriptions;
    ATTRIBUTE *current_description;
    int config_line;
    int parallel_processes;
    int processes_started;
    int processes_running;
    int processes_succeeded;
    int processes_failed;
    FILE_LIST input_files;
    int file_index;
    QString file_mask;
    QString time_format;
    QString column_separator;
    int max_header_size;
    MISSING_VALUES_MODE missing_values;
    QString time_zone_name; // TIME_ZONE: the zone of times without an offset; empty: the
    QTimeZone time_zone;    // process's own zone. The zone, valid when the name is given.
    FILE_TIME_MODE file_time_mode;
    bool file_time_utc() const { return file_time_mode == FILE_TIME_UTC; }
    // Settings beyond the configuration file, from the command line only.
    QString error_path;    // -e: where input files that failed are moved; empty: they stay
    qint64 min_age;        // -a: seconds an input file must be old; -1: any age
    bool check_only;       // -n: check the configuration and show the plan, convert nothing
    bool progress;         // -p: a progress line on standard output
    bool input_path_given; // -i was given
    QString metrics_file;  // -m: the run's figures are written there at its end; empty: none
    bool generate;           // -g: write a configuration for the sample files, convert nothing
    QStringList sample_files; // -g: the arguments after the options
};

extern ELOG elog;
extern GL_PARAM GL_param;

// The version banner, as -v prints it (without the final line feed).
extern const char *const VERSION_BANNER;

#endif
