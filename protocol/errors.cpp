// SPDX-License-Identifier: MIT
#include "protocol/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/core/format.h"
#include "protocol/packet.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {

// The hint for a refusal, by what was asked and the code; 0 when none is known.
UINT PeerErrorHint(WORD wDirection, WORD wCode)
{
    const bool put = wDirection == DIRECTION_PUT;
    switch (wCode) {
    case 1:
        return put ? IDS_HINT_SERVER_CREATES : IDS_HINT_GET_NOT_FOUND;
    case 2:
        return put ? IDS_HINT_SERVER_CREATES : IDS_HINT_GET_ACCESS;
    case 3:
        return put ? IDS_HINT_DISK_FULL : 0;
    case 6:
        return put ? IDS_HINT_FILE_EXISTS : 0;
    default:
        return 0;
    }
}

} // namespace

std::string SocketErrorText(int nError)
{
    switch (nError) {
    case EINVAL:
    case EADDRNOTAVAIL:
        return AfxLoadString(IDS_DESTINATION_UNAVAILABLE);
    case ENETUNREACH:
        return AfxLoadString(IDS_DESTINATION_UNREACHABLE);
    case ECONNABORTED:
        return AfxLoadString(IDS_SESSION_ABORTED);
    default: {
        // The format is the program's own string; only a number goes into it.
        char text[256];
        std::snprintf(text, sizeof text, AfxFindString(IDS_GENERAL_FAILURE), nError);
        return text;
    }
    }
}

std::string PeerErrorText(const BYTE* pDatagram, int nLength)
{
    const WORD code = nLength >= TFTP_HEADER_SIZE ? GetWord(pDatagram + 2) : WORD{0xFFFF};
    if (code == 0)
        return ShownPeerText(PeerErrorMessage(pDatagram, nLength));
    if (code <= 6)
        return AfxLoadString(IDS_PEER_FILE_NOT_FOUND + code - 1);
    return AfxLoadString(IDS_UNSPECIFIED_ERROR);
}

std::string ShownPeerText(std::string_view text, size_t nLimit)
{
    size_t length = text.size();
    if (length > nLimit) {
        // Not inside a UTF-8 character: back over at most three continuation bytes.
        length = nLimit;
        while (length > 0 && nLimit - length < 3 && (static_cast<BYTE>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    std::string shown(text.substr(0, length));
    for (char& c : shown) {
        if (static_cast<BYTE>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    while (!shown.empty() && shown.back() == ' ')
        shown.pop_back();
    if (length < text.size())
        shown += "...";
    return shown;
}

std::string TftpErrorMeaning(WORD wCode)
{
    const std::string_view meanings = AfxFindString(IDS_TFTP_ERROR_MEANINGS);
    size_t start = 0;
    for (WORD line = 0; line < wCode && start != std::string_view::npos; ++line) {
        start = meanings.find('\n', start);
        if (start != std::string_view::npos)
            ++start;
    }
    if (start == std::string_view::npos)
        return {};
    return std::string(meanings.substr(start, meanings.find('\n', start) - start));
}

bool ErrorMayRefuseOptions(WORD wCode)
{
    return wCode == 0 || wCode == 4 || wCode == 8;
}

std::string PeerErrorReport(WORD wDirection, std::string_view remoteName, std::string_view hostText,
                            const BYTE* pDatagram, int nLength)
{
    const WORD code = nLength >= TFTP_HEADER_SIZE ? GetWord(pDatagram + 2) : WORD{0xFFFF};
    const std::string serverText = ShownPeerText(PeerErrorMessage(pDatagram, nLength));
    std::string answer;
    if (const std::string meaning = TftpErrorMeaning(code); !meaning.empty())
        answer = ", " + meaning;
    // Code 0's text is the first paragraph already.
    if (code != 0 && !serverText.empty())
        answer += " (\"" + serverText + "\")";
    const UINT format = wDirection == DIRECTION_PUT ? IDS_PEER_ERROR_PUT : IDS_PEER_ERROR_GET;
    std::string report =
        AfxFormatString(AfxFindString(format), ShownPeerText(remoteName, TFTP_MAX_NAME).c_str(),
                        ShownPeerText(hostText, TFTP_MAX_NAME).c_str(), static_cast<unsigned>(code), answer.c_str());
    if (const UINT hint = PeerErrorHint(wDirection, code); hint != 0)
        report.append("\n").append(AfxLoadString(hint));
    const std::string first = PeerErrorText(pDatagram, nLength);
    return first.empty() ? report : first + "\n\n" + report;
}

std::string OpenFailedText(UINT nID, const CFileException& error)
{
    // The string's second sentence guesses at a file in use: it stands only
    // where that is the cause, or where the cause is not known.
    std::string text = AfxLoadString(nID);
    const long reason = error.m_lOsError;
    if (reason <= 0 || reason == ETXTBSY || reason == EBUSY || error.m_strFileName.empty())
        return text;
    return text.substr(0, text.find('\n')) + "\n" + error.m_strFileName + ": " +
           std::strerror(static_cast<int>(reason));
}

std::string FileErrorText(const CFileException& error)
{
    std::string text = error.GetErrorMessage();
    // Where the cause's own text says all (a full disk, denied access, a
    // missing file), the system's reason would only repeat it.
    const long reason = error.m_lOsError;
    if (reason > 0 && reason != ENOSPC && reason != EACCES && reason != ENOENT)
        text.append("\n").append(
            AfxFormatString(AfxFindString(IDS_FILE_ERROR_REASON), std::strerror(static_cast<int>(reason))));
    return text;
}
