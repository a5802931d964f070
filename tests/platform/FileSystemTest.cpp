// tests/platform/FileSystemTest.cpp: the system's files behave as the backlog store relies on,
// whichever system it is: an open file can be removed and its name used again at once, the
// store's lock shuts out a second holder but not reading, and failures carry their reason.
#include "platform/FileSystem.h"

#include <cerrno>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/fakes/TempDir.h"

using platform::FileSystem;

namespace {

class FileSystemTest : public ::testing::Test
{
protected:
    std::unique_ptr<platform::File> open(const std::string& name,
                                         FileSystem::Open how = FileSystem::Open::OrCreate)
    {
        return m_fs.open(m_dir.file(name), how);
    }

    std::string readAll(const platform::File& file)
    {
        std::string out(64, '\0');
        auto n = file.readAt(0, out.data(), out.size());
        out.resize(n.value_or(0));
        return out;
    }

    FileSystem& m_fs = platform::osFileSystem();
    fakes::TempDir m_dir;
};

} // namespace

TEST_F(FileSystemTest, AnOpenFileIsRemovedAndItsNameCanBeUsedAgainAtOnce)
{
    auto old = open("1.dat");
    ASSERT_TRUE(old && old->writeAt(0, "old", 3));
    ASSERT_TRUE(m_fs.removeFile(m_dir.file("1.dat")));
    EXPECT_FALSE(m_fs.fileExists(m_dir.file("1.dat")));
    auto fresh = open("1.dat", FileSystem::Open::Truncate);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(0u, fresh->size().value_or(99));
    EXPECT_EQ("old", readAll(*old)); // the holder keeps what it had
    EXPECT_EQ((std::vector<std::string>{"1.dat"}), m_fs.listFiles(m_dir.path()));
    EXPECT_TRUE(m_fs.removeFile(m_dir.file("never.dat"))); // missing counts as removed
}

TEST_F(FileSystemTest, TheLockShutsOutASecondHolderButNotItsReadsAndWrites)
{
    auto first = open("backsoob.dat");
    auto second = open("backsoob.dat");
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(first->tryLock());
    EXPECT_FALSE(second->tryLock());
    EXPECT_TRUE(second->writeAt(4, "data", 4));
    EXPECT_EQ(std::string("\0\0\0\0data", 8), readAll(*second));
    first.reset();
    EXPECT_TRUE(second->tryLock());
}

TEST_F(FileSystemTest, WritesAtOffsetsAndTruncatesWhileAnotherHandleIsOpen)
{
    auto writer = open("0.dat");
    auto reader = open("0.dat", FileSystem::Open::Existing);
    ASSERT_TRUE(writer && reader);
    ASSERT_TRUE(writer->writeAt(0, "abcdef", 6));
    ASSERT_TRUE(writer->writeAt(3, "XY", 2));
    char buf[16];
    EXPECT_EQ(6u, reader->readAt(0, buf, sizeof buf).value_or(0)); // fewer at the end
    EXPECT_EQ("abcXYf", std::string(buf, 6));
    EXPECT_EQ(0u, reader->readAt(100, buf, sizeof buf).value_or(99));
    EXPECT_TRUE(writer->sync());
    ASSERT_TRUE(writer->truncate(2));
    EXPECT_EQ("ab", readAll(*reader));
}

TEST_F(FileSystemTest, ListsTheNamesOfFilesOnlyAndFailuresCarryTheirErrorNumber)
{
    ASSERT_TRUE(open("a.dat"));
    ASSERT_TRUE(m_fs.createDirectory(m_dir.file("sub")));
    ASSERT_TRUE(m_fs.createDirectory(m_dir.file("sub"))); // an existing one is fine
    EXPECT_EQ((std::vector<std::string>{"a.dat"}), m_fs.listFiles(m_dir.path()));
    EXPECT_FALSE(m_fs.listFiles(m_dir.file("missing"))); // a failure, not an empty directory
    EXPECT_TRUE(platform::isNotFoundError(m_fs.lastError()));
    EXPECT_TRUE(m_fs.syncDirectory(m_dir.path()));

    EXPECT_FALSE(open("missing.dat", FileSystem::Open::Existing));
    EXPECT_EQ(ENOENT, m_fs.lastError());
    EXPECT_TRUE(platform::isNotFoundError(m_fs.lastError()));
    EXPECT_FALSE(m_fs.createDirectory(m_dir.file("a.dat/sub")));
    EXPECT_EQ(ENOTDIR, m_fs.lastError());
    EXPECT_FALSE(platform::isDiskFullError(ENOENT));
    EXPECT_TRUE(platform::isDiskFullError(ENOSPC));
}
