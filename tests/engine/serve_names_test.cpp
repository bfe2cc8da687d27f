// SPDX-License-Identifier: MIT
#include "engine/serve_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Every case runs twice: through openat2, and through the component walk a
// kernel without openat2 gets.
class ServeNames : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ForceComponentWalk(GetParam());
        fs::create_directories("srv/boot");
        fs::create_directories("srv/dir");
        fs::create_directories("srv/swap");
        fs::create_directories("srv-x");
        fs::create_directories("outside");
        WriteFileBytes("srv/boot/pxelinux.0", {'p', 'x', 'e'});
        WriteFileBytes("srv/boot/bcd", {'b'});
        WriteFileBytes("srv/twin.txt", {'t'});
        WriteFileBytes("srv/TWIN.txt", {'T'});
        WriteFileBytes("srv/swap/file", {'i', 'n'});
        WriteFileBytes("srv/locked", {'l'});
        ::chmod("srv/locked", 0);
        WriteFileBytes("secret", {'s'});
        WriteFileBytes("srv-x/file", {'s'});
        WriteFileBytes("outside/file", {'s'});
        fs::create_symlink("boot/pxelinux.0", "srv/inside");
        fs::create_symlink("../secret", "srv/out");
        fs::create_symlink(m_temp / "secret", "srv/abs");
        fs::create_symlink("/dev/null", "srv/devnull");
        fs::create_symlink("../srv-x", "srv/sibling");
        ASSERT_EQ(::mkfifo("srv/fifo", 0600), 0);
        m_folder = ::open("srv", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(m_folder, 0);
    }
    void TearDown() override
    {
        ForceComponentWalk(false);
        ::close(m_folder);
    }

    // The file's bytes (up to 16), or "ERROR n" when it is refused.
    static std::string Outcome(const ServeOpen& opened)
    {
        if (opened.fd < 0)
            return "ERROR " + std::to_string(opened.wErrorCode);
        char buffer[16];
        const ssize_t length = ::read(opened.fd, buffer, sizeof buffer);
        ::close(opened.fd);
        return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
    }

    std::string Serve(std::string_view requested, bool bBackslashIsSlash, bool bIgnoreCase) const
    {
        const ServeName name = NormalizeServeName(requested, bBackslashIsSlash);
        if (name.wErrorCode != 0)
            return "ERROR " + std::to_string(name.wErrorCode);
        return Outcome(OpenServeFile(m_folder, name.relative, O_RDONLY, 0, bIgnoreCase));
    }

    TempDir m_temp;
    int m_folder = -1;
};

TEST_P(ServeNames, ServesOnlyRegularFilesBeneathTheFolder)
{
    const bool walk = GetParam();
    struct Row {
        std::string name;
        bool backslash;
        bool ignoreCase;
        std::string outcome;
    };
    const Row rows[] = {
        {"boot/pxelinux.0", false, false, "pxe"},
        {"//boot//pxelinux.0", false, false, "pxe"},
        {"\\boot\\pxelinux.0", true, false, "pxe"},
        {"\\boot\\pxelinux.0", false, false, "ERROR 1"},
        {"../x", false, false, "ERROR 2"},
        {"a/../../x", false, false, "ERROR 2"},
        {"..\\x", true, false, "ERROR 2"},
        {"..\\x", false, false, "ERROR 1"},
        {"/etc/passwd", false, false, "ERROR 1"},
        {"C:\\x", true, false, "ERROR 1"},
        {"%2e%2e%2fsecret", false, false, "ERROR 1"},
        {"", false, false, "ERROR 2"},
        {".", false, false, "ERROR 2"},
        {"..", false, false, "ERROR 2"},
        {"/", false, false, "ERROR 2"},
        {"boot/./pxelinux.0", false, false, "ERROR 2"},
        {"a\tb", false, false, "ERROR 2"},
        {std::string(255, 'n'), false, false, "ERROR 1"},
        {std::string(256, 'n'), false, false, "ERROR 2"},
        {"boot/pxelinux.0/x", false, false, "ERROR 1"},
        {"inside", false, false, walk ? "ERROR 2" : "pxe"}, // the walk refuses every link
        {"out", false, false, "ERROR 2"},
        {"abs", false, false, "ERROR 2"},
        {"devnull", false, false, "ERROR 2"},
        {"sibling/file", false, false, "ERROR 2"},
        {"fifo", false, false, "ERROR 2"},
        {"dir", false, false, "ERROR 2"},
        {"locked", false, false, ::geteuid() == 0 ? "l" : "ERROR 2"},
        {"Boot/PXELINUX.0", false, true, "pxe"},
        {"Boot/PXELINUX.0", false, false, "ERROR 1"},
        {"twin.txt", false, true, "t"},       // an exact match wins
        {"Twin.txt", false, true, "ERROR 1"}, // two near matches: none
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Serve(row.name, row.backslash, row.ignoreCase), row.outcome);
    }
    // A name that reaches OpenBeneath without normalising is confined all the same.
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
    ASSERT_EQ(name.wErrorCode, 0);
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
