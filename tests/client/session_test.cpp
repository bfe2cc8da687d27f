// SPDX-License-Identifier: MIT
#include "client/session.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "protocol/errors.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/counted_session.h"
#include "tests/support/fake_peer.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Describe(const MSG& msg)
{
    switch (msg.message) {
    case WM_TFTP_PROGRESS:
        return "progress " + std::to_string(msg.lParam);
    case WM_TFTP_COMPLETE:
        return "complete";
    case WM_TFTP_STARTED:
        return "started";
    case WM_TFTP_FAILED:
        return "failed";
    case WM_TFTP_TIMEOUT:
        return "timeout";
    case WM_TFTP_REQUEST_SENT:
        return "request sent";
    default:
        return "message " + std::to_string(msg.message);
    }
}

class ProbeSession : public CTFTPSession {
public:
    using CTFTPSession::CTFTPSession;
    using CTFTPSession::m_wState;

    void ReceiveWaiting()
    {
        ASSERT_TRUE(WaitReadable(m_hSocket));
        OnReceive(0);
    }
};

// Sends fail with a chosen errno once `failSends` is set.
class SessionWithFailingSend : public ProbeSession {
public:
    using ProbeSession::ProbeSession;
    int failSends = 0;

    int Send(const void* lpBuf, int nBufLen, int nFlags) override
    {
        if (failSends == 0)
            return ProbeSession::Send(lpBuf, nBufLen, nFlags);
        SetLastError(failSends);
        return SOCKET_ERROR;
    }
};

class Session : public ::testing::Test {
protected:
    std::vector<std::string> TakeMessages()
    {
        std::vector<std::string> messages;
        MSG msg;
        while (owner.PeekMessage(&msg))
            messages.push_back(Describe(msg));
        return messages;
    }

    // Starts a transfer and takes its request off the wire.
    Bytes Start(ProbeSession& session, WORD direction, const std::string& local, const std::string& remote,
                WORD mode = MODE_BINARY)
    {
        EXPECT_TRUE(session.Start(server.HostString().c_str(), local.c_str(), remote.c_str(), direction, mode));
        return server.Receive().value_or(Bytes{});
    }

    void FromTransfer(ProbeSession& session, const Bytes& datagram)
    {
        transfer.SendTo(LocalPort(session.m_hSocket), datagram);
        session.ReceiveWaiting();
    }

    // Plays the server of a Put to its end: acknowledges every block and
    // returns the payloads received.
    Bytes ServePut(ProbeSession& session)
    {
        Bytes received;
        WORD block = 0;
        for (;;) {
            FromTransfer(session, AckPacket(block));
            const std::optional<Bytes> data = transfer.TryReceive();
            if (!data)
                return received;
            block = GetWordOf(*data, 2);
            received.insert(received.end(), data->begin() + 4, data->end());
        }
    }

    static WORD GetWordOf(const Bytes& bytes, size_t offset)
    {
        return static_cast<WORD>((bytes[offset] << 8) | bytes[offset + 1]);
    }

    TempDir dir;
    CMessageBoxRecorder boxes;
    CWnd owner;
    FakePeer server;
    FakePeer transfer;
};

TEST_F(Session, PutSendsEveryBlockAndCompletesOnTheLastAck)
{
    struct Row {
        size_t size;
        std::vector<std::string> messages;
    };
    const Row rows[] = {
        {0, {"request sent", "started", "progress 0", "complete"}},
        {512, {"request sent", "started", "progress 512", "progress 0", "complete"}},
        {513, {"request sent", "started", "progress 512", "progress 1", "complete"}},
        {700, {"request sent", "started", "progress 512", "progress 188", "complete"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        Bytes content(row.size);
        for (size_t i = 0; i < row.size; ++i)
            content[i] = static_cast<BYTE>(i * 7);
        WriteFileBytes(dir / "local.bin", content);
        ProbeSession session(&owner);
        EXPECT_EQ(Start(session, DIRECTION_PUT, dir / "local.bin", "remote.bin"),
                  BytesOf(std::string("\0\2remote.bin\0octet\0", 19)));
        EXPECT_EQ(ServePut(session), content);
        EXPECT_EQ(TakeMessages(), row.messages);
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Session, GetStoresEveryBlockAndCompletesOnAShortOne)
{
    struct Row {
        size_t size;
        std::vector<std::string> messages;
    };
    const Row rows[] = {
        {100, {"request sent", "started", "progress 100", "complete"}},
        {512, {"request sent", "started", "progress 512", "progress 0", "complete"}},
        {1024, {"request sent", "started", "progress 512", "progress 512", "progress 0", "complete"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        Bytes content(row.size);
        for (size_t i = 0; i < row.size; ++i)
            content[i] = static_cast<BYTE>(255 - i % 256);
        ProbeSession session(&owner);
        EXPECT_EQ(Start(session, DIRECTION_GET, "", "got.bin"), BytesOf(std::string("\0\1got.bin\0octet\0", 16)));
        for (size_t offset = 0, block = 1;; offset += 512, ++block) {
            const size_t length = std::min<size_t>(512, row.size - offset);
            FromTransfer(session, DataPacket(static_cast<WORD>(block),
                                             Bytes(content.begin() + static_cast<std::ptrdiff_t>(offset),
                                                   content.begin() + static_cast<std::ptrdiff_t>(offset + length))));
            EXPECT_EQ(transfer.TryReceive(), AckPacket(static_cast<WORD>(block)));
            if (length < 512)
                break;
        }
        EXPECT_EQ(TakeMessages(), row.messages);
        EXPECT_EQ(ReadFileBytes(dir / "got.bin"), content);
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"got.bin"});
}

TEST_F(Session, GetAsksForTheNameAsTypedAndStoresItsLastPartHere)
{
    // The current directory is work/; nothing may land anywhere else.
    std::filesystem::create_directories(dir / "work/pxelinux.cfg");
    std::filesystem::create_directory(dir / "elsewhere");
    std::filesystem::current_path(dir / "work");
    const std::string absolute = dir / "elsewhere/abs.txt";
    struct Row {
        std::string remote;
        const char* local; // nullptr: refused before anything is sent
    };
    const Row rows[] = {
        {"plain.txt", "plain.txt"},
        {absolute, "abs.txt"},
        {"../dotdot.txt", "dotdot.txt"},
        {"pxelinux.cfg/default", "default"},
        {"boot/", nullptr},
        {"/", nullptr},
        {".", nullptr},
        {"a/..", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.remote);
        CMessageBoxRecorder recorder;
        ProbeSession session(&owner);
        if (row.local == nullptr) {
            EXPECT_FALSE(
                session.Start(server.HostString().c_str(), "", row.remote.c_str(), DIRECTION_GET, MODE_BINARY));
            EXPECT_EQ(recorder.Texts(), std::vector<std::string>{
                                            AfxFormatString(AfxFindString(IDS_GET_NO_FILE_NAME), row.remote.c_str())});
            EXPECT_EQ(server.TryReceive(), std::nullopt);
            continue;
        }
        EXPECT_EQ(Start(session, DIRECTION_GET, "", row.remote),
                  BytesOf(std::string("\0\1", 2) + row.remote + std::string("\0octet\0", 7)));
        FromTransfer(session, DataPacket(1, BytesOf(row.remote)));
        EXPECT_EQ(ReadFileBytes(dir / ("work/" + std::string(row.local))), BytesOf(row.remote));
        EXPECT_TRUE(recorder.boxes.empty());
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"elsewhere", "work"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "elsewhere"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "work/pxelinux.cfg"));
}

TEST_F(Session, FailedStartSendsAndPostsNothing)
{
    struct Row {
        WORD direction;
        const char* host; // empty: the fake server
        const char* local;
        const char* remote;
        std::string text;
    };
    const Row rows[] = {
        // A file that cannot be opened is named, with the system's reason.
        {DIRECTION_PUT, "", "no-such-file", "x",
         "Unable to open the selected file for reading.\n" + (dir / "no-such-file") + ": No such file or directory"},
        {DIRECTION_GET, "", "", "existing-dir",
         "Unable to open the selected file for writing.\n" + (dir / "existing-dir") + ": Is a directory"},
        {DIRECTION_GET, "nosuchhost.invalid", "", "x",
         AfxFormatString(AfxFindString(IDS_HOST_NOT_FOUND), "nosuchhost.invalid",
                         AfxFindString(IDS_DESTINATION_UNAVAILABLE))},
        {DIRECTION_PUT, "127.0.0.1:0", "existing-dir/../local", "x",
         AfxFormatString(AfxFindString(IDS_BAD_HOST), "127.0.0.1:0")},
        {DIRECTION_PUT, "", "existing-dir", "x",
         "Unable to open the selected file for reading.\n" + (dir / "existing-dir") + ": Is a directory"},
        // A pipe is no file: opening it must neither wait for a writer nor be tried.
        {DIRECTION_PUT, "", "pipe", "x",
         "Unable to open the selected file for reading.\n" + (dir / "pipe") + ": Invalid argument"},
        {DIRECTION_GET, "", "", "pipe",
         "Unable to open the selected file for writing.\n" + (dir / "pipe") + ": Invalid argument"},
    };
    std::filesystem::create_directory(dir / "existing-dir");
    WriteFileBytes(dir / "local", Bytes{'l'});
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.remote);
        CMessageBoxRecorder recorder;
        {
            ProbeSession session(&owner);
            const std::string host = *row.host != '\0' ? row.host : server.HostString();
            EXPECT_FALSE(session.Start(host.c_str(), row.local, row.remote, row.direction, MODE_BINARY));
        }
        EXPECT_EQ(recorder.Texts(), std::vector<std::string>{row.text});
        EXPECT_TRUE(TakeMessages().empty());
        EXPECT_EQ(server.TryReceive(), std::nullopt);
    }
    // A Get that never started left no file behind.
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"existing-dir", "local", "pipe"}));
}

TEST_F(Session, AGetIntoAReadOnlyDirectoryNamesTheTargetNotItsTemporaryFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    {
        ProbeSession session(&owner);
        EXPECT_FALSE(session.Start(server.HostString().c_str(), "", "backup.cfg", DIRECTION_GET, MODE_BINARY));
    }
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Unable to open the selected file for writing.\n" +
                                                      (dir / "backup.cfg") + ": Permission denied"});
    EXPECT_EQ(server.TryReceive(), std::nullopt);
}

TEST_F(Session, APutWhoseFileChangesSizeEndsWithAnErrorNeverAShortBlock)
{
    // Past the 64 KiB the file layer reads at once, so the change is seen.
    const size_t size = 200 * 1024;
    struct Row {
        WORD mode;
        long newSize; // the file's size once block 10 has gone
        bool fails;
    };
    const Row rows[] = {
        {MODE_BINARY, 10240, true},
        {MODE_ASCII, 10240, true},
        {MODE_BINARY, 0, true},
        {MODE_BINARY, static_cast<long>(size) + 1000, true},
        {MODE_ASCII, static_cast<long>(size) + 1000, true},
        {MODE_BINARY, static_cast<long>(size), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.newSize);
        const std::string path = dir / "local.txt";
        Bytes content(size);
        for (size_t i = 0; i < size; ++i)
            content[i] = static_cast<BYTE>('a' + i % 26);
        WriteFileBytes(path, content);
        CMessageBoxRecorder recorder;
        ProbeSession session(&owner);
        Start(session, DIRECTION_PUT, path, "remote", row.mode);

        Bytes received;
        std::optional<Bytes> datagram;
        for (WORD block = 0;; ++block) {
            if (block == 10)
                std::filesystem::resize_file(path, static_cast<std::uintmax_t>(row.newSize));
            FromTransfer(session, AckPacket(block));
            datagram = transfer.TryReceive();
            if (!datagram || (*datagram)[1] != TFTP_OPCODE_DATA)
                break;
            received.insert(received.end(), datagram->begin() + 4, datagram->end());
        }
        const std::vector<std::string> messages = TakeMessages();
        if (row.fails) {
            EXPECT_EQ(datagram, BytesOf(std::string("\0\5\0\0Local file changed during transfer\0", 39)));
            EXPECT_EQ(received.size() % 512, 0u) << "a short block went out";
            EXPECT_EQ(recorder.Texts(),
                      std::vector<std::string>{AfxFormatString(AfxFindString(IDS_PUT_FILE_CHANGED), path.c_str())});
            EXPECT_EQ(messages.back(), "failed");
            EXPECT_EQ(session.m_wState, TFTP_STATE_CLOSED);
        } else {
            EXPECT_EQ(received, ReadFileBytes(path));
            EXPECT_EQ(messages.back(), "complete");
        }
    }
}

TEST_F(Session, AFailedSendEndsTheTransferUnlessTheDatagramWasOnlyDropped)
{
    enum class Where { ack, data, resend };
    struct Row {
        Where where;
        int error;
        std::vector<std::string> boxes; // empty: the transfer goes on
    };
    const std::string refused = SocketErrorText(ECONNREFUSED);
    const std::string unspecified = AfxLoadString(IDS_UNSPECIFIED_ERROR);
    const Row rows[] = {
        {Where::ack, ECONNREFUSED, {refused, unspecified}},
        {Where::data, ECONNREFUSED, {refused, unspecified}},
        {Where::resend, ECONNREFUSED, {refused}},
        {Where::ack, ENOBUFS, {}},
        {Where::data, EAGAIN, {}},
        {Where::resend, ENOBUFS, {}},
    };
    WriteFileBytes(dir / "local", Bytes(600, 'p'));
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.where) * 1000 + row.error);
        CMessageBoxRecorder recorder;
        SessionWithFailingSend session(&owner);
        const bool get = row.where != Where::data;
        Start(session, get ? DIRECTION_GET : DIRECTION_PUT, dir / "local", "remote");
        if (row.where == Where::resend) {
            FromTransfer(session, DataPacket(1, 512));
            session.failSends = row.error;
            for (int tick = 0; tick < TFTP_TICKS_PER_RESEND; ++tick)
                session.OnTick();
        } else {
            session.failSends = row.error;
            FromTransfer(session, get ? DataPacket(1, 512) : AckPacket(0));
        }
        const std::vector<std::string> messages = TakeMessages();
        EXPECT_EQ(recorder.Texts(), row.boxes);
        if (row.boxes.empty()) {
            EXPECT_NE(messages.back(), "failed");
            EXPECT_NE(session.m_wState, TFTP_STATE_CLOSED);
        } else {
            EXPECT_EQ(messages.back(), "failed");
            EXPECT_EQ(session.m_wState, TFTP_STATE_CLOSED);
        }
        // What this row sent is no concern of the next.
        while (transfer.TryReceive()) {
        }
    }
}

TEST_F(Session, DataInsteadOfAckFailsThePut)
{
    WriteFileBytes(dir / "local", Bytes(10, 'x'));
    ProbeSession session(&owner);
    Start(session, DIRECTION_PUT, dir / "local", "remote");
    FromTransfer(session, DataPacket(0, 10));
    EXPECT_EQ(transfer.TryReceive(), (Bytes{0, 5, 0, 4, 0}));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{AfxLoadString(IDS_UNSPECIFIED_ERROR)});
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"request sent", "started", "failed"}));
}

TEST_F(Session, RepeatedFinalAckCompletesAgain)
{
    WriteFileBytes(dir / "local", Bytes(10, 'x'));
    ProbeSession session(&owner);
    Start(session, DIRECTION_PUT, dir / "local", "remote");
    ServePut(session);
    FromTransfer(session, AckPacket(1));
    EXPECT_EQ(TakeMessages(),
              (std::vector<std::string>{"request sent", "started", "progress 10", "complete", "complete"}));
}

TEST_F(Session, OversizedDataDuringAGetWritesNothing)
{
    ProbeSession session(&owner);
    Start(session, DIRECTION_GET, "", "got");
    FromTransfer(session, DataPacket(1, 513));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{AfxLoadString(IDS_UNSPECIFIED_ERROR)});
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"request sent", "started", "failed"}));
}

TEST_F(Session, RefusedGetLeavesAnExistingFileAsItWas)
{
    const Bytes original(3000, 'o');
    WriteFileBytes(dir / "config.txt", original);
    {
        ProbeSession session(&owner);
        Start(session, DIRECTION_GET, "", "config.txt");
        FromTransfer(session, ErrorPacket(1, "File not found"));
        EXPECT_EQ(boxes.FirstParagraphs(), std::vector<std::string>{AfxLoadString(IDS_PEER_FILE_NOT_FOUND)});
        EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"request sent", "started", "failed"}));
    }
    EXPECT_EQ(ReadFileBytes(dir / "config.txt"), original);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"config.txt"});
}

TEST_F(Session, RefusedGetOfANewNameLeavesNoFile)
{
    {
        ProbeSession session(&owner);
        Start(session, DIRECTION_GET, "", "new.bin");
        FromTransfer(session, ErrorPacket(2, "Access violation"));
    }
    EXPECT_TRUE(dir.Names().empty());
}

TEST_F(Session, DataAfterTheLastBlockChangesNothing)
{
    ProbeSession session(&owner);
    Start(session, DIRECTION_GET, "", "short.txt");
    FromTransfer(session, DataPacket(1, BytesOf("done")));
    EXPECT_EQ(transfer.TryReceive(), AckPacket(1));
    TakeMessages();

    FromTransfer(session, DataPacket(1, BytesOf("done"))); // a repeat: not acknowledged again
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
    FromTransfer(session, DataPacket(2, BytesOf("more"))); // past the end: nothing is stored
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(dir / "short.txt"), BytesOf("done"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Session, GetEndedHalfWayLeavesAnExistingFileAsItWas)
{
    const Bytes original(100, 'o');
    WriteFileBytes(dir / "image.bin", original);
    {
        ProbeSession session(&owner);
        Start(session, DIRECTION_GET, "", "image.bin");
        FromTransfer(session, DataPacket(1, 512));
        FromTransfer(session, DataPacket(2, 512));
        for (int tick = 0; tick < 18; ++tick)
            session.OnTick();
        EXPECT_EQ(TakeMessages(),
                  (std::vector<std::string>{"request sent", "started", "progress 512", "progress 512", "timeout"}));
    } // the window deletes the session
    EXPECT_EQ(ReadFileBytes(dir / "image.bin"), original);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"image.bin"});
}

TEST_F(Session, DeletionAskedForInsideItsOwnBoxWaitsForTheCall)
{
    int deleted = 0;
    auto* session = new CountedSession<ProbeSession>(&owner, &deleted);
    Start(*session, DIRECTION_GET, "", "x.bin");
    boxes.onShow = [&](const CMessageBoxRecorder::Box&) {
        session->DeleteWhenIdle(); // the window ends the transfer from the box's loop
        EXPECT_EQ(deleted, 0);
        return IDOK;
    };
    transfer.SendTo(LocalPort(session->m_hSocket), ErrorPacket(1, ""));
    ASSERT_TRUE(WaitReadable(session->m_hSocket));
    session->OnReceive(0);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"request sent", "started", "failed"}));

    auto* idle = new CountedSession<ProbeSession>(&owner, &deleted);
    idle->DeleteWhenIdle();
    EXPECT_EQ(deleted, 2);
}

// A file whose writes find the disk full after the first block, or whose reads fail.
class FailingFile : public CTFTPFile {
public:
    void Write(const void* lpBuf, UINT nCount) override
    {
        if (m_nWrites++ > 0)
            CFileException::ThrowOsError(ENOSPC, GetFilePath());
        CTFTPFile::Write(lpBuf, nCount);
    }
    UINT Read(void*, UINT) override { CFileException::ThrowOsError(EIO, GetFilePath()); }
    void Commit() override
    {
        if (m_bFailCommit)
            CFileException::ThrowOsError(EXDEV, GetFilePath());
        CTFTPFile::Commit();
    }

    int m_nWrites = 0;
    static inline bool m_bFailCommit = false;
};

class SessionWithFailingFile : public ProbeSession {
public:
    using ProbeSession::ProbeSession;

protected:
    CTFTPFile* CreateFileObject() override { return new FailingFile; }
};

TEST_F(Session, FullDiskEndsTheGetWithItsMessage)
{
    const Bytes original(2000, 'o');
    WriteFileBytes(dir / "big.bin", original);
    {
        SessionWithFailingFile session(&owner);
        EXPECT_TRUE(session.Start(server.HostString().c_str(), "", "big.bin", DIRECTION_GET, MODE_BINARY));
        server.Receive();
        FromTransfer(session, DataPacket(1, 512));
        FromTransfer(session, DataPacket(2, 100));
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Disk full while accessing " + (dir / "big.bin") + "."});
        EXPECT_EQ(boxes.boxes[0].nType, MB_OK | MB_ICONSTOP);
        EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"request sent", "started", "progress 512", "failed"}));
        EXPECT_EQ(session.m_wState, TFTP_STATE_CLOSED);

        // Both blocks were acknowledged before the second was stored, and
        // nothing is resent after the failure.
        EXPECT_EQ(transfer.TryReceive(), AckPacket(1));
        EXPECT_EQ(transfer.TryReceive(), AckPacket(2));
        for (int tick = 0; tick < 20; ++tick)
            session.OnTick();
        EXPECT_EQ(transfer.TryReceive(), std::nullopt);
        EXPECT_TRUE(TakeMessages().empty());
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(ReadFileBytes(dir / "big.bin"), original);
}

TEST_F(Session, AFileThatCannotBePutInPlaceFailsTheGet)
{
    WriteFileBytes(dir / "target.bin", Bytes{'o', 'l', 'd'});
    FailingFile::m_bFailCommit = true;
    {
        SessionWithFailingFile session(&owner);
        EXPECT_TRUE(session.Start(server.HostString().c_str(), "", "target.bin", DIRECTION_GET, MODE_BINARY));
        server.Receive();
        FromTransfer(session, DataPacket(1, 3));
    }
    FailingFile::m_bFailCommit = false;
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"An unknown error occurred while accessing " + (dir / "target.bin") +
                                       ".\nThe system reports: Invalid cross-device link."});
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"request sent", "started", "failed"}));
    EXPECT_EQ(ReadFileBytes(dir / "target.bin"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"target.bin"});
}

TEST_F(Session, ReadErrorEndsThePutBeforeAnyDataGoesOut)
{
    WriteFileBytes(dir / "local", Bytes(10, 'x'));
    SessionWithFailingFile session(&owner);
    EXPECT_TRUE(session.Start(server.HostString().c_str(), (dir / "local").c_str(), "r", DIRECTION_PUT, MODE_ASCII));
    server.Receive();
    FromTransfer(session, AckPacket(0));
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"A hardware I/O error was reported while accessing " +
                                                      (dir / "local") + ".\nThe system reports: Input/output error."});
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"request sent", "started", "failed"}));
}

} // namespace
