// SPDX-License-Identifier: MIT
// tarnwick-serve's command line: what each option sets, and each mistake's
// one line and status 2.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <vector>

#include "server/serve_options.h"

namespace {

int Parse(std::vector<const char*> arguments, ServeOptions* pOptions, std::string* pSay)
{
    arguments.insert(arguments.begin(), "tarnwick-serve");
    return ParseServeOptions(static_cast<int>(arguments.size()), arguments.data(), pOptions, pSay);
}

TEST(ServeOptions, HelpVersionAndMistakes)
{
    const struct {
        std::vector<const char*> arguments;
        int status;
        const char* says;
    } rows[] = {
        {{"/", "--help"}, 0, "--require-confinement"},
        {{"-v"}, 0, "tarnwick-serve 1."},
        {{}, 2, "which folder?"},
        {{"/", "/tmp"}, 2, "one folder only"},
        {{"/nonexistent"}, 2, "/nonexistent is not a folder"},
        {{"/", "--bogus"}, 2, "unknown option --bogus"},
        {{"/", "--port=69x"}, 2, "--port 69x: not a number from 1 to 65535"},
        {{"/", "--max-blksize", "7"}, 2, "--max-blksize 7: not a number from 8 to 65464"},
        {{"/", "--max-transfers"}, 2, "--max-transfers needs a number"},
        {{"/", "--listen", "tftp.example.com"}, 2, "not an IPv4 or IPv6 address"},
        {{"/", "--log-format", "xml"}, 2, "--log-format xml: text or json"},
        {{"/", "--allow-create"}, 2, "--allow-create needs --allow-upload"},
        {{"/", "--netboot"}, 2, "--netboot needs exactly one --listen ADDRESS"},
        {{"/", "--netboot", "--listen", "127.0.0.1", "--listen", "::1"}, 2, "needs exactly one --listen"},
        {{"/", "--netboot", "--listen", "::1"}, 2, "--listen ::1 is not IPv4"},
        {{"/", "--netboot", "--listen", "192.0.2.254"}, 2, "no network interface of this machine has the address"},
        {{"/", "--http-port", "8070"}, 2, "--http-port needs --netboot"},
        {{"/", "--netboot", "--listen", "127.0.0.1", "--boot-file", "arm=x.efi"}, 2, "ARCH one of bios"},
        {{"/", "--netboot", "--listen", "127.0.0.1", "--boot-file", "bios="}, 2, "ARCH one of bios"},
    };
    for (const auto& row : rows) {
        ServeOptions options;
        std::string say;
        EXPECT_EQ(Parse(row.arguments, &options, &say), row.status) << row.says;
        EXPECT_NE(say.find(row.says), std::string::npos) << say;
        EXPECT_TRUE(row.status == 0 || say.find('\n') == std::string::npos) << say;
    }
}

TEST(ServeOptions, EachOptionSetsItsOwnAndTheRestKeepTheirDefaults)
{
    ServeOptions options;
    std::string say;
    ASSERT_EQ(Parse({"/tmp/../tmp", "--listen", "127.0.0.1", "--listen=::1", "--port", "6969", "--allow-upload",
                     "--allow-create", "--max-per-client", "2", "--max-blksize=512", "--ignore-case", "--any-network",
                     "--log-format", "json", "--require-confinement"},
                    &options, &say),
              -1)
        << say;
    const ServeConfig& config = options.config;
    EXPECT_EQ(config.folder, "/tmp");
    ASSERT_EQ(config.listen.size(), 2U);
    EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in&>(config.listen[0]).sin_port), 6969);
    EXPECT_EQ(config.listen[1].ss_family, AF_INET6);
    EXPECT_TRUE(config.bAllowUpload && config.bAllowCreate && !config.bReplaceExisting);
    EXPECT_EQ(config.nMaxPerClient + config.nMaxTransfers + config.nMaxBlockSize + config.nMaxWindowSize,
              2 + 64 + 512 + 64);
    EXPECT_TRUE(config.bIgnoreCase && !config.bLocalNetworksOnly);
    EXPECT_TRUE(options.bJson && options.bRequireConfinement && options.bListenGiven);

    ASSERT_EQ(Parse({"/", "--netboot", "--listen", "127.0.0.1", "--http-port", "8070", "--boot-file",
                     "uefi-x64=snponly.efi", "--boot-file=ipxe=menu.ipxe"},
                    &options, &say),
              -1)
        << say;
    EXPECT_TRUE(options.bNetboot && options.netbootInterface == "lo" && options.nHttpPort == 8070U);
    EXPECT_EQ(options.bootFiles.uefiX64File + " " + options.bootFiles.ipxeScript + " " + options.bootFiles.biosFile,
              "snponly.efi menu.ipxe undionly.kpxe");

    ASSERT_EQ(Parse({"/"}, &options, &say), -1);
    EXPECT_TRUE(options.config.nPort == 69U && options.config.listen.empty() && !options.config.bAllowUpload);
    EXPECT_TRUE(options.config.bLocalNetworksOnly && !options.bJson && !options.bListenGiven && !options.bNetboot);
}

} // namespace
