// SPDX-License-Identifier: MIT
#include "server/serve_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;

constexpr int kSlash = 1; // BackslashIsSlash
constexpr int kCase = 2;  // IgnoreCase

// Each file holds its own path, so an open file tells which one it is.
// Every case runs twice: through openat2, and through the component walk a
// kernel without openat2 gets.
class ServeNames : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ForceComponentWalk(GetParam());
        for (const char* dir : {"srv/boot", "srv/dir", "srv/swap", "srv-x", "outside"})
            fs::create_directories(dir);
        for (const std::string file : {"srv/boot/pxelinux.0", "srv/boot/bcd", "srv/twin.txt", "srv/TWIN.txt",
                                       "srv/swap/file", "srv/locked", "secret", "srv-x/file", "outside/file"})
            WriteFileBytes(file, Bytes(file.begin(), file.end()));
        ::chmod("srv/locked", 0);
        for (const auto& [target, link] : {std::pair<std::string, const char*>{"boot/pxelinux.0", "srv/inside"},
                                           {"../secret", "srv/out"},
                                           {m_temp / "secret", "srv/abs"},
                                           {"/dev/null", "srv/devnull"},
                                           {"../srv-x", "srv/sibling"}})
            fs::create_symlink(target, link);
        ASSERT_EQ(::mkfifo("srv/fifo", 0600), 0);
        m_folder = ::open("srv", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    void TearDown() override
    {
        ForceComponentWalk(false);
        ::close(m_folder);
    }

    // The file's bytes, or "ERROR n" when it is refused.
    static std::string Outcome(const ServeOpen& opened)
    {
        if (opened.fd < 0)
            return "ERROR " + std::to_string(opened.wErrorCode);
        char buffer[64];
        const ssize_t length = ::read(opened.fd, buffer, sizeof buffer);
        ::close(opened.fd);
        return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
    }

    std::string Serve(std::string_view requested, int how) const
    {
        const ServeName name = NormalizeServeName(requested, (how & kSlash) != 0);
        if (name.wErrorCode != 0)
            return "ERROR " + std::to_string(name.wErrorCode);
        return Outcome(OpenServeFile(m_folder, name.relative, O_RDONLY, 0, (how & kCase) != 0));
    }

    TempDir m_temp;
    int m_folder = -1;
};

TEST_P(ServeNames, ServesOnlyRegularFilesBeneathTheFolder)
{
    const bool walk = GetParam();
    const struct {
        std::string name;
        int how;
        std::string outcome;
    } rows[] = {
        {"boot/pxelinux.0", 0, "srv/boot/pxelinux.0"},
        {"//boot//pxelinux.0", 0, "srv/boot/pxelinux.0"},
        {"\\boot\\pxelinux.0", kSlash, "srv/boot/pxelinux.0"},
        {"\\boot\\pxelinux.0", 0, "ERROR 1"},
        {"../x", 0, "ERROR 2"},
        {"a/../../x", 0, "ERROR 2"},
        {"..\\x", kSlash, "ERROR 2"},
        {"..\\x", 0, "ERROR 1"},
        {"/etc/passwd", 0, "ERROR 1"},
        {"C:\\x", kSlash, "ERROR 1"},
        {"%2e%2e%2fsecret", 0, "ERROR 1"},
        {"", 0, "ERROR 2"},
        {".", 0, "ERROR 2"},
        {"/", 0, "ERROR 2"},
        {"a\tb", 0, "ERROR 2"},
        {std::string(255, 'n'), 0, "ERROR 1"},
        {std::string(256, 'n'), 0, "ERROR 2"},
        {"boot/pxelinux.0/x", 0, "ERROR 1"},
        {"inside", 0, walk ? "ERROR 2" : "srv/boot/pxelinux.0"}, // the walk refuses every link
        {"out", 0, "ERROR 2"},
        {"abs", 0, "ERROR 2"},
        {"devnull", 0, "ERROR 2"},
        {"sibling/file", 0, "ERROR 2"},
        {"fifo", 0, "ERROR 2"},
        {"dir", 0, "ERROR 2"},
        {"locked", 0, ::geteuid() == 0 ? "srv/locked" : "ERROR 2"},
        {"Boot/PXELINUX.0", kCase, "srv/boot/pxelinux.0"},
        {"Boot/PXELINUX.0", 0, "ERROR 1"},
        {"twin.txt", kCase, "srv/twin.txt"}, // an exact match wins
        {"Twin.txt", kCase, "ERROR 1"},      // two near matches: none
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Serve(row.name, row.how), row.outcome);
    }
    // A name that reaches the open without normalising is confined all the same.
    EXPECT_EQ(Outcome(OpenServeFile(m_folder, "../srv-x/file", O_RDONLY, 0, false)), "ERROR 2");
    EXPECT_EQ(Outcome(OpenServeFile(m_folder, "/etc/hostname", O_RDONLY, 0, false)), "ERROR 2");
}

TEST_P(ServeNames, RefusesMagicLinksAndDevices)
{
    const int proc = ::open("/proc/self", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int dev = ::open("/dev", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(Outcome(OpenServeFile(proc, "root/etc/hostname", O_RDONLY, 0, false)), "ERROR 2");
    EXPECT_EQ(Outcome(OpenServeFile(proc, "cwd/secret", O_RDONLY, 0, false)), "ERROR 2");
    EXPECT_EQ(Outcome(OpenServeFile(dev, "null", O_RDONLY, 0, false)), "ERROR 2");
    ::close(proc);
    ::close(dev);
}

TEST_P(ServeNames, RefusesADirectorySwappedForALinkAfterTheNameWasJudged)
{
    const ServeName name = NormalizeServeName("swap/file", false);
    fs::rename("srv/swap", "srv/swap.old");
    fs::create_symlink("../outside", "srv/swap");
    EXPECT_EQ(Outcome(OpenServeFile(m_folder, name.relative, O_RDONLY, 0, false)), "ERROR 2");
}

TEST_P(ServeNames, FindsANameThatDiffersOnlyInCase)
{
    EXPECT_EQ(FindCaseMatch(m_folder, NormalizeServeName("\\Boot\\BCD", true).relative), "boot/bcd");
    EXPECT_EQ(FindCaseMatch(m_folder, "Twin.txt"), std::nullopt);
    EXPECT_EQ(FindCaseMatch(m_folder, "boot/none"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Serve, ServeNames, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "Walk" : "OpenAt2"; });

} // namespace
