// SPDX-License-Identifier: MIT
#include "protocol/transfer_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Concat(const Bytes& a, const Bytes& b)
{
    Bytes joined(a);
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

// Reads the file in 512-byte requests as a Put does; the counts delivered.
std::vector<int> ReadCounts(const Bytes& content, UINT type, Bytes* delivered = nullptr,
                            LONGLONG* firstReadPos = nullptr)
{
    TempDir dir;
    WriteFileBytes(dir / "source", content);
    CTFTPFile file;
    EXPECT_TRUE(file.Open((dir / "source").c_str(), CFile::modeRead | type));
    std::vector<int> counts;
    BYTE buffer[520];
    for (;;) {
        const int n = file.ReadData(buffer, 512);
        counts.push_back(n);
        if (delivered != nullptr)
            delivered->insert(delivered->end(), buffer, buffer + n);
        if (firstReadPos != nullptr && counts.size() == 1)
            *firstReadPos = file.m_lReadPos;
        if (n < 512)
            break;
    }
    return counts;
}

TEST(TFTPFileRead, TextModeFiltersAndResumesWhereItStoppedConsuming)
{
    struct Row {
        const char* name;
        Bytes content;
        std::vector<int> counts;
    };
    const Row rows[] = {
        {"600 bytes ending in 100 dropped", Concat(Bytes(500, 'a'), Bytes(100, 0x80)), {500}},
        {"1000 bytes starting with 100 dropped", Concat(Bytes(100, 0x80), Bytes(900, 'b')), {512, 388}},
        {"exactly 512", Bytes(512, 'c'), {512, 0}},
        {"empty", Bytes{}, {0}},
        {"1024 with a dropped byte in each block",
         Concat(Concat(Bytes(300, 'd'), Bytes{0xFE}), Bytes(723, 'e')),
         {512, 511}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ReadCounts(row.content, CFile::typeText), row.counts) << row.name;
}

TEST(TFTPFileRead, TextAcrossTheFileBuffersEdges)
{
    // Dropped bytes around every 64 KiB edge of the file's buffer.
    Bytes content;
    Bytes expected;
    for (size_t i = 0; i < 200000; ++i) {
        const bool drop = (i % 65536) > 65500 || (i % 65536) < 30 || i % 1000 == 7;
        const BYTE b = drop ? 0x80 : static_cast<BYTE>('a' + i % 26);
        content.push_back(b);
        if (!drop)
            expected.push_back(b);
    }
    Bytes delivered;
    const std::vector<int> counts = ReadCounts(content, CFile::typeText, &delivered);
    EXPECT_EQ(delivered, expected);
    EXPECT_EQ(counts.back(), static_cast<int>(expected.size() % 512));
}

TEST(TFTPFileRead, ReadPositionAfterConsumingPastDroppedBytes)
{
    Bytes content = Concat(Bytes(100, 0x80), Bytes(900, 'b'));
    content[612] = 'X'; // the 613th raw byte: the first one of the second block
    Bytes delivered;
    LONGLONG readPos = 0;
    EXPECT_EQ(ReadCounts(content, CFile::typeText, &delivered, &readPos), (std::vector<int>{512, 388}));
    EXPECT_EQ(readPos, 612);
    EXPECT_EQ(delivered.size(), 900u);
    EXPECT_EQ(delivered[512], 'X');
}

TEST(TFTPFileRead, CrNulGoesOutUnchanged)
{
    Bytes delivered;
    ReadCounts(Bytes{'a', '\r', 0, 'b', '\r', '\n'}, CFile::typeText, &delivered);
    EXPECT_EQ(delivered, (Bytes{'a', '\r', 0, 'b', '\r', '\n'}));
}

TEST(TFTPFile, BinaryPassesEveryByteBothWays)
{
    Bytes all;
    for (int i = 0; i < 3 * 256; ++i)
        all.push_back(static_cast<BYTE>(i));
    Bytes delivered;
    EXPECT_EQ(ReadCounts(all, CFile::typeBinary, &delivered), (std::vector<int>{512, 256}));
    EXPECT_EQ(delivered, all);

    TempDir dir;
    CTFTPFile file;
    ASSERT_TRUE(file.Open("copy", CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    EXPECT_EQ(file.m_nTransferMode, MODE_BINARY);
    file.WriteData(all.data(), 512);
    file.WriteData(all.data() + 512, 256);
    file.Close();
    EXPECT_EQ(ReadFileBytes(dir / "copy"), all);
    EXPECT_EQ(file.m_chLast, 0xFF);
}

TEST(TFTPFileWrite, CrEndingOneBlockPairsWithTheNextBlock)
{
    struct Row {
        std::string second;
        std::string file;
    };
    using namespace std::string_literals;
    const Row rows[] = {
        {"\nxyz", "ab\r\nxyz"},
        {"xyz", "ab\r\nxyz"},
        {"\0xyz"s, "ab\r\nxyz"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        CTFTPFile file;
        ASSERT_TRUE(file.Open("text", CFile::modeCreate | CFile::modeWrite | CFile::typeText));
        file.WriteData(reinterpret_cast<const BYTE*>("ab\r"), 3);
        file.WriteData(reinterpret_cast<const BYTE*>(row.second.data()), static_cast<int>(row.second.size()));
        file.Close();
        const Bytes written = ReadFileBytes(dir / "text");
        EXPECT_EQ(std::string(written.begin(), written.end()), row.file);
    }
}

TEST(TFTPFile, TypeFlagsChooseTheMode)
{
    struct Row {
        UINT flags;
        int mode;
    };
    const Row rows[] = {
        {CFile::typeText, MODE_ASCII},
        {CFile::typeBinary, MODE_BINARY},
        {CFile::typeText | CFile::typeBinary, MODE_ASCII},
        {0, MODE_BINARY},
    };
    for (const Row& row : rows) {
        TempDir dir;
        WriteFileBytes(dir / "f", Bytes{'x'});
        CTFTPFile file;
        EXPECT_EQ(file.m_nTransferMode, 0);
        ASSERT_TRUE(file.Open("f", CFile::modeRead | row.flags));
        EXPECT_EQ(file.m_nTransferMode, row.mode);
    }
}

} // namespace
