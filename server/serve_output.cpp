// SPDX-License-Identifier: MIT
#include "server/serve_output.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

#include "protocol/host_address.h"

namespace {

// The length of the valid UTF-8 sequence at the start of text (no overlong
// forms, no surrogates, nothing above U+10FFFF); 0 when there is none.
size_t Utf8Length(std::string_view text)
{
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U; };
    const unsigned lead = byte(0);
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

// A text line of untrusted make: no byte in it acts on a terminal.
std::string Plain(std::string_view text)
{
    std::string plain;
    plain.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            plain += escaped;
        } else {
            plain += c;
        }
    }
    return plain;
}

std::pair<ServeProtocol, unsigned> KeyOf(const ServeRow& row)
{
    return {row.protocol, row.nId};
}

std::pair<ServeProtocol, unsigned> KeyOf(const std::pair<ServeProtocol, unsigned>& key)
{
    return key;
}

const char* ProtocolName(ServeProtocol protocol)
{
    return protocol == ServeProtocol::http ? "http" : "tftp";
}

} // namespace

std::string IsoTime(const std::tm& local, int nMillis)
{
    const long offset = local.tm_gmtoff / 60; // minutes east of UTC
    const long minutes = offset < 0 ? -offset : offset;
    char text[128];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, nMillis,
                  offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string IsoTimeNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return IsoTime(local, static_cast<int>(now.tv_nsec / 1000000));
}

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    json.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char escaped[8];
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += static_cast<char>(byte);
        } else if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
            json += escaped;
        } else if (byte >= 0x80) {
            if (const size_t length = Utf8Length(text.substr(i)); length > 0) {
                json.append(text.substr(i, length));
                i += length;
                continue;
            }
            std::snprintf(escaped, sizeof escaped, "\\\\x%02X", byte);
            json += escaped;
        } else {
            json += static_cast<char>(byte);
        }
        ++i;
    }
    return json + "\"";
}

const char* ServeStateName(ServeState state)
{
    switch (state) {
    case ServeState::running:
        return "running";
    case ServeState::done:
        return "done";
    case ServeState::failed:
        return "failed";
    case ServeState::refused:
        return "refused";
    case ServeState::sizeQuery:
        return "size-query";
    }
    return "failed";
}

const char* ServeReasonName(ServeReason reason)
{
    static const char* const names[] = {
        "none",       "not-found", "access-denied",  "bad-name",  "uploads-off", "create-off",
        "exists",     "no-folder", "upload-running", "disk-full", "busy",        "file-changed",
        "file-error", "no-answer", "client-error",   "stopped",   "other",
    };
    static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(ServeReason::other) + 1);
    const auto index = static_cast<size_t>(reason);
    return index < sizeof names / sizeof names[0] ? names[index] : "other";
}

CServeOutput::CServeOutput(bool bJson, Writer writer, TimeSource time)
    : m_bJson(bJson), m_writer(std::move(writer)), m_time(std::move(time))
{
}

void CServeOutput::Write(const std::string& line)
{
    if (!m_bBroken && !m_writer(line))
        m_bBroken = true;
}

void CServeOutput::LogLine(std::string_view line)
{
    Say("log", line);
}

void CServeOutput::Say(const char* lpszEvent, std::string_view text,
                       const std::vector<std::pair<std::string, std::string>>& fields)
{
    if (m_bJson) {
        std::string line =
            "{\"time\":\"" + m_time() + "\",\"event\":\"" + lpszEvent + "\",\"text\":" + JsonString(text);
        for (const auto& [name, value] : fields)
            line.append(",").append(JsonString(name)).append(":").append(JsonString(value));
        Write(line + "}");
    } else {
        Write(m_time() + " " + Plain(text));
    }
}

std::string CServeOutput::RowLine(const char* lpszEvent, const ServeRow& row, unsigned nId) const
{
    sockaddr_storage client = row.client;
    const UINT port = ntohs(client.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(client).sin6_port
                                                         : reinterpret_cast<const sockaddr_in&>(client).sin_port);
    const ULONGLONG ms = row.nEndMs > row.nStartMs ? row.nEndMs - row.nStartMs : 0;
    return "{\"time\":\"" + m_time() + "\",\"event\":\"" + lpszEvent + "\",\"id\":" + std::to_string(nId) +
           ",\"protocol\":\"" + ProtocolName(row.protocol) + "\",\"client\":" + JsonString(AddressOnlyText(client)) +
           ",\"port\":" + std::to_string(port) + ",\"file\":" + JsonString(row.file) + ",\"direction\":\"" +
           (row.wDirection == DIRECTION_GET ? "read" : "write") + "\",\"options\":" + JsonString(row.granted) +
           ",\"bytes\":" + std::to_string(row.nBytes) +
           ",\"size\":" + (row.bSizeKnown ? std::to_string(row.nSize) : std::string("null")) + ",\"state\":\"" +
           ServeStateName(row.state) + "\",\"reason\":" + JsonString(row.reason) + ",\"reason_code\":\"" +
           ServeReasonName(row.reasonCode) + "\",\"resends\":" + std::to_string(row.nResends) +
           ",\"ms\":" + std::to_string(ms) + "}";
}

void CServeOutput::Rows(const std::vector<ServeRow>& rows, bool bProgress)
{
    if (!m_bJson)
        return;
    for (const ServeRow& row : rows) {
        const bool running = row.state == ServeState::running;
        const RowKey key{row.protocol, row.nId};
        if (unsigned& seen = m_seen[row.protocol]; row.nId > seen) {
            // New: a running row starts; one that has already ended is told once, by its end.
            seen = row.nId;
            const unsigned id = ++m_nLastId;
            Write(RowLine(running ? "start" : "end", row, id));
            if (running)
                m_running[key] = Told{id, row.nBytes};
            continue;
        }
        const auto told = m_running.find(key);
        if (told == m_running.end())
            continue;
        if (!running) {
            Write(RowLine("end", row, told->second.nId));
            m_running.erase(told);
        } else if (bProgress && row.nBytes != told->second.nBytes) {
            Write(RowLine("progress", row, told->second.nId));
            told->second.nBytes = row.nBytes;
        }
    }
    // A running row the servers no longer show is no longer waited for.
    std::erase_if(m_running, [&rows](const auto& told) {
        return !std::binary_search(rows.begin(), rows.end(), told.first,
                                   [](const auto& a, const auto& b) { return KeyOf(a) < KeyOf(b); });
    });
}

void CServeOutput::Boot(const ProxyDhcpAnswer& answer)
{
    if (m_bJson)
        Write("{\"time\":\"" + m_time() +
              "\",\"event\":\"boot\",\"protocol\":\"dhcp\",\"mac\":" + JsonString(answer.mac) +
              ",\"arch\":" + JsonString(BootArchName(answer.arch)) + ",\"ipxe\":" + (answer.bIpxe ? "true" : "false") +
              ",\"file\":" + JsonString(answer.file) + ",\"text\":" + JsonString(answer.line) + "}");
}
