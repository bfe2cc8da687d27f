// SPDX-License-Identifier: MIT
// What tarnwick-serve writes on standard output: one line per event, each
// starting with the local time (ISO 8601, milliseconds, UTC offset). As text,
// the server's log lines; as JSON (--log-format json), one object a line:
// the log lines, and for the rows a "start" when a transfer starts, a
// "progress" now and then while it runs and an "end" when it ends or is
// refused; a row's "id" is its own among all rows told, TFTP's and HTTP's
// ("protocol"), which count their ids each from 1. With network boot, a
// "boot" for each machine answered. Every untrusted part (a file name, a client's error text) arrives
// escaped by the server and is escaped again for JSON.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/transfer_log.h"
#include "server/proxy_dhcp.h"
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
    // "confinement", "error", "stopped"), text is the line. As JSON, fields
    // follow the text, each a name and a string value; as text, they are left out.
    void Say(const char* lpszEvent, std::string_view text,
             const std::vector<std::pair<std::string, std::string>>& fields = {});
    // The rows as the servers have them now (CTFTPServer::Rows then
    // CServeHttp::Rows: by protocol, then by id): a line
    // for each that is new or has ended since the last call, and with
    // bProgress one for each running row whose bytes have moved. As text,
    // nothing: the log lines tell the same.
    void Rows(const std::vector<ServeRow>& rows, bool bProgress);
    // A machine the proxy DHCP answered for the first time in a while: as
    // JSON, event "boot" with its MAC, architecture and file, and the line
    // the log has for it; as text, nothing (the log line tells).
    void Boot(const ProxyDhcpAnswer& answer);
    // A line could not be written because its reader has gone.
    bool Broken() const { return m_bBroken; }

private:
    void Write(const std::string& line);
    std::string RowLine(const char* lpszEvent, const ServeRow& row, unsigned nId) const;

    bool m_bJson;
    Writer m_writer;
    TimeSource m_time;
    bool m_bBroken = false;
    using RowKey = std::pair<ServeProtocol, unsigned>; // a row's protocol and its id there
    struct Told {
        unsigned nId;     // the row's id in the output
        ULONGLONG nBytes; // as last told
    };
    std::map<ServeProtocol, unsigned> m_seen; // the highest row id told, by protocol
    std::map<RowKey, Told> m_running;         // rows told as running
    unsigned m_nLastId = 0;                   // the last id given in the output
};

// The local time now, as IsoTime writes it.
std::string IsoTimeNow();
