// SPDX-License-Identifier: MIT
// The Serve window's "Network boot" box: enabled for one IPv4 address of
// this machine (it names its interface), never kept, and what it adds to the
// server's command line and to the addresses' list.
#include "serve_dlg_netboot.h"

#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QSettings>

#include "log_dlg.h"
#include "platform/core/format.h"
#include "platform/core/local_networks.h"
#include "protocol/tftp.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_child.h"
#include "serve_dlg.h"
#include "serve_lines.h"
#include "serve_start.h"

namespace {

// The longest boot file name tarnwick-serve takes.
constexpr int kBootNameMost = 100;

// A name --boot-file takes: 1 to kBootNameMost bytes, no control character.
bool IsBootName(const std::string& name)
{
    if (name.empty() || name.size() > kBootNameMost)
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

} // namespace

NetbootSettings AfxLoadNetbootSettings(ITransferLog* pLog)
{
    NetbootSettings loaded;
    QSettings settings = AfxOpenSettings();
    settings.beginGroup(QStringLiteral("Netboot"));
    // The file's text is untrusted: bounded, and only ever shown as text.
    const auto shown = [&settings](const char* key) {
        return settings.value(QLatin1String(key)).toString().left(32).toStdString();
    };
    if (settings.contains(QStringLiteral("HttpPort"))) {
        bool ok = false;
        const int port = settings.value(QStringLiteral("HttpPort")).toString().trimmed().toInt(&ok);
        if (ok && port >= 1 && port <= 65535)
            loaded.nHttpPort = port;
        else if (pLog != nullptr)
            pLog->LogLine("Settings: [Netboot] HttpPort \"" + shown("HttpPort") + "\" is out of range; " +
                          std::to_string(loaded.nHttpPort) + " is used");
    }
    const std::pair<const char*, const char*> files[] = {
        {"BiosFile", "bios"},          {"UefiX64File", "uefi-x64"},
        {"UefiIa32File", "uefi-ia32"}, {"UefiArm64File", "uefi-arm64"},
        {"IpxeScript", "ipxe"},
    };
    for (const auto& [key, arch] : files) {
        if (!settings.contains(QLatin1String(key)))
            continue;
        const std::string name = settings.value(QLatin1String(key)).toString().toStdString();
        if (IsBootName(name))
            loaded.bootFiles.emplace_back(arch, name);
        else if (pLog != nullptr)
            pLog->LogLine(std::string("Settings: [Netboot] ") + key + " \"" + shown(key) +
                          "\" is not a file name of 1 to 100 bytes; the default is used");
    }
    return loaded;
}

std::vector<std::string> NetbootArguments(const NetbootSettings& settings)
{
    std::vector<std::string> arguments = {"--netboot", "--http-port", std::to_string(settings.nHttpPort)};
    for (const auto& [arch, name] : settings.bootFiles)
        arguments.insert(arguments.end(), {"--boot-file", arch + "=" + name});
    return arguments;
}

std::string NetbootInterface(const std::string& listen)
{
    if (listen.empty())
        return {};
    for (const LocalAddress& address : AfxGetLocalAddresses(false))
        if (!address.bIpv6 && address.text == listen)
            return address.interfaceName;
    return {};
}

std::vector<FirewallHint> NetbootFirewallHints(int nTftpPort, int nHttpPort)
{
    const std::string tftp = std::to_string(nTftpPort);
    const std::string http = std::to_string(nHttpPort);
    const std::string ufw = "sudo ufw allow 67," + tftp + ",4011/udp && sudo ufw allow " + http + "/tcp";
    // firewalld knows TFTP's port by its service only when it is 69.
    const std::string firewalld = "sudo firewall-cmd " +
                                  (nTftpPort == static_cast<int>(TFTP_SERVER_PORT) ? std::string("--add-service=tftp")
                                                                                   : "--add-port=" + tftp + "/udp") +
                                  " --add-service=proxy-dhcp --add-service=dhcp --add-port=" + http + "/tcp";
    const std::string ports = AfxFormatString(AfxFindString(IDS_SERVE_NETBOOT_PORTS), static_cast<unsigned>(nTftpPort),
                                              static_cast<unsigned>(nHttpPort));
    return {{ports + " (ufw)    " + ufw, ufw}, {ports + " (firewalld)    " + firewalld, firewalld}};
}

void CServeDlg::SetUpNetboot()
{
    // The box follows the address as it is chosen or typed.
    auto* listen = qobject_cast<QComboBox*>(GetDlgItem(IDC_SERVE_LISTEN));
    QObject::connect(listen, &QComboBox::currentTextChanged, GetSafeHwnd(), [this] { UpdateNetboot(); });
}

void CServeDlg::UpdateNetboot()
{
    const std::string listen = GetDlgItemText(IDC_SERVE_LISTEN);
    const std::string interfaceName =
        listen == AfxLoadString(IDS_SERVE_ALL_ADDRESSES) ? std::string() : NetbootInterface(listen);
    SetDlgItemText(IDC_SERVE_NETBOOT,
                   interfaceName.empty() ? std::string("Net&work boot")
                                         : AfxFormatString(AfxFindString(IDS_SERVE_NETBOOT_ON), interfaceName.c_str()));
    // Without one address of this machine there is nothing to boot from:
    // the box clears, so that Start never asks for it.
    if (interfaceName.empty() && IsDlgButtonChecked(IDC_SERVE_NETBOOT) != 0) {
        CheckDlgButton(IDC_SERVE_NETBOOT, FALSE);
        if (!IsServing())
            ListAddresses();
    }
    EnableWindow(IDC_SERVE_NETBOOT, !IsServing() && !interfaceName.empty());
}

void CServeDlg::OnNetboot()
{
    ListAddresses();
}

void CServeDlg::ListNetbootHints(QListWidget* list)
{
    if (IsDlgButtonChecked(IDC_SERVE_NETBOOT) == 0)
        return;
    const ServeSettings settings = IsServing() ? m_settings : ReadControls();
    for (const FirewallHint& hint : NetbootFirewallHints(settings.nPort, AfxLoadNetbootSettings().nHttpPort)) {
        auto* item = new QListWidgetItem(QString::fromStdString(hint.text), list);
        item->setData(Qt::UserRole, QString::fromStdString(hint.command));
        item->setData(Qt::UserRole + 1, QString::fromStdString(hint.command));
    }
}

std::vector<std::string> CServeDlg::StartArguments(const ServeSettings& settings) const
{
    std::vector<std::string> arguments = ServeArguments(settings);
    if (IsDlgButtonChecked(IDC_SERVE_NETBOOT) != 0 && !settings.listen.empty()) {
        const std::vector<std::string> netboot = NetbootArguments(AfxLoadNetbootSettings(g_pLogDlg));
        arguments.insert(arguments.end(), netboot.begin(), netboot.end());
    }
    return arguments;
}

void CServeDlg::OnBoot(const ServeLine& line)
{
    m_bRequestSeen = true;
    m_bRowsChanged = true;
    ShownRow& shown = m_rows[RowKey(m_nRun, kBootIds + (++m_nBoots % kBootIds))];
    shown.kind = ShownRow::Kind::boot;
    shown.client = line.client;
    shown.row.file = line.row.file;
    shown.row.granted = line.bIpxe ? line.arch + ", iPXE" : line.arch;
    // Answered as it was told: a row that has ended.
    shown.row.state = ServeState::done;
    shown.row.nStartMs = NowMs();
    shown.row.nEndMs = shown.row.nStartMs + 1;
}
