// SPDX-License-Identifier: MIT
#include "platform/core/file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/core/msgbox.h"
#include "platform/core/replace_file.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<BYTE>;
constexpr UINT kReplace = CFile::modeCreate | CFile::modeWrite | CFile::modeReplaceOnCommit;

unsigned Mode(const std::string& path)
{
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

TEST(FileReplace, CommitPutsTheNewFileInPlaceKeepingTheModeBits)
{
    TempDir dir;
    WriteFileBytes(dir / "fw.bin", Bytes(1000, 'o'));
    ::chmod((dir / "fw.bin").c_str(), 0640);
    {
        CFile file;
        ASSERT_TRUE(file.Open("fw.bin", kReplace));
        file.Write("new", 3);
        EXPECT_EQ(ReadFileBytes(dir / "fw.bin"), Bytes(1000, 'o')); // untouched until the commit
        file.Commit();
    }
    EXPECT_EQ(ReadFileBytes(dir / "fw.bin"), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(Mode(dir / "fw.bin"), 0640u);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"fw.bin"});
}

TEST(FileReplace, SetUserAndSetGroupBitsAreNotCarriedOver)
{
    TempDir dir;
    WriteFileBytes(dir / "tool", Bytes{'t'});
    ::chmod((dir / "tool").c_str(), 06755);
    CFile file;
    ASSERT_TRUE(file.Open("tool", kReplace));
    file.Commit();
    EXPECT_EQ(Mode(dir / "tool"), 0755u);
}

TEST(File, DirectoriesAndPipesDoNotOpen)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
    struct Row {
        const char* name;
        UINT flags;
    };
    const Row rows[] = {
        {"sub", CFile::modeRead},
        {"pipe", CFile::modeRead},
        {"pipe", CFile::modeWrite},
        {"pipe", kReplace},
    };
    for (const Row& row : rows) {
        CFile file;
        EXPECT_FALSE(file.Open(row.name, row.flags)) << row.name << " " << row.flags;
    }
    CFile device;
    EXPECT_TRUE(device.Open("/dev/null", kReplace));
}

TEST(FileReplace, ANewFileGetsTheUsualModeBits)
{
    TempDir dir;
    const mode_t mask = ::umask(022);
    {
        CFile file;
        ASSERT_TRUE(file.Open("new.cfg", kReplace));
        file.Commit();
    }
    ::umask(mask);
    EXPECT_EQ(Mode(dir / "new.cfg"), 0644u);
}

TEST(FileReplace, WithoutCommitTheTargetStaysAndNothingIsLeftBehind)
{
    TempDir dir;
    WriteFileBytes(dir / "keep.txt", Bytes{'k'});
    {
        CFile file;
        ASSERT_TRUE(file.Open("keep.txt", kReplace));
        file.Write("partial", 7);
    }
    {
        CFile file;
        ASSERT_TRUE(file.Open("absent.txt", kReplace));
        file.Write("partial", 7);
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(dir / "keep.txt"), Bytes{'k'});
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.txt"});
}

TEST(FileReplace, ALinkIsFollowedToTheFileItNames)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "images");
    WriteFileBytes(dir / "images/v1.bin", Bytes{'1'});
    std::filesystem::create_symlink("images/v1.bin", dir / "current.bin");
    CFile file;
    ASSERT_TRUE(file.Open("current.bin", kReplace));
    file.Write("2", 1);
    file.Commit();
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "current.bin"));
    EXPECT_EQ(ReadFileBytes(dir / "images/v1.bin"), Bytes{'2'});
}

TEST(FileReplace, TargetsThatCannotBeWrittenFailAtOpen)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    struct Row {
        const char* name;
        int cause;
    };
    const Row rows[] = {
        {"sub", CFileException::accessDenied}, // a directory of that name
        {"missing/x.bin", CFileException::fileNotFound},
        {"/proc/tarnwick.bin", CFileException::fileNotFound},
    };
    for (const Row& row : rows) {
        CFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(row.name, kReplace, &error)) << row.name;
        EXPECT_EQ(error.m_cause, row.cause) << row.name;
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"sub"});
}

TEST(FileReplace, AReadOnlyTargetIsRefusedAsATruncatingOpenWouldBe)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
    TempDir dir;
    WriteFileBytes(dir / "ro.bin", Bytes{'r'});
    ::chmod((dir / "ro.bin").c_str(), 0444);
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open("ro.bin", kReplace, &error));
    EXPECT_EQ(error.m_cause, CFileException::accessDenied);
}

TEST(File, AFullDeviceThrowsDiskFullWithThePath)
{
    CFile file;
    ASSERT_TRUE(file.Open("/dev/full", CFile::modeWrite));
    try {
        file.Write("x", 1);
        FAIL() << "no exception";
    } catch (const CFileException& error) {
        EXPECT_EQ(error.m_cause, CFileException::diskFull);
        EXPECT_EQ(error.m_lOsError, ENOSPC);
        EXPECT_EQ(error.GetErrorMessage(), "Disk full while accessing /dev/full.");
    }
}

TEST(FileException, MessagesNameThePathAsPlainText)
{
    struct Row {
        long error;
        std::string text;
    };
    const Row rows[] = {
        {ENOSPC, "Disk full while accessing /x/%s%n."},
        {EDQUOT, "Disk full while accessing /x/%s%n."},
        {EACCES, "Access to /x/%s%n was denied."},
        {ENOENT, "/x/%s%n was not found."},
        {EIO, "A hardware I/O error was reported while accessing /x/%s%n."},
        {EXDEV, "An unknown error occurred while accessing /x/%s%n."},
    };
    for (const Row& row : rows) {
        const CFileException error(CFileException::OsErrorToException(row.error), row.error, "/x/%s%n");
        EXPECT_EQ(error.GetErrorMessage(), row.text);
    }
}

Bytes Pattern(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<BYTE>((i * 131) ^ (i >> 9));
    return bytes;
}

TEST(File, BufferedReadsAndSeeksDeliverTheFileAcrossBufferEdges)
{
    TempDir dir;
    const Bytes content = Pattern(200 * 1024 + 77);
    WriteFileBytes(dir / "big", content);
    CFile file;
    ASSERT_TRUE(file.Open("big", CFile::modeRead));
    // Reads of many sizes, each after a seek back into what was read, as the
    // netascii reader does; and one read larger than the buffer.
    Bytes delivered;
    ULONGLONG position = 0;
    for (UINT size : {512u, 1u, 70000u, 300u, 65536u, 512u, 100000u}) {
        position = file.Seek(static_cast<LONGLONG>(position) - (position > 100 ? 100 : 0), CFile::begin);
        if (!delivered.empty())
            delivered.resize(static_cast<size_t>(position));
        Bytes chunk(size);
        const UINT n = file.Read(chunk.data(), size);
        chunk.resize(n);
        delivered.insert(delivered.end(), chunk.begin(), chunk.end());
        position = file.GetPosition();
        EXPECT_EQ(position, delivered.size());
    }
    EXPECT_EQ(delivered, content);
    Bytes rest(10);
    EXPECT_EQ(file.Read(rest.data(), 10), 0u);
}

TEST(File, BufferedWritesReachTheFileAtCloseAndAtCommit)
{
    TempDir dir;
    const Bytes content = Pattern(700 * 512 + 3);
    for (bool replace : {false, true}) {
        CFile file;
        ASSERT_TRUE(file.Open("out", replace ? kReplace : CFile::modeCreate | CFile::modeWrite));
        for (size_t offset = 0; offset < content.size(); offset += 512) {
            const UINT n = static_cast<UINT>(std::min<size_t>(512, content.size() - offset));
            file.Write(content.data() + offset, n);
            EXPECT_EQ(file.GetPosition(), offset + n);
        }
        file.Write(content.data(), 0);
        if (replace)
            file.Commit();
        else
            file.Close();
        EXPECT_EQ(ReadFileBytes(dir / "out"), content) << replace;
        std::filesystem::remove(dir / "out");
    }
}

TEST(File, PlainCreateTruncatesAndRecordsTheFullPath)
{
    TempDir dir;
    WriteFileBytes(dir / "old", Bytes(10, 'z'));
    CFile file;
    ASSERT_TRUE(file.Open("old", CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(file.GetFilePath(), dir / "old");
    EXPECT_EQ(std::filesystem::file_size(dir / "old"), 0u);
}

// Beside one name in a directory given as a descriptor, never outside it:
// what each kind of target gives, and what is left after a commit or none.
TEST(FileReplace, AtADirectoryDescriptor)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const struct {
        const char* name;
        const char* target; // made before: "file", "link", "dir", or none
        bool commit;
        int error; // of the open; 0: opened
        std::vector<std::string> after;
        unsigned mode;
    } rows[] = {
        {"a new file", "", true, 0, {"t"}, 0644u & ~mask},
        {"a new file not committed", "", false, 0, {}, 0},
        {"an existing file keeps its bits", "file", true, 0, {"t"}, 0600},
        {"an existing file not committed stays", "file", false, 0, {"t"}, 0600},
        {"a link is refused, not followed", "link", true, ELOOP, {"elsewhere", "t"}, 0},
        {"a directory is refused", "dir", true, EISDIR, {"t"}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string target = row.target;
        if (target == "file") {
            WriteFileBytes(dir / "t", Bytes(5, 'o'));
            ::chmod((dir / "t").c_str(), 0600);
        } else if (target == "link") {
            WriteFileBytes(dir / "elsewhere", Bytes(5, 'o'));
            std::filesystem::create_symlink("elsewhere", dir / "t");
        } else if (target == "dir") {
            std::filesystem::create_directory(dir / "t");
        }
        const int dirFd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        {
            CFile file;
            CFileException error;
            ASSERT_EQ(file.OpenReplacementAt(dirFd, "t", 0644, &error), row.error == 0);
            ::close(dirFd); // the file keeps a descriptor of its own
            EXPECT_EQ(row.error == 0 ? 0 : error.m_lOsError, row.error);
            if (row.error == 0) {
                file.Write("new", 3);
                if (row.commit)
                    file.Commit();
            }
        }
        EXPECT_EQ(dir.Names(), row.after);
        if (row.mode != 0) {
            EXPECT_EQ(Mode(dir / "t"), row.mode);
        }
        if (row.error == 0 && row.commit) {
            EXPECT_EQ(ReadFileBytes(dir / "t"), (Bytes{'n', 'e', 'w'}));
        }
    }
}

// Without replacing, a file that took the name after the replacement began
// stays and the new file goes; a free name is taken. Both with
// RENAME_NOREPLACE and with the hard link of file systems that lack it.
TEST(FileReplace, KeepingExistingNeverReplacesAFileThatAppeared)
{
    for (const bool link : {false, true}) {
        AfxForceLinkCommit(link);
        TempDir dir;
        const int dirFd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        CFile late;
        CFile free;
        ASSERT_TRUE(late.OpenReplacementAt(dirFd, "late", 0644, nullptr, true) &&
                    free.OpenReplacementAt(dirFd, "free", 0644, nullptr, true));
        ::close(dirFd);
        WriteFileBytes(dir / "late", Bytes(5, 'o'));
        free.Commit();
        EXPECT_THROW(late.Commit(), CFileException);
        EXPECT_EQ(ReadFileBytes(dir / "late"), Bytes(5, 'o'));
        EXPECT_EQ(dir.Names(), (std::vector<std::string>{"free", "late"})) << link;
    }
    AfxForceLinkCommit(false);
}

} // namespace
