// output_stream_test.cpp - the block writer: what reaches the file, and where a file is
// cut back when a write fails part of the way.

#include "convert/output/output_stream.h"

#include <sys/resource.h>

#include <csignal>
#include <string>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

// Lines of many lengths, some longer than a block, each numbered so that a cut shows.
std::string line(int n)
{
    const int length = n % 97 == 0 ? 300000 + n : 20 + (n * 37) % 400;
    std::string text = std::to_string(n) + ":";
    text.append(static_cast<size_t>(length), static_cast<char>('a' + n % 26));
    return text + "\n";
}

class Stream : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        file.setFileName(dir.filePath(QStringLiteral("out.data")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    // Appends lines one at a time as records are; the text written in all.
    std::string write_lines(OUTPUT_STREAM &stream, int count)
    {
        std::string all;
        for (int n = 0; n < count; ++n) {
            const std::string text = line(n);
            stream.append(text.data(), static_cast<qsizetype>(text.size()));
            stream.line_done();
            all += text;
        }
        return all;
    }

    std::string on_disk()
    {
        QFile back(file.fileName());
        back.open(QIODevice::ReadOnly);
        return back.readAll().toStdString();
    }

    QTemporaryDir dir;
    QFile file;
};

// Both ways of writing: in the writing thread, and (a worker's large files) blocks handed
// to a thread of their own.
const bool BOTH_WAYS[] = {false, true};

TEST_F(Stream, EverythingReachesTheFileAfterTheLastFlush)
{
    for (const bool background : BOTH_WAYS) {
        SCOPED_TRACE(background ? "in the background" : "in line");
        file.close();
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        OUTPUT_STREAM::write_in_background(background);
        OUTPUT_STREAM stream(file.handle());
        const std::string all = write_lines(stream, 3000);
        EXPECT_TRUE(stream.flush());
        OUTPUT_STREAM::write_in_background(false);
        EXPECT_EQ(on_disk(), all);
    }
}

TEST_F(Stream, FailedWriteCutsTheFileBackToItsLastWholeLine)
{
    // The file size limit makes a write fail at a byte that is neither a block nor a line
    // boundary; the process is spared the signal that comes with it.
    for (const bool background : BOTH_WAYS)
        for (const rlim_t limit : {700001, 1048576, 1048577, 1400000, 2900000}) {
            SCOPED_TRACE(std::to_string(limit) + (background ? " in the background" : " in line"));
            OUTPUT_STREAM::write_in_background(background);
            file.close();
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            rlimit saved;
            ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
            rlimit small = saved;
            small.rlim_cur = limit;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
            auto *previous = signal(SIGXFSZ, SIG_IGN);

            OUTPUT_STREAM stream(file.handle());
            const std::string all = write_lines(stream, 3000);
            const bool flushed = stream.flush();

            setrlimit(RLIMIT_FSIZE, &saved);
            signal(SIGXFSZ, previous);
            OUTPUT_STREAM::write_in_background(false);

            EXPECT_FALSE(flushed);
            EXPECT_TRUE(stream.failed());
            EXPECT_FALSE(stream.error_text().isEmpty());
            const std::string kept = on_disk();
            ASSERT_FALSE(kept.empty());
            EXPECT_EQ(kept.back(), '\n');
            EXPECT_EQ(all.compare(0, kept.size(), kept), 0) << "not a beginning of the output";
            // Given up: the failed write (a block, or two for a line longer than one) and the
            // line cut at the end of the write before.
            EXPECT_GT(kept.size() + 1024 * 1024, static_cast<size_t>(limit));
        }
}

} // namespace
