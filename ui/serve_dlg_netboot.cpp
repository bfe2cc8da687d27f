// SPDX-License-Identifier: MIT
// The Serve window's "Network boot" box: enabled for one IPv4 address of
// this machine (it names its interface), never kept, and what it adds to the
// server's command line and to the addresses' list.
#include "serve_dlg_netboot.h"

#include <fcntl.h>
#include <unistd.h>

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "log_dlg.h"
#include "platform/core/format.h"
#include "platform/core/local_networks.h"
#include "platform/core/msgbox.h"
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
    auto* folder = qobject_cast<QLineEdit*>(GetDlgItem(IDC_SERVE_FOLDER));
    QObject::connect(folder, &QLineEdit::textChanged, GetSafeHwnd(), [this] { UpdateBootFiles(); });
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
    UpdateBootFiles();
}

void CServeDlg::OnNetboot()
{
    ListAddresses();
    UpdateBootFiles();
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

namespace {

// What a machine is told to boot when [Netboot] leaves the file unset.
constexpr std::pair<const char*, const char*> kDefaultBootFiles[] = {{"bios", "undionly.kpxe"},
                                                                     {"uefi-x64", "ipxe.efi"},
                                                                     {"uefi-ia32", "ipxe-i386.efi"},
                                                                     {"uefi-arm64", "ipxe-arm64.efi"}};

// The starter script: where the machine stands, then a shell to go on by hand.
constexpr char kStarterScript[] = "#!ipxe\n"
                                  "# Written by Tarnwick. Network boot runs this after iPXE has started; change it.\n"
                                  "echo This machine is ${ip} (${mac}); its boot server is ${next-server}.\n"
                                  "echo Type exit to leave the shell.\n"
                                  "shell\n";

bool IsPlainName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

std::string Reason(const std::error_code& error)
{
    return error.message();
}

} // namespace

std::vector<std::string> MissingBootFiles(const std::string& folder, const NetbootSettings& settings,
                                          const std::string& source)
{
    std::vector<std::string> missing;
    for (const auto& [arch, name] : kDefaultBootFiles) {
        std::string file = name;
        for (const auto& [setArch, setName] : settings.bootFiles)
            if (setArch == arch)
                file = setName;
        std::error_code ignored;
        if (IsPlainName(file) && std::filesystem::is_regular_file(std::filesystem::path(source) / file, ignored) &&
            !std::filesystem::exists(std::filesystem::path(folder) / file, ignored) &&
            std::find(missing.begin(), missing.end(), file) == missing.end())
            missing.push_back(file);
    }
    return missing;
}

std::string CopyBootFiles(const std::string& folder, const std::vector<std::string>& names, const std::string& source)
{
    for (const std::string& name : names) {
        std::error_code error;
        // copy_options::none: a file already there stays, and is an error.
        std::filesystem::copy_file(std::filesystem::path(source) / name, std::filesystem::path(folder) / name,
                                   std::filesystem::copy_options::none, error);
        if (error)
            return "Could not copy " + name + " into " + folder + ": " + Reason(error);
    }
    return {};
}

std::string IpxeScriptName(const NetbootSettings& settings)
{
    std::string name = "boot.ipxe";
    for (const auto& [arch, setName] : settings.bootFiles)
        if (arch == "ipxe")
            name = setName;
    return IsPlainName(name) ? name : std::string();
}

std::string WriteStarterScript(const std::string& folder, const std::string& name)
{
    const std::string path = (std::filesystem::path(folder) / name).string();
    // O_EXCL: never over a script of the user's; O_NOFOLLOW: never through a link.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return "Could not write " + path + ": " + Reason(std::error_code(errno, std::generic_category()));
    const size_t length = sizeof kStarterScript - 1;
    const ssize_t written = ::write(fd, kStarterScript, length);
    const int writeError = written < 0 ? errno : ENOSPC;
    const bool closed = ::close(fd) == 0;
    if (written != static_cast<ssize_t>(length) || !closed) {
        ::unlink(path.c_str());
        return "Could not write " + path + ": " + Reason(std::error_code(writeError, std::generic_category()));
    }
    return {};
}

void CServeDlg::UpdateBootFiles()
{
    const bool ticked = IsDlgButtonChecked(IDC_SERVE_NETBOOT) != 0;
    const std::string folder = GetDlgItemText(IDC_SERVE_FOLDER);
    const NetbootSettings settings = ticked ? AfxLoadNetbootSettings() : NetbootSettings{};
    // Offered only where they would help: ticked, and the files missing.
    const std::string script = IpxeScriptName(settings);
    std::error_code ignored;
    const bool copy = ticked && !folder.empty() && !MissingBootFiles(folder, settings).empty();
    const bool write = ticked && !folder.empty() && !script.empty() && std::filesystem::is_directory(folder, ignored) &&
                       !std::filesystem::exists(std::filesystem::path(folder) / script, ignored);
    GetDlgItem(IDC_SERVE_COPY_IPXE)->setVisible(copy);
    GetDlgItem(IDC_SERVE_WRITE_SCRIPT)->setVisible(write);
    // The name is the user's: shown as it is, no mnemonic made of it.
    QString label = QString::fromStdString(script.substr(0, 40));
    SetDlgItemText(IDC_SERVE_WRITE_SCRIPT, script == "boot.ipxe" ? std::string("Write boot.ip&xe")
                                                                 : "Write " + label.replace('&', "&&").toStdString());
}

void CServeDlg::OnCopyIpxe()
{
    const std::string folder = GetDlgItemText(IDC_SERVE_FOLDER);
    const std::string problem = CopyBootFiles(folder, MissingBootFiles(folder, AfxLoadNetbootSettings()));
    if (!problem.empty())
        AfxMessageBox(problem, MB_OK);
    UpdateBootFiles();
}

void CServeDlg::OnWriteScript()
{
    const std::string folder = GetDlgItemText(IDC_SERVE_FOLDER);
    const std::string name = IpxeScriptName(AfxLoadNetbootSettings());
    if (name.empty())
        return;
    const std::string problem = WriteStarterScript(folder, name);
    if (!problem.empty())
        AfxMessageBox(problem, MB_OK);
    UpdateBootFiles();
}
