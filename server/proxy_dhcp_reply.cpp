// SPDX-License-Identifier: MIT
// The proxy DHCP's offer and acknowledgement, written field by field.
#include <algorithm>
#include <cstring>

#include "server/proxy_dhcp.h"

namespace {

// PXE's vendor options in option 43: PXE_DISCOVERY_CONTROL (6) = 8, "load
// the boot file at once, skip boot server discovery", then their own end.
constexpr BYTE kDiscoveryControl[] = {6, 1, 8, DHCP_OPTION_END};

// A type 0 machine id of 16 bytes, the only form RFC 4578 defines: anything
// else is not echoed, though its client is still answered.
bool WellFormedMachineId(const DhcpOptionValue& id)
{
    return id.bPresent && id.nLength == 17 && id.bytes[0] == 0;
}

class CWriter {
public:
    explicit CWriter(BYTE (&buffer)[DHCP_MAX_REPLY]) : m_buffer(buffer) {}
    // The caller keeps the options few and short: they fit the buffer.
    void Option(BYTE code, const void* pValue, size_t nLength)
    {
        m_buffer[m_nAt++] = code;
        m_buffer[m_nAt++] = static_cast<BYTE>(nLength);
        std::memcpy(m_buffer + m_nAt, pValue, nLength);
        m_nAt += static_cast<int>(nLength);
    }
    int End()
    {
        m_buffer[m_nAt++] = DHCP_OPTION_END;
        return std::max(m_nAt, DHCP_MIN_REPLY); // zeros after the end are pad options
    }

private:
    BYTE (&m_buffer)[DHCP_MAX_REPLY];
    int m_nAt = DHCP_OPTIONS_START;
};

} // namespace

int BuildProxyDhcpReply(const DhcpPacket& request, const ProxyDhcpReply& reply, in_addr server,
                        BYTE (&buffer)[DHCP_MAX_REPLY])
{
    std::memset(buffer, 0, sizeof buffer);
    buffer[0] = BOOTREPLY;
    buffer[1] = request.htype;
    buffer[2] = request.hlen;
    std::memcpy(buffer + 4, request.xid, 4);
    buffer[10] = static_cast<BYTE>(request.flags[0] | (reply.bBroadcast ? 0x80 : 0));
    buffer[11] = request.flags[1];
    if (reply.messageType == DHCPACK)
        std::memcpy(buffer + 12, request.ciaddr, 4);
    // yiaddr (16) stays 0.0.0.0: a proxy never gives an address.
    std::memcpy(buffer + 20, &server, 4);
    std::memcpy(buffer + 24, request.giaddr, 4);
    std::memcpy(buffer + 28, request.chaddr, 16);
    std::memcpy(buffer + DHCP_FILE_OFFSET, reply.file.data(),
                std::min(reply.file.size(), static_cast<size_t>(DHCP_MAX_BOOT_FILE)));
    std::memcpy(buffer + DHCP_FIXED_SIZE, DHCP_MAGIC_COOKIE, sizeof DHCP_MAGIC_COOKIE);

    // 3 + 6 + 12 + 19 + 6 + 1 bytes of options at most: within 576.
    CWriter writer(buffer);
    writer.Option(DHCP_OPTION_MESSAGE_TYPE, &reply.messageType, 1);
    writer.Option(DHCP_OPTION_SERVER_ID, &server, 4);
    writer.Option(DHCP_OPTION_VENDOR_CLASS, reply.vendorClass.data(), std::min<size_t>(reply.vendorClass.size(), 10));
    if (WellFormedMachineId(request.machineId))
        writer.Option(DHCP_OPTION_MACHINE_ID, request.machineId.bytes, 17);
    if (reply.bDiscoveryControl)
        writer.Option(DHCP_OPTION_VENDOR_SPECIFIC, kDiscoveryControl, sizeof kDiscoveryControl);
    return writer.End();
}
