// process_file.cpp - converts one input file: its time stamp, its record description,
// the XML parse and the removal of the input after a complete success.

#include "convert/process_file.h"

#include <memory>
#include <utility>
#include <vector>

#include <unistd.h>

#include <QRegExp>

#include "config/attribute.h"
#include "convert/input/file_time.h"
#include "convert/input/gzip_input.h"
#include "convert/input/input_file.h"
#include "convert/input/input_source.h"
#include "convert/output/output_files.h"
#include "convert/records/xml_handler.h"
#include "convert/xml/xml_reader.h"
#include "runtime/file_names.h"
#include "runtime/local_time.h"
#include "runtime/runtime.h"

XML_READER PROCESS_FILE::xml_reader = read_with_libxml2;

PROCESS_FILE::PROCESS_FILE() { elog.debug(3, "CALLED: PROCESS_FILE::PROCESS_FILE()\n"); }

namespace
{

// The file name patterns of the descriptions, compiled once: in the parent before the
// first worker starts (prepare_conversions), so that no worker compiles them again.
std::vector<std::pair<const ATTRIBUTE *, QRegExp>> file_name_patterns;

QRegExp &file_name_pattern(const ATTRIBUTE *inputfile)
{
    for (auto &[node, pattern] : file_name_patterns) {
        if (node == inputfile && pattern.pattern() == inputfile->name)
            return pattern;
    }
    file_name_patterns.emplace_back(inputfile,
                                    QRegExp(inputfile->name, Qt::CaseSensitive, QRegExp::RegExp));
    return file_name_patterns.back().second;
}

// What the parent works out for a file before it forks the file's worker: the description
// that takes it, the time its name gives and that time as the records write it. Done in
// the parent, it costs a few microseconds a file; done in a worker, the pattern matcher,
// the time zone code and the date formatter are code and memory the worker has to fault
// in afresh for every file.
struct PREPARED_FILE {
    QString name;
    ATTRIBUTE *description = nullptr;
    QDateTime time;
    QByteArray stamp; // null where the parent did not format one
    QString time_note; // how the time was read, where the zone's clocks make that doubtful
    qint8 match = 0;   // what find_current_inputfile() gives
    bool has_time = false;
};
// The facts are kept for a batch of files at a time, those of GL_param.input_files from
// prepared_from on. A list for every file would make each fork copy it; worked out right
// before each fork, a file would cost the parent the faults of the pages the matcher, the
// time zone code and the formatter write to, which each fork makes copy-on-write again.
// A batch costs them once.
constexpr int PREPARED_BATCH = 64;
std::vector<PREPARED_FILE> prepared_files;
int prepared_from = 0;
bool stamps_prepared = false;

// 0 and the description that takes the file; 22 when none does, 1 when the list holds
// something other than a description (the caller says so).
int match_description(const QString &file_name, ATTRIBUTE **found)
{
    for (ATTRIBUTE *node = GL_param.record_descriptions; node != nullptr; node = node->next) {
        if (node->type != tok::INPUTFILE)
            return 1;
        QRegExp &pattern = file_name_pattern(node);
        if (pattern.isValid() && pattern.indexIn(file_name, 0, QRegExp::CaretAtZero) >= 0) {
            *found = node;
            return 0;
        }
    }
    return 22;
}

// What the parent prepared for the file this worker was forked for; null for any other.
const PREPARED_FILE *prepared(const QString &file_name)
{
    const int at = GL_param.file_index - prepared_from;
    if (at < 0 || at >= int(prepared_files.size()) || prepared_files[size_t(at)].name != file_name)
        return nullptr;
    return &prepared_files[size_t(at)];
}

// The facts of the files from `first` on, as many as a batch holds.
void prepare_batch(int first)
{
    const FILE_LIST &names = GL_param.input_files;
    prepared_files.clear();
    prepared_from = first;
    for (int i = first; i < names.size() && i < first + PREPARED_BATCH; ++i) {
        PREPARED_FILE &file = prepared_files.emplace_back();
        file.name = names.at(i);
        file.match = qint8(match_description(file.name, &file.description));
        file.has_time = file_time_from_name(file.name, &file.time, &file.time_note);
        // A name without a time gets the time of its conversion: its stamp waits for it.
        if (file.has_time && stamps_prepared)
            file.stamp = file_stamp_text(file.time);
    }
}

} // namespace

void prepare_conversions()
{
    for (ATTRIBUTE *node = GL_param.record_descriptions; node != nullptr; node = node->next) {
        if (node->type == tok::INPUTFILE)
            file_name_pattern(node);
    }
    prepare_gzip_input();
    prepare_xml_reader();

    stamps_prepared = ATTRIBUTE::find(GL_param.record_descriptions, tok::UTC_FILESTAMP) != nullptr;
    prepared_files.reserve(PREPARED_BATCH);
    prepare_batch(0);
}

const QString &prepare_file(int index)
{
    if (index < prepared_from || index >= prepared_from + int(prepared_files.size()))
        prepare_batch(index);
    return prepared_files[size_t(index - prepared_from)].name;
}

namespace
{

// The output is published: at debug level 0 the input file goes (and *input is closed),
// then the record of the publication.
int finish_input(const QString &input_path, const QString &file_name, int *input)
{
    int result = 0;
    if (GL_param.debug_level == 0) {
        const int removed = remove_input_file(input_path, file_name, *input);
        *input = -1;
        if (removed != 0) {
            elog.log(QStringLiteral("ERROR: could not delete file %1\n")
                         .arg(printable_name(input_path + QLatin1Char('/') + file_name)));
            result = 1;
        }
    }
    publication_done();
    return result;
}

} // namespace

int PROCESS_FILE::find_current_inputfile(QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::set_current_measurement()\n");
    ATTRIBUTE *found = nullptr;
    int result;
    if (const PREPARED_FILE *known = prepared(file_name)) {
        result = known->match;
        found = known->description;
    } else {
        result = match_description(file_name, &found);
    }
    if (result == 1)
        elog.log("ERROR: expected token INPUTFILE\n");
    if (result == 0)
        GL_param.current_description = found;
    return result;
}

int PROCESS_FILE::start(QString input_path, QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::start()\n");
    const QString path = input_path + QLatin1Char('/') + file_name;

    // Read as bytes: the reader detects the encoding itself, and a text-mode device
    // would drop CR bytes, which may be part of a UTF-16 character. A file that cannot
    // be read fails here, before any output file claims to hold its records.
    int input = -1;
    if (open_input_file(input_path, file_name, &input) != 0)
        return 1;
    struct CLOSED_AT_RETURN {
        int &fd;
        ~CLOSED_AT_RETURN()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } closed_at_return{input};

    GL_param.input_name = input_name_for_output(file_name);
    const PREPARED_FILE *known = prepared(file_name);
    QString time_note;
    bool has_time;
    if (known != nullptr) {
        has_time = known->has_time;
        if (has_time) {
            GL_param.file_time = known->time;
            time_note = known->time_note;
        }
    } else {
        has_time = file_time_from_name(file_name, &GL_param.file_time, &time_note);
    }
    if (!has_time && !GL_param.file_time_utc()) {
        elog.log("WARNING: could not extract date/time from input file name - using current "
                 "time\n");
        elog.log("INFO: input file extensions is not \"_yyyyMMdd_hhmm.xml\"\n");
        // On the clocks of TIME_ZONE where the configuration names one.
        GL_param.file_time = GL_param.time_zone.isValid()
                                 ? zone_time(QDateTime::currentMSecsSinceEpoch())
                                 : QDateTime::currentDateTime();
        has_time = true;
    }
    if (!time_note.isNull())
        elog.log(QStringLiteral("WARNING: in the name of %1, %2\n")
                     .arg(printable_name(path), time_note));

    int result = find_current_inputfile(file_name);
    if (result != 0) {
        elog.log(QStringLiteral("ERROR: no matching record description for ") +
                 printable_name(path) + QLatin1Char('\n'));
        elog.log("ERROR: file cannot be processed\n");
        return result;
    }
    // The time of the conversion would stand in every record as if it were the time
    // measured: a name without a time fails the file rather than put a wrong time into a
    // table that counts on it.
    if (!has_time) {
        elog.log(QStringLiteral("ERROR: no date and time in the name of %1, which FILE_TIME UTC "
                                "needs: file cannot be processed\n")
                     .arg(printable_name(path)));
        return 1;
    }

    output_files_for_input(input, publication_record_path(input_path, file_name));
    if (finish_interrupted_publication())
        return finish_input(input_path, file_name, &input);

    result = open_output_files(GL_param.current_description);
    if (result != 0) {
        elog.log("ERROR: could not open output files\n");
        return result;
    }

    // Compressed files are known by their first bytes, not by their names.
    std::unique_ptr<GZIP_INPUT> unpacked;
    FILE_SOURCE plain(input);
    INPUT_SOURCE *source = &plain;
    if (holds_gzip(input)) {
        unpacked.reset(new GZIP_INPUT(input, printable_name(path)));
        source = unpacked.get();
    }
    bool parsed;
    {
        XMLInputHandler handler;
        // Taken where it lies: a copy would write to the page of the parent's string.
        if (known != nullptr && !known->stamp.isNull())
            handler.use_file_stamp(&known->stamp);
        parsed = xml_reader(*source, &handler);
    }
    // The parser may stop reading right after the root element, before the check at the
    // end of the last member: what is left is read too, or a corrupt file would pass.
    if (parsed && unpacked != nullptr && !unpacked->read_to_end()) {
        elog.log(QStringLiteral("ERROR: reading input failed: %1\n").arg(unpacked->error_text()));
        parsed = false;
    }
    if (!parsed) {
        elog.log("ERROR: parsing unsuccessful\n");
        ::abandon_output_files(GL_param.current_description);
        return 1;
    }
    elog.log("INFO: parsing successful\n");

    result = close_output_files(GL_param.current_description);
    if (result != 0) {
        elog.log("ERROR: could not close output files\n");
        return result;
    }

    return finish_input(input_path, file_name, &input);
}

int PROCESS_FILE::open_output_files(ATTRIBUTE *inputfile) { return ::open_output_files(inputfile); }

int PROCESS_FILE::close_output_files(ATTRIBUTE *inputfile)
{
    return ::close_output_files(inputfile);
}
