// xml_fuzz.cpp - libFuzzer target: arbitrary bytes as one input document, converted under
// a fixed record description (xml_fuzz_support.h) into real output files.
//
// Each input goes through what a worker does with a file, short of the process around
// it: the output files are created, the libxml2 reader drives the handler, and the files
// are completed (or, after a failed parse, closed as they are). Every input must convert
// or fail without a crash, a leak, a hang or a sanitizer report, and the files it leaves
// must pass xml_fuzz_output_fault. They are removed before the next input.
//
//   cmake -S . -B build-fuzz -DCORVANE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
//         -DCMAKE_C_COMPILER=clang && cmake --build build-fuzz --target xml_fuzz
//   build-fuzz/xml_fuzz -close_fd_mask=2 -dict=fuzz/xml.dict <work dir> fuzz/corpus/xml

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "config/attribute.h"
#include "config/loader.h"
#include "convert/input/file_time.h"
#include "convert/output/output_files.h"
#include "convert/process_file.h"
#include "convert/records/xml_handler.h"
#include "convert/xml/xml_reader.h"
#include "fuzz/xml_fuzz_support.h"
#include "runtime/runtime.h"

namespace
{

QTemporaryDir *scratch;
QByteArray scratch_name;
QByteArray start_directory;

// Relative system identifiers are looked up in the working directory, so the conversion
// runs in the one that holds the secret files; libFuzzer's own relative paths (the corpus,
// crash files) need the directory it was started in.
void enter(const QByteArray &directory)
{
    if (chdir(directory.constData()) != 0)
        abort();
}

[[noreturn]] void fail(const char *what, const QString &detail = QString())
{
    enter(start_directory);
    fprintf(stdout, "%s %s\n", what, detail.toLocal8Bit().constData());
    fflush(stdout);
    abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A zone with daylight saving, so that the local-time conversions meet gaps and
    // repeated hours.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();

    scratch = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/corvane-xml-fuzz-XXXXXX"));
    if (!scratch->isValid() || !QDir(scratch->path()).mkdir(QStringLiteral("out")))
        fail("no scratch directory");
    // libFuzzer ends a finished run with exit(), which leaves global pointers alone.
    atexit([] { delete scratch; });
    scratch_name = QFile::encodeName(scratch->path());
    start_directory = QFile::encodeName(QDir::currentPath());
    if (!xml_fuzz_write_secret(scratch->path()))
        fail("cannot write the secret files");

    FILE *stream =
        fmemopen(const_cast<char *>(XML_FUZZ_CONFIGURATION), strlen(XML_FUZZ_CONFIGURATION), "rb");
    if (stream == nullptr || parse_configuration_stream(stream) != 0)
        fail("the fixed configuration does not load");
    fclose(stream);

    GL_param.output_path = scratch->path() + QStringLiteral("/out");
    // Above 0 the output files are not synced: thousands of inputs a second would wait
    // for the disk.
    GL_param.debug_level = 1;
    const QString name = QString::fromLatin1(XML_FUZZ_INPUT_NAME);
    if (!file_time_from_name(name, &GL_param.file_time) ||
        PROCESS_FILE().find_current_inputfile(name) != 0)
        fail("the fixed input name is not taken");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ATTRIBUTE *description = GL_param.current_description;
    PROCESS_FILE process;
    if (process.open_output_files(description) != 0)
        fail("output files not opened");

    QBuffer input;
    input.setData(reinterpret_cast<const char *>(data), static_cast<int>(size));
    input.open(QIODevice::ReadOnly);
    bool parsed;
    bool left_open;
    enter(scratch_name);
    {
        XMLInputHandler handler;
        parsed = read_with_libxml2(&input, &handler);
        left_open = !handler.hierarchy.empty();
    }
    enter(start_directory);
    if (parsed && left_open)
        fail("elements left open after a successful parse");
    if (parsed) {
        if (process.close_output_files(description) != 0)
            fail("output files not closed");
    } else {
        abandon_output_files(description);
    }

    QDir out(GL_param.output_path);
    int files = 0;
    int measurements = 0;
    for (ATTRIBUTE *m = description->child; m != nullptr; m = m->next) {
        ++measurements;
        QFile file(out.filePath(m->file_name));
        if (!file.open(QIODevice::ReadOnly))
            fail("output file missing", m->file_name);
        const QString fault = xml_fuzz_output_fault(file.readAll(), xml_fuzz_header(m));
        if (!fault.isEmpty())
            fail("bad output file:", m->file_name + QStringLiteral(": ") + fault);
        file.remove();
        ++files;
    }
    if (!out.entryList(QDir::Files | QDir::Hidden).isEmpty())
        fail("stray output files");
    if (files != measurements || measurements != 5)
        fail("not every measurement has its file");
    return 0;
}
