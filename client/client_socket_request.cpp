// SPDX-License-Identifier: MIT
// CTFTPSocket's request, from the host's lookup to the first reply: the
// addresses tried in turn, and the request again without options.
#include "client/client_socket.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "platform/core/format.h"
#include "protocol/errors.h"
#include "protocol/host_address.h"
#include "res/resource.h"
#include "res/strings.h"

BOOL CTFTPSocket::SendRequest(const char* lpszHost, const char* lpszName, WORD wDirection, WORD wMode)
{
    return SendRequest(CheckRequest(lpszHost, lpszName, wDirection), wMode);
}

BOOL CTFTPSocket::SendRequest(const TftpRequestCheck& request, WORD wMode)
{
    if (!request.Ok()) {
        ShowError(request.strMessage);
        return FALSE;
    }
    m_wMode = wMode;
    m_wDirection = request.wDirection;
    m_request.Set(request, wMode, m_options.nBlockSize);

    // One slot per block of the largest block window that may be granted.
    m_pBuffer = new (std::nothrow)
        BYTE[static_cast<size_t>(PacketBufferSize()) * static_cast<size_t>(SendWindowSlots(m_options.nWindowSize))];
    if (m_pBuffer == nullptr)
        return FALSE;
    m_bOwnBuffer = TRUE;
    ChooseWindows();

    const HostText& host = request.host;
    if (host.form != HostForm::name) {
        // An address: nothing to ask of the network, so nothing to wait for.
        m_bInsideSendRequest = TRUE;
        OnLookedUp(AfxLookUpHost(host.host, host.nPort, true));
        m_bInsideSendRequest = FALSE;
        return !m_bRequestFailed;
    }

    m_wState = TFTP_STATE_RESOLVING;
    Log("Looking up " + host.host);
    m_bInsideSendRequest = TRUE;
    m_pLookup = AfxGetHostResolver()->Lookup(host.host, host.nPort,
                                             [this](const HostLookupResult& result) { OnLookedUp(result); });
    m_bInsideSendRequest = FALSE;
    if (m_bRequestFailed)
        return FALSE;
    if (m_wState == TFTP_STATE_RESOLVING && m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_RESOLVING, 0, 0);
    return TRUE;
}

void CTFTPSocket::OnLookedUp(const HostLookupResult& result)
{
    const CCallScope scope(*this);
    if (m_bDeletePending)
        return;
    BOOL sent = FALSE;
    if (result.nError != 0 || result.addresses.empty()) {
        m_wState = TFTP_STATE_CLOSED;
        m_bRequestFailed = TRUE;
        // The name is the user's own text, bounded; it goes in as an argument.
        ShowError(AfxFormatString(AfxFindString(IDS_HOST_NOT_FOUND),
                                  m_request.Check().host.host.substr(0, TFTP_MAX_NAME).c_str(),
                                  AfxFindString(IDS_DESTINATION_UNAVAILABLE)));
    } else {
        m_addresses = result.addresses;
        m_nAddress = 0;
        sent = TryAddresses();
    }
    // A lookup that ends after SendRequest has returned tells the main window.
    if (!sent && !m_bInsideSendRequest && m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
}

BOOL CTFTPSocket::TryAddresses()
{
    for (; m_nAddress < m_addresses.size(); ++m_nAddress) {
        m_addrServer = m_addresses[m_nAddress];
        const std::string where =
            AddressText(m_addrServer) + (m_addresses.size() > 1 ? " (address " + std::to_string(m_nAddress + 1) +
                                                                      " of " + std::to_string(m_addresses.size()) + ")"
                                                                : std::string());
        if (!SendRequestFromNewSocket()) {
            const int error = GetLastError();
            Log("Cannot send to " + where + ": " + std::strerror(error));
            SetLastError(error);
            continue;
        }

        Log(m_request.SentText(where));
        if (m_request.Negotiating())
            Log("Options asked: " + OptionsText(m_options));
        if (m_wDirection == DIRECTION_GET) {
            m_wState = TFTP_STATE_RRQ_SENT;
            m_wExpected = 1;
        } else {
            m_wState = TFTP_STATE_WRQ_SENT;
            m_wExpected = 0;
        }
        if (!m_bRequestSent) {
            m_bRequestSent = TRUE;
            if (m_pOwner != nullptr)
                m_pOwner->PostMessage(WM_TFTP_REQUEST_SENT, 0, 0);
            OnRequestSent();
        }
        return TRUE;
    }
    // Nothing went out: a first request leaves the socket as it was, idle;
    // a later address's failure ends the transfer.
    m_wState = m_bRequestSent ? TFTP_STATE_CLOSED : TFTP_STATE_IDLE;
    m_bRequestFailed = TRUE;
    ReportSocketError();
    return FALSE;
}

BOOL CTFTPSocket::NextAddressAfterSilence()
{
    // Only before any reply, and only while another address is left.
    if ((m_wState != TFTP_STATE_RRQ_SENT && m_wState != TFTP_STATE_WRQ_SENT) || m_clock.ResendsSinceProgress() != 0 ||
        m_nAddress + 1 >= m_addresses.size())
        return FALSE;
    Log("No answer from " + AddressText(m_addrServer) + ": trying the next address");
    ++m_nAddress;
    if (!TryAddresses() && m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
    return TRUE;
}

BOOL CTFTPSocket::SendRequestFromNewSocket()
{
    Close();
    m_bConnected = FALSE;
    m_request.FitOptions(m_addrServer, &m_options);
    if (!Create(0, SOCK_DGRAM, FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE, nullptr,
                m_addrServer.ss_family))
        return FALSE;
    m_nLastLength = m_request.Build(m_pBuffer, PacketBufferSize(), m_options);
    if (m_request.Negotiation() == TftpNegotiation::LeftOut)
        Log("Options left out: the name leaves no room for them in the request");
    if (m_nLastLength == 0 || SendTo(m_pBuffer, m_nLastLength, reinterpret_cast<const sockaddr*>(&m_addrServer),
                                     AddressLength(m_addrServer), 0) == SOCKET_ERROR)
        return FALSE;
    // Options without a timeout: the request is timed by the adaptive
    // clock, and its answer is the transfer's first round trip. Else the
    // plain timing's period counts from here.
    m_bClocked = m_request.Negotiating() && m_options.nTimeout == 0;
    StartClock();
    m_clock.OnSent(ClockNow());
    return TRUE;
}

BOOL CTFTPSocket::RetryWithoutOptions(WORD wCode)
{
    Log("The server answered ERROR " + std::to_string(wCode) + " (" + TftpErrorMeaning(wCode) +
        ") to the options: asking again without them");
    m_request.SetNegotiation(TftpNegotiation::RetriedPlain);
    if (!SendRequestFromNewSocket()) {
        m_wState = TFTP_STATE_CLOSED;
        ReportSocketError();
        return FALSE;
    }
    return TRUE;
}
