// output_registry_test.cpp - what the parent does to the output files of a killed
// worker: whole lines stay, a cut line goes, and the file gets its final name (or goes,
// when failed output is not to be handed on); files of others are left alone.

#include "convert/output/output_registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "config/test_support.h"
#include "convert/output/publication.h"

namespace
{

class Registry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(output_registry_create(2, 8));
        output_registry_clear(0);
        output_registry_clear(1);
    }

    QByteArray path(const char *name) { return QFile::encodeName(dir.filePath(name)); }
    // The hidden name a worker writes the file under.
    QByteArray part(const char *name) { return part_path_of(path(name)); }

    // Creates the file under its temporary name as a worker of that slot does, then
    // writes the bytes into it.
    void create(int slot, const char *name, const std::string &bytes, bool record = true)
    {
        output_registry_use(slot);
        const int fd = ::open(part(name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        ASSERT_GE(fd, 0) << name;
        if (record)
            output_registry_add(fd, part(name));
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ::close(fd);
    }

    std::string mend(int slot, bool publish = true)
    {
        return captured_stderr([&] { output_registry_mend(slot, 4242, publish); });
    }

    // The file's bytes, or "(none)" when it does not exist.
    std::string contents(const QString &name)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return "(none)";
        return file.readAll().toStdString();
    }

    QTemporaryDir dir;
};

TEST_F(Registry, FilesAreCutBackToTheirLastCompleteLine)
{
    // Longer than the block the tail is read in, with the last line feed far back.
    const std::string long_tail = "H\nr1\n" + std::string(200000, 'x');
    create(0, "whole", "H\nr1\n");
    create(0, "torn", "H\nr1\nr2 ha");
    create(0, "long", long_tail);
    create(0, "header", "H pa");
    create(0, "empty", "");
    create(1, "other", "H\nr1\nr2 of another worker");
    ASSERT_TRUE(write_file(dir.filePath("taken"), "someone else's"));
    create(0, "taken", "H\nr1\n");

    const std::string log = mend(0);

    EXPECT_EQ(contents("whole"), "H\nr1\n");
    EXPECT_EQ(contents("torn"), "H\nr1\n");
    EXPECT_EQ(contents("long"), "H\nr1\n");
    EXPECT_EQ(contents("header"), "(none)");
    EXPECT_EQ(contents("empty"), "(none)");
    EXPECT_EQ(contents("taken"), "someone else's") << "an existing file is never replaced";
    EXPECT_EQ(contents(".other.part"), "H\nr1\nr2 of another worker") << "slot 1 is not slot 0";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString(),
              ".other.part long taken torn whole")
        << "every other temporary file is published or removed";
    for (const char *line : {"torn of killed process 4242 cut back to its last complete line "
                             "(5 bytes)\n",
                             "long of killed process 4242 cut back to its last complete line "
                             "(5 bytes)\n",
                             "header of killed process 4242 removed: it held no complete line\n",
                             "empty of killed process 4242 removed: it held no complete line\n",
                             "taken of killed process 4242 not published: the name is taken; "
                             "the file is removed\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
    EXPECT_EQ(log.find("whole"), std::string::npos) << "nothing done, nothing logged\n" << log;
}

TEST_F(Registry, AFileThatIsNoLongerTheWorkersIsLeftAlone)
{
    // Removed by the worker itself, then created again by someone else.
    create(0, "given-up", "H\n");
    output_registry_remove(part("given-up"));
    ASSERT_EQ(::unlink(part("given-up").constData()), 0);
    create(1, "given-up", "H\nbusy", false);
    // Moved away and replaced behind the worker's back (the move keeps the first file,
    // so the second cannot reuse its inode number).
    create(0, "replaced", "H\n");
    ASSERT_EQ(::rename(part("replaced").constData(), path("moved").constData()), 0);
    create(1, "replaced", "H\nbusy", false);
    // Created but never recorded: the moment between creating and recording.
    create(0, "unrecorded", "H\nbusy", false);

    const std::string log = mend(0);

    EXPECT_EQ(contents(".given-up.part"), "H\nbusy");
    EXPECT_EQ(contents(".replaced.part"), "H\nbusy");
    EXPECT_EQ(contents("moved"), "H\n");
    EXPECT_EQ(contents(".unrecorded.part"), "H\nbusy");
    EXPECT_EQ(log, "");
}

TEST_F(Registry, FailedOutputIsRemovedInsteadOfPublished)
{
    create(0, "whole", "H\nr1\n");
    create(0, "torn", "H\nr1\nr2 ha");
    EXPECT_EQ(mend(0, false), "");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

TEST_F(Registry, AClearedSlotHoldsNothingOfItsFormerWorker)
{
    create(0, "earlier", "H\nr1\nr2 ha");
    output_registry_clear(0);
    EXPECT_EQ(mend(0), "");
    EXPECT_EQ(contents(".earlier.part"), "H\nr1\nr2 ha");
}

} // namespace
