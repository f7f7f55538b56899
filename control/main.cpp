// main.cpp - entry point: applies the options, loads the configuration, runs the pool.

#include <QCoreApplication>

#include "config/attribute.h"
#include "control/check.h"
#include "control/generate.h"
#include "control/metrics.h"
#include "control/pool.h"
#include "runtime/runtime.h"

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);

    GL_param.parse_options(argc, argv);
    if (GL_param.generate)
        return generate_configuration(GL_param.sample_files);
    metrics_start();

    int rc = GL_param.read_configuration_file();
    if (rc != 0) {
        elog.log("ERROR: error in configuration file\n");
        return rc;
    }
    metrics_configuration_loaded();

    GL_param.dump();
    if (GL_param.debug_level != 0)
        ATTRIBUTE::dump(GL_param.record_descriptions, 0);

    if (GL_param.check_only)
        check_and_plan();
    run_pool();
}
