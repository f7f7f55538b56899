// gl_param.cpp - defaults, the command line and the parameter listing.

#include "runtime/runtime.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

const char *const VERSION_BANNER = "    corvane - fast flexible data converter\n"
                                   "    Version 0.8.1\n"
                                   "    CVS: $Revision: 1.6 $\n"
                                   "    CVS: $Date: 2011/11/10 13:43:27 $\n"
                                   "    Made in Germany";

namespace
{

void print_usage()
{
    puts("corvane Syntax:");
    puts("corvane -v  print version number");
    puts("corvane -h  print this short reminder");
    puts("corvane -c  <configuration file> - load configuration file");
    puts("corvane -t  <number of processes> - defines number of subprocesses running in parallel");
    puts("corvane -i  <path to the input directory> - where to find input files");
    puts("corvane -o  <path to the output directory> - where to store output files");
    puts("corvane [-d <debug level>] the <debug level varies from 0 (off) to 5 (very noisy)\n");
    puts("corvane example:");
    puts("corvane -c /opt/corvane/corvane.conf");
    puts("corvane -e  <error directory> - where input files that fail are moved (their output is "
         "removed)");
    puts("corvane -a  <seconds> - minimum age: input files modified less than this before the "
         "start wait for a later run");
    puts("corvane -n  check the configuration and show what would be done (with -i: for each "
         "input file), convert nothing");
    puts("corvane -p  show the progress on standard output while files are converted");
    puts("corvane -m  <metrics file> - write the run's figures there at its end, in the "
         "Prometheus text format (for the node exporter's textfile collector)");
    puts("corvane -g  <sample file>... - write a configuration for files like them to standard "
         "output, proven on them (no -c, -i or -o needed)");
}

[[noreturn]] void refuse(const char *reason)
{
    elog.log(reason);
    elog.log("ERROR: aborting program\n");
    exit(4);
}

// -t and -a take plain decimal numbers from lowest to highest; anything with other
// characters is refused rather than read up to the first non-digit, and so is a number
// out of range before it could overflow.
bool read_number(const char *text, qint64 lowest, qint64 highest, qint64 *number)
{
    if (*text == '\0')
        return false;
    qint64 value = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value > highest)
            return false;
    }
    if (value < lowest)
        return false;
    *number = value;
    return true;
}

// More than a century of minimum age is a mistake.
constexpr qint64 MAX_MIN_AGE = 100LL * 366 * 24 * 3600;

} // namespace

GL_PARAM::GL_PARAM()
    : debug_level(0), mypid(getpid()), output_path(DEFAULT_OUTPUT_PATH),
      input_path(DEFAULT_INPUT_PATH), file_time(QDateTime::currentDateTime()),
      configuration_file(DEFAULT_CONFIG_FILE), record_descriptions(nullptr),
      current_description(nullptr), config_line(0), parallel_processes(1), processes_started(0),
      processes_running(0), processes_succeeded(0), processes_failed(0), file_index(-1),
      file_mask(DEFAULT_FILE_MASK), time_format(DEFAULT_TIME_FORMAT),
      column_separator(DEFAULT_COLUMN_SEPARATOR), max_header_size(30),
      missing_values(MISSING_VALUES_NOT_GIVEN), file_time_mode(FILE_TIME_NOT_GIVEN), min_age(-1),
      check_only(false), progress(false), input_path_given(false), generate(false)
{
}

int GL_PARAM::parse_options(int argc, char **argv)
{
    // "+" keeps glibc from permuting the arguments: scanning stops at the first
    // argument that is not an option, as POSIX getopt does.
    optind = 1;
    int option;
    while ((option = getopt(argc, argv, "+vhd:c:t:i:o:e:a:npm:g")) != -1) {
        switch (option) {
        case 'v':
            puts(VERSION_BANNER);
            exit(0);
        case 'h':
            puts(VERSION_BANNER);
            print_usage();
            exit(0);
        case 'd': {
            // Read as wide as possible so that a huge value cannot wrap into the range.
            long long level = -1;
            if (sscanf(optarg, "%lli", &level) != 1 || static_cast<unsigned long long>(level) > 5)
                refuse("ERROR: debug level must be between 0=off (default) and 5 (extrem "
                       "noisy)\n");
            debug_level = static_cast<int>(level);
            break;
        }
        case 'c':
            configuration_file = QString::fromLocal8Bit(optarg);
            break;
        case 't': {
            qint64 count = 0;
            if (!read_number(optarg, 1, MAX_PARALLEL_PROCESSES, &count))
                refuse("ERROR: number of parallel processes must be between 1 and 20\n");
            parallel_processes = static_cast<int>(count);
            break;
        }
        case 'i':
            input_path = QString::fromLocal8Bit(optarg) + QLatin1Char('/');
            input_path_given = true;
            break;
        case 'o':
            output_path = QString::fromLocal8Bit(optarg) + QLatin1Char('/');
            break;
        case 'e':
            if (*optarg == '\0')
                refuse("ERROR: the error directory must not be empty\n");
            error_path = QString::fromLocal8Bit(optarg);
            break;
        case 'a':
            if (!read_number(optarg, 0, MAX_MIN_AGE, &min_age))
                refuse("ERROR: minimum age must be a whole number of seconds from 0 up\n");
            break;
        case 'n':
            check_only = true;
            break;
        case 'p':
            progress = true;
            break;
        case 'g':
            generate = true;
            break;
        case 'm':
            if (*optarg == '\0')
                refuse("ERROR: the metrics file must not be empty\n");
            metrics_file = QString::fromLocal8Bit(optarg);
            break;
        default:
            elog.log("ERROR: not expected option found in argument list\n");
            elog.log("HINT: see\n  Option -h\nto get some help\n\n");
            exit(4);
        }
    }
    // With -g the arguments after the options are the sample files; otherwise they are
    // not read.
    if (generate) {
        for (int i = optind; i < argc; ++i)
            sample_files.append(QString::fromLocal8Bit(argv[i]));
    }
    return 0;
}

void GL_PARAM::dump()
{
    elog.debug(3, "CALLED: GL_PARAM::debug()\n");
    elog.log(QString::fromLatin1(VERSION_BANNER) + QLatin1Char('\n'));
    elog.log(QStringLiteral("INFO: debug_level: %1\n").arg(debug_level));
    elog.log(QStringLiteral("INFO: mypid: %1\n").arg(mypid));
    elog.log(QStringLiteral("INFO: parallel processes: %1\n").arg(parallel_processes));
    elog.log(QStringLiteral("INFO: configuration file: ") + configuration_file + QLatin1Char('\n'));
    elog.log(QStringLiteral("INFO: output_path: <") + output_path + QStringLiteral(">\n"));
    elog.log(QStringLiteral("INFO: input_path: <") + input_path + QStringLiteral(">\n"));
    elog.log(QStringLiteral("INFO: file mask: <") + file_mask + QStringLiteral(">\n"));
    elog.log(QStringLiteral("INFO: time format: <") + time_format + QStringLiteral(">\n"));
    elog.log(QStringLiteral("INFO: column separator: <") + column_separator +
             QStringLiteral(">\n"));
    elog.log(QStringLiteral("INFO: max header size: <%1>\n").arg(max_header_size));
    // Shown only when given, so that the listing of a run without them stays as it was.
    if (missing_values != MISSING_VALUES_NOT_GIVEN)
        elog.log(QStringLiteral("INFO: missing values: <%1>\n")
                     .arg(missing_values == MISSING_VALUES_EMPTY ? QStringLiteral("EMPTY")
                                                                 : QStringLiteral("REPEAT")));
    if (!time_zone_name.isEmpty())
        elog.log(QStringLiteral("INFO: time zone: <") + time_zone_name + QStringLiteral(">\n"));
    if (file_time_mode != FILE_TIME_NOT_GIVEN)
        elog.log(QStringLiteral("INFO: file time: <%1>\n")
                     .arg(file_time_utc() ? QStringLiteral("UTC") : QStringLiteral("LOCAL")));
    if (!error_path.isEmpty())
        elog.log(QStringLiteral("INFO: error directory: <") + error_path + QStringLiteral(">\n"));
    if (min_age >= 0)
        elog.log(QStringLiteral("INFO: minimum age: <%1> seconds\n").arg(min_age));
    if (!metrics_file.isEmpty())
        elog.log(QStringLiteral("INFO: metrics file: <") + metrics_file + QStringLiteral(">\n"));
}
