// SPDX-License-Identifier: MIT
#include "serve_lines.h"

#include <charconv>
#include <cstdio>
#include <map>

#include "platform/core/privileged_bind.h"
#include "res/resource.h"
#include "res/strings.h"
#include "server/serve_failure.h"
#include "server/serve_output.h"

namespace {

// A value of a flat JSON object: a string (decoded), a whole number, or
// null, true or false (as the word).
struct Value {
    bool bString = false;
    std::string text;
};

class CReader {
public:
    explicit CReader(std::string_view text) : m_text(text) {}

    // The members of one object that holds no object or array; false for
    // anything else, or anything after it.
    bool Object(std::map<std::string, Value>* pMembers)
    {
        Space();
        if (!Take('{'))
            return false;
        Space();
        if (!Take('}')) {
            do {
                std::string name;
                Value value;
                Space();
                if (!String(&name))
                    return false;
                Space();
                if (!Take(':'))
                    return false;
                Space();
                if (!Scalar(&value))
                    return false;
                (*pMembers)[std::move(name)] = std::move(value);
                Space();
            } while (Take(','));
            if (!Take('}'))
                return false;
        }
        Space();
        return m_at == m_text.size();
    }

private:
    bool Take(char c)
    {
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }

    void Space()
    {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\r'))
            ++m_at;
    }

    bool Scalar(Value* pValue)
    {
        if (m_at < m_text.size() && m_text[m_at] == '"') {
            pValue->bString = true;
            return String(&pValue->text);
        }
        const size_t start = m_at;
        while (m_at < m_text.size() && m_text[m_at] != ',' && m_text[m_at] != '}' && m_text[m_at] != ' ')
            ++m_at;
        pValue->text = std::string(m_text.substr(start, m_at - start));
        return !pValue->text.empty() && pValue->text.find_first_of("{[\"") == std::string::npos;
    }

    bool Hex4(unsigned* pCode)
    {
        if (m_text.size() - m_at < 4)
            return false;
        const auto [end, error] = std::from_chars(m_text.data() + m_at, m_text.data() + m_at + 4, *pCode, 16);
        if (error != std::errc() || end != m_text.data() + m_at + 4)
            return false;
        m_at += 4;
        return true;
    }

    static void AppendUtf8(std::string* pText, unsigned code)
    {
        if (code < 0x20 || code == 0x7F) {
            // A control character stays visible, as the log writes one.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", code);
            pText->append(escaped);
        } else if (code < 0x80) {
            pText->push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            pText->push_back(static_cast<char>(0xC0 | (code >> 6)));
            pText->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            pText->push_back(static_cast<char>(0xE0 | (code >> 12)));
            pText->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            pText->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            pText->push_back(static_cast<char>(0xF0 | (code >> 18)));
            pText->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            pText->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            pText->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    bool String(std::string* pText)
    {
        if (!Take('"'))
            return false;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                pText->push_back(c);
                continue;
            }
            if (m_at >= m_text.size())
                return false;
            const char escape = m_text[m_at++];
            unsigned code = 0;
            switch (escape) {
            case '"':
            case '\\':
            case '/':
                pText->push_back(escape);
                break;
            case 'b':
                AppendUtf8(pText, '\b');
                break;
            case 'f':
                AppendUtf8(pText, '\f');
                break;
            case 'n':
                AppendUtf8(pText, '\n');
                break;
            case 'r':
                AppendUtf8(pText, '\r');
                break;
            case 't':
                AppendUtf8(pText, '\t');
                break;
            case 'u':
                if (!Hex4(&code))
                    return false;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    // A pair of surrogates makes one character; a lone one is none.
                    unsigned low = 0;
                    if (!Take('\\') || !Take('u') || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    return false;
                }
                AppendUtf8(pText, code);
                break;
            default:
                return false;
            }
        }
        return false;
    }

    std::string_view m_text;
    size_t m_at = 0;
};

bool Whole(const std::map<std::string, Value>& members, const char* name, ULONGLONG* pValue)
{
    const auto found = members.find(name);
    if (found == members.end() || found->second.bString)
        return false;
    const std::string& text = found->second.text;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *pValue);
    return error == std::errc() && end == text.data() + text.size();
}

std::string Text(const std::map<std::string, Value>& members, const char* name)
{
    const auto found = members.find(name);
    return found != members.end() && found->second.bString ? found->second.text : std::string();
}

} // namespace

std::optional<ServeLine> ParseServeLine(std::string_view text)
{
    if (text.size() > kServeLineMost)
        return std::nullopt;
    std::map<std::string, Value> members;
    if (!CReader(text).Object(&members))
        return std::nullopt;
    ServeLine line;
    line.event = Text(members, "event");
    if (line.event.empty())
        return std::nullopt;
    const std::pair<const char*, ServeLine::Kind> rowEvents[] = {
        {"start", ServeLine::Kind::start}, {"progress", ServeLine::Kind::progress}, {"end", ServeLine::Kind::end}};
    for (const auto& [name, kind] : rowEvents)
        if (line.event == name)
            line.kind = kind;
    if (line.event == "boot") {
        line.kind = ServeLine::Kind::boot;
        line.client = Text(members, "mac");
        line.arch = Text(members, "arch");
        line.row.file = Text(members, "file");
        const auto ipxe = members.find("ipxe");
        line.bIpxe = ipxe != members.end() && !ipxe->second.bString && ipxe->second.text == "true";
    }
    if (line.kind == ServeLine::Kind::message || line.kind == ServeLine::Kind::boot) {
        line.text = Text(members, "text");
        line.reasonCode = Text(members, "reason_code");
        line.helper = Text(members, "helper");
        line.user = Text(members, "user");
        line.group = Text(members, "group");
        return line;
    }

    ServeRow& row = line.row;
    ULONGLONG id = 0, port = 0, number = 0;
    if (!Whole(members, "id", &id) || id == 0 || id > 0xFFFFFFFFULL)
        return std::nullopt;
    row.nId = static_cast<unsigned>(id);
    const std::string host = Text(members, "client");
    (void)Whole(members, "port", &port);
    line.client = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
    row.file = Text(members, "file");
    line.bHttp = Text(members, "protocol") == "http";
    row.wDirection = Text(members, "direction") == "write" ? DIRECTION_PUT : DIRECTION_GET;
    row.granted = Text(members, "options");
    (void)Whole(members, "bytes", &row.nBytes);
    row.bSizeKnown = Whole(members, "size", &row.nSize);
    if (Whole(members, "resends", &number))
        row.nResends = static_cast<unsigned>(std::min<ULONGLONG>(number, 0xFFFFFFFFULL));
    if (Whole(members, "ms", &number))
        row.nEndMs = number;
    // The names are the writer's own; one not known is the most general.
    const std::string state = Text(members, "state");
    row.state = line.kind == ServeLine::Kind::end ? ServeState::failed : ServeState::running;
    for (const ServeState known :
         {ServeState::running, ServeState::done, ServeState::failed, ServeState::refused, ServeState::sizeQuery})
        if (state == ServeStateName(known))
            row.state = known;
    row.reason = Text(members, "reason");
    const std::string reason = Text(members, "reason_code");
    row.reasonCode = ServeReason::none;
    for (int code = 0; code <= static_cast<int>(ServeReason::other); ++code)
        if (reason == ServeReasonName(static_cast<ServeReason>(code)))
            row.reasonCode = static_cast<ServeReason>(code);
    return line;
}

std::string ServeMessageText(const ServeLine& line)
{
    if (line.kind != ServeLine::Kind::message || line.helper.empty())
        return line.text;
    BindResult refused;
    refused.outcome = BindOutcome::NotPermitted;
    refused.helperGroup = line.group;
    bool known = false;
    using enum HelperRefusal;
    for (const HelperRefusal refusal : {Missing, NotInGroup, NotRunnable, WithoutCapability})
        if (line.reasonCode == Port69ReasonName(refusal)) {
            refused.refusal = refusal;
            known = true;
        }
    // A group to join must be named, or the command would be half of one.
    if (!known || (refused.refusal == NotInGroup && line.group.empty()))
        return line.text;
    return AfxPort69DeniedText(
        refused, line.helper, line.user.empty() ? AfxRealUserName() : line.user,
        {AfxFindString(IDS_SERVE_PORT_69_NO_HELPER), AfxFindString(IDS_SERVE_PORT_69_NOT_IN_GROUP),
         AfxFindString(IDS_SERVE_PORT_69_NOT_RUNNABLE), AfxFindString(IDS_SERVE_PORT_69_DENIED)});
}
