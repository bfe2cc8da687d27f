// SPDX-License-Identifier: MIT
// What tarnwick-serve writes on standard output: one line per event, each
// starting with the local time (ISO 8601, milliseconds, UTC offset). As text,
// the server's log lines; as JSON (--log-format json), one object a line:
// the log lines, and for the rows a "start" when a transfer starts, a
// "progress" now and then while it runs and an "end" when it ends or is
// refused. Every untrusted part (a file name, a client's error text) arrives
// escaped by the server and is escaped again for JSON.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/transfer_log.h"
#include "server/server.h"

// "2025-06-01T12:34:56.789+02:00" from a local time with its tm_gmtoff.
std::string IsoTime(const std::tm& local, int nMillis);

// text as a JSON string, quotes included: control bytes as \u00XX; valid
// UTF-8 as it is; any other byte as the four characters \xNN, as the log
// writes untrusted bytes.
std::string JsonString(std::string_view text);

// The words a row's fields have in JSON.
const char* ServeStateName(ServeState state);
const char* ServeReasonName(ServeReason reason);

class CServeOutput : public ITransferLog {
public:
    // Writes one line (without its newline); false when no one reads any more.
    using Writer = std::function<bool(std::string_view line)>;
    // The time a line starts with.
    using TimeSource = std::function<std::string()>;

    CServeOutput(bool bJson, Writer writer, TimeSource time);

    // One of the server's log lines.
    void LogLine(std::string_view line) override;
    // A line of the program's own: event names it in JSON ("serving",
    // "confinement", "error", "stopped"), text is the line.
    void Say(const char* lpszEvent, std::string_view text);
    // The rows as the server has them now (CTFTPServer::Rows, by id): a line
    // for each that is new or has ended since the last call, and with
    // bProgress one for each running row whose bytes have moved. As text,
    // nothing: the log lines tell the same.
    void Rows(const std::vector<ServeRow>& rows, bool bProgress);
    // A line could not be written because its reader has gone.
    bool Broken() const { return m_bBroken; }

private:
    void Write(const std::string& line);
    std::string RowLine(const char* lpszEvent, const ServeRow& row) const;

    bool m_bJson;
    Writer m_writer;
    TimeSource m_time;
    bool m_bBroken = false;
    unsigned m_nSeen = 0;                    // the highest row id told
    std::map<unsigned, ULONGLONG> m_running; // rows told as running, with their bytes as last told
};

// The local time now, as IsoTime writes it.
std::string IsoTimeNow();
