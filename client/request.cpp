// SPDX-License-Identifier: MIT
#include "client/request.h"

#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "client/local_name.h"
#include "platform/core/format.h"
#include "protocol/errors.h"
#include "protocol/packet.h"
#include "res/resource.h"
#include "res/strings.h"

TftpRequestCheck CheckRequest(const char* lpszHost, const char* lpszRemoteName, WORD wDirection)
{
    TftpRequestCheck check;
    check.strRemoteName = lpszRemoteName;
    check.wDirection = wDirection;
    if (wDirection == DIRECTION_GET) {
        // The request names the remote file exactly as typed; the local file
        // is its last component, in the current directory and nowhere else.
        check.strLocalName = LocalNameOfRemote(check.strRemoteName);
        if (check.strLocalName.empty()) {
            check.strMessage = AfxFormatString(AfxFindString(IDS_GET_NO_FILE_NAME), lpszRemoteName);
            return check;
        }
    }
    if (check.strRemoteName.size() > static_cast<size_t>(TFTP_MAX_NAME))
        check.strMessage = SocketErrorText(ENAMETOOLONG);
    else if (!ParseHostText(lpszHost, TFTP_SERVER_PORT, &check.host))
        check.strMessage = AfxFormatString(AfxFindString(IDS_BAD_HOST), lpszHost);
    return check;
}

void CTftpRequest::Set(const TftpRequestCheck& check, WORD wMode, int nBlockSize)
{
    m_check = check;
    m_wMode = wMode;
    m_nBlockSize = nBlockSize;
    m_eNegotiation = TftpNegotiation::None;
}

void CTftpRequest::FitOptions(const sockaddr_storage& address, TftpOptions* pOptions) const
{
    const bool ipv6 = address.ss_family == AF_INET6 &&
                      !IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
    pOptions->nBlockSize =
        pOptions->bDefaultBlockSize && ipv6 ? std::min(m_nBlockSize, TFTP_DEFAULT_BLOCK_SIZE_IPV6) : m_nBlockSize;
}

int CTftpRequest::Build(BYTE* pBuffer, int nCapacity, const TftpOptions& options)
{
    const int length = BuildRequest(pBuffer, std::min(nCapacity, TFTP_MAX_REQUEST), m_check.wDirection,
                                    m_check.strRemoteName.c_str(), m_wMode);
    if (length == 0 || m_eNegotiation == TftpNegotiation::RetriedPlain)
        return length;
    if (!options.Any()) {
        m_eNegotiation = TftpNegotiation::None;
        return length;
    }
    const int withOptions = AppendOptions(pBuffer, length, nCapacity, options);
    m_eNegotiation = withOptions == 0 ? TftpNegotiation::LeftOut : TftpNegotiation::Asked;
    return withOptions == 0 ? length : withOptions;
}

std::string CTftpRequest::SentText(const std::string& where) const
{
    return std::string(m_check.wDirection == DIRECTION_GET ? "Read" : "Write") + " request for \"" +
           m_check.strRemoteName + "\" (" + TftpModeString(m_wMode) + ") sent to " + where;
}

std::string CTftpRequest::HostShown(const sockaddr_storage& address) const
{
    // "tftp.example (192.0.2.7 port 69)", "127.0.0.1 port 6969", "192.0.2.7".
    const std::string& host = m_check.host.host;
    std::string shown = AddressText(address);
    if (shown == host + " port " + std::to_string(TFTP_SERVER_PORT))
        return host;
    if (shown.starts_with(host + " port "))
        return shown;
    return host + " (" + shown + ")";
}

std::string OptionsText(const TftpOptions& options)
{
    std::string text;
    if (options.nBlockSize != 0)
        AppendOptionText(text, TFTP_OPTION_BLKSIZE, static_cast<ULONGLONG>(options.nBlockSize));
    if (options.nTimeout != 0)
        AppendOptionText(text, TFTP_OPTION_TIMEOUT, static_cast<ULONGLONG>(options.nTimeout));
    if (options.bFileSize)
        AppendOptionText(text, TFTP_OPTION_TSIZE, options.nFileSize);
    if (options.nWindowSize != 0)
        AppendOptionText(text, TFTP_OPTION_WINDOWSIZE, static_cast<ULONGLONG>(options.nWindowSize));
    return text;
}

std::string GrantedText(const TftpGranted& granted)
{
    std::string text;
    AppendOptionText(text, TFTP_OPTION_BLKSIZE, static_cast<ULONGLONG>(granted.nBlockSize));
    AppendOptionText(text, TFTP_OPTION_WINDOWSIZE, static_cast<ULONGLONG>(granted.nWindowSize));
    if (granted.nTimeout != 0)
        AppendOptionText(text, TFTP_OPTION_TIMEOUT, static_cast<ULONGLONG>(granted.nTimeout));
    if (granted.bFileSize)
        AppendOptionText(text, TFTP_OPTION_TSIZE, granted.nFileSize);
    return text;
}
