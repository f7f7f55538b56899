// file_list_test.cpp - the list of a run's file names, in memory that a fork leaves out.

#include "runtime/file_list.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <gtest/gtest.h>

namespace
{

// The names come back as they went in, also after the mapping was moved to grow, and a
// forked child has nothing mapped where the parent keeps them.
TEST(FileList, KeepsItsNamesAndAForkLeavesThemOut)
{
    QStringList names;
    for (int i = 0; i < 20000; ++i)
        names.append(QStringLiteral("A_20250101_0000_%1.xml").arg(i));
    names.append(QStringLiteral("m\u00e8_\U0001D538\U0000F7E8.xml"));
    const FILE_LIST list(names);
    ASSERT_EQ(list.size(), names.size());
    for (qsizetype i = 0; i < names.size(); ++i)
        ASSERT_EQ(list.at(i), names[i]) << i;

    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    void *first = reinterpret_cast<void *>(uintptr_t(list.view(0).data()) & ~(page - 1));
    const pid_t child = fork();
    if (child == 0) {
        unsigned char resident = 0;
        _exit(mincore(first, 1, &resident) != 0 && errno == ENOMEM ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child has the parent's list mapped";
}

} // namespace
