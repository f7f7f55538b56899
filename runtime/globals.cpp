// globals.cpp - defines the process-wide objects in the order they must be built.
//
// Objects of one translation unit are initialised in the order of their definitions,
// so keeping them here guarantees constants -> elog -> GL_param, and the reverse order
// at exit.

#include "runtime/runtime.h"

const QString DEFAULT_CONFIG_FILE = QStringLiteral("/opt/corvane/config/corvane.conf");
const QString DEFAULT_INPUT_PATH = QStringLiteral("/opt/corvane/input");
const QString DEFAULT_OUTPUT_PATH = QStringLiteral("/opt/corvane/output");
const QString RX_INPUT_FILE_DATE = QStringLiteral("^.*_([0-9]{8})_([0-9]{4}).*$");
const QString INPUT_DATE_STRING = QStringLiteral("yyyyMMdd");
const QString INPUT_TIME_STRING = QStringLiteral("hhmm");
const QString DEFAULT_TIME_FORMAT = QStringLiteral("yyMMdd hh:mm");
const QString FILENAME_PMS_DATEFORMAT = QStringLiteral("yyMMddhhmm");
const QString DEFAULT_FILE_MASK = QStringLiteral("%1_%2_%3_%4.data");
const QString DEFAULT_COLUMN_SEPARATOR = QStringLiteral("\t");
const QString DEFAULT_RECORD_SEPARATOR = QStringLiteral("\n");
const QString CONST_NOT_AVAILABLE = QString();

ELOG elog;
GL_PARAM GL_param;
