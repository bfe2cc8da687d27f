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

TEST(ServeOptions, MistakesAreOneLineWithStatusTwo)
{
    const std::pair<std::vector<const char*>, const char*> rows[] = {
        {{}, "which folder?"},
        {{"/", "/tmp"}, "one folder only"},
        {{"/nonexistent"}, "/nonexistent is not a folder"},
        {{"/", "--bogus"}, "unknown option --bogus"},
        {{"/", "--port", "0"}, "--port 0: not a number from 1 to 65535"},
        {{"/", "--port=69x"}, "--port 69x: not a number"},
        {{"/", "--max-blksize", "7"}, "--max-blksize 7: not a number from 8 to 65464"},
        {{"/", "--max-windowsize", "65"}, "from 1 to 64"},
        {{"/", "--max-transfers"}, "--max-transfers needs a number"},
        {{"/", "--listen", "tftp.example.com"}, "not an IPv4 or IPv6 address"},
        {{"/", "--log-format", "xml"}, "--log-format xml: text or json"},
        {{"/", "--allow-create"}, "--allow-create needs --allow-upload"},
        {{"/", "--allow-upload=yes"}, "unknown option --allow-upload"},
    };
    for (const auto& [arguments, says] : rows) {
        ServeOptions options;
        std::string say;
        EXPECT_EQ(Parse(arguments, &options, &say), 2) << says;
        EXPECT_NE(say.find(says), std::string::npos) << say;
        EXPECT_EQ(say.find('\n'), std::string::npos) << say;
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
    EXPECT_EQ(config.nMaxPerClient, 2);
    EXPECT_EQ(config.nMaxTransfers, 64);
    EXPECT_EQ(config.nMaxBlockSize, 512);
    EXPECT_EQ(config.nMaxWindowSize, 64);
    EXPECT_TRUE(config.bIgnoreCase && !config.bLocalNetworksOnly);
    EXPECT_TRUE(options.bJson && options.bRequireConfinement && options.bListenGiven);

    ASSERT_EQ(Parse({"/"}, &options, &say), -1);
    EXPECT_EQ(options.config.nPort, 69U);
    EXPECT_TRUE(options.config.listen.empty());
    EXPECT_TRUE(!options.config.bAllowUpload && options.config.bLocalNetworksOnly && !options.config.bIgnoreCase);
    EXPECT_TRUE(!options.bJson && !options.bRequireConfinement && !options.bListenGiven);
}

TEST(ServeOptions, HelpAndVersionEndWithStatusZero)
{
    ServeOptions options;
    std::string say;
    EXPECT_EQ(Parse({"/", "--help"}, &options, &say), 0);
    EXPECT_NE(say.find("--require-confinement"), std::string::npos);
    EXPECT_EQ(Parse({"-v"}, &options, &say), 0);
    EXPECT_EQ(say.rfind("tarnwick-serve ", 0), 0U) << say;
}

} // namespace
