// output_files_test.cpp - output file names made from the mask.

#include "convert/output/output_files.h"

#include <gtest/gtest.h>

#include "config/tokens.h"
#include "runtime/runtime.h"

namespace
{

TEST(OutputFileName, MarkersAreFilledLowestFirstWithTheValuesAsWritten)
{
    const QDateTime march_17(QDate(2009, 3, 17), QTime(14, 15));
    struct Row {
        const char *mask;
        int granularity;
        const char *measurement;
        const char *tag;
        const char *name;
    } rows[] = {
        {"%1_%2_%3_%4.data", tok::MIN15, "cpu", "east", "0903171415_Q_cpu_east.data"},
        {"%1_%2_%3_%4.data", tok::H24, "traffic", "", "0903171415_D_traffic_.data"},
        {"%1_%2_%3_%4.data", tok::EVENT, "alarms", "", "0903171415_E_alarms_.data"},
        {"%3-%1.data", tok::H24, "traffic", "east", "D-0903171415.data"},
        {"%4/%3/%2/%1", tok::MIN15, "cpu", "east", "east/cpu/Q/0903171415"},
        {"%2%2_%1", tok::MIN15, "cpu", "", "QQ_0903171415"},
        {"%2%1", tok::MIN15, "cpu", "", "Q0903171415"}, // arg() would then read "%20"
        {"%L1_%02_%3", tok::MIN15, "cpu", "t", "0903171415_Q_cpu"},
        {"%10_%2", tok::MIN15, "cpu", "t", "Q_0903171415"},
        {"%1_%2_%3_%4_%5.data", tok::MIN15, "cpu", "t", "0903171415_Q_cpu_t_A_rnc1.data"},
        {"%5_%4_%3_%2_%1", tok::MIN15, "cpu", "t", "A_rnc1_t_cpu_Q_0903171415"},
        {"%1_%3_%7.data", tok::MIN15, "cpu", "t", "0903171415_Q_cpu.data"}, // fewer markers
        {"%1_%2_%3_%4_%5_%6.data", tok::MIN15, "cpu", "t", "0903171415_Q_cpu_t_A_rnc1_%6.data"},
        {"%%1_100%_%x_%9", tok::MIN15, "cpu", "t", "%0903171415_100%_%x_Q"},
        {"fixed.data", tok::MIN15, "cpu", "t", "fixed.data"},
        {"%1_%2_%3_%4.data", tok::MIN15, "load%1", "t%2x%", "0903171415_Q_load%1_t%2x%.data"},
        {"%2_%1", tok::H24, "%1", "%1", "D_0903171415"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.mask);
        EXPECT_EQ(output_file_name(QString::fromLatin1(row.mask), march_17, row.granularity,
                                   QString::fromLatin1(row.measurement),
                                   QString::fromLatin1(row.tag), QStringLiteral("A_rnc1")),
                  QString::fromLatin1(row.name));
    }
    EXPECT_EQ(output_file_name(DEFAULT_FILE_MASK, QDateTime(), tok::MIN15, QStringLiteral("cpu"),
                               QString()),
              QStringLiteral("_Q_cpu_.data"))
        << "digits that form no time give an empty time";
}

} // namespace
