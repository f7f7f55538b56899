// config_fuzz.cpp - libFuzzer target: arbitrary bytes as a configuration file.
//
// Every input must either load or be refused, without a crash, a leak or a hang, and a
// loaded tree must have the shape the grammar gives it. Build and run:
//   cmake -S . -B build-fuzz -DCORVANE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
//         -DCMAKE_C_COMPILER=clang && cmake --build build-fuzz --target config_fuzz
//   build-fuzz/config_fuzz -close_fd_mask=2 -dict=fuzz/config.dict <work dir> \
//         fuzz/corpus/config
// (-close_fd_mask=2 keeps the loader's log lines off the terminal.)

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "config/attribute.h"
#include "config/loader.h"
#include "fuzz/tree_shape.h"
#include "runtime/runtime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Settings from one input must not leak into the next.
    static const GL_PARAM defaults;
    GL_param.file_tag = defaults.file_tag;
    GL_param.file_mask = defaults.file_mask;
    GL_param.time_format = defaults.time_format;
    GL_param.column_separator = defaults.column_separator;
    GL_param.max_header_size = defaults.max_header_size;
    GL_param.missing_values = defaults.missing_values;
    GL_param.time_zone_name = defaults.time_zone_name;
    GL_param.time_zone = defaults.time_zone;
    GL_param.file_time_mode = defaults.file_time_mode;

    FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (stream == nullptr)
        abort();
    const int rc = parse_configuration_stream(stream);
    fclose(stream);
    if (rc != 0 && rc != 6)
        abort();

    if (rc == 0) {
        const QString fault = tree_shape_fault(GL_param.record_descriptions);
        if (!fault.isEmpty()) {
            fprintf(stdout, "malformed tree: %s\n", fault.toLatin1().constData());
            abort();
        }
        // What the conversion does first with a tree: search it and clear it.
        ATTRIBUTE *columns = ATTRIBUTE::find(GL_param.record_descriptions, tok::COLUMNS);
        ATTRIBUTE::clear_result(columns);
    }
    discard_configuration_tree();
    return 0;
}
