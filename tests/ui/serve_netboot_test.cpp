// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QListWidget>
#include <QSettings>
#include <QTreeWidget>

#include <string>
#include <vector>

#include "platform/core/local_networks.h"
#include "res/resource.h"
#include "tests/support/temp_dir.h"
#include "ui/serve_child.h"
#include "ui/serve_dlg.h"
#include "ui/serve_dlg_netboot.h"
#include "ui/transfer_settings.h"

namespace {

class NetbootServeDlg : public CServeDlg {
public:
    NetbootServeDlg() : CServeDlg(nullptr, false) {}
    using CServeDlg::ListAddresses;
    using CServeDlg::OnChildLine;
    using CServeDlg::ShowRows;
    using CServeDlg::StartArguments;
};

class NetbootBox : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dlg.Create(IDD_SERVE)); }
    void TearDown() override { AfxOpenSettings().remove(QStringLiteral("Netboot")); }
    bool Enabled() { return dlg.GetDlgItem(IDC_SERVE_NETBOOT)->isEnabled(); }
    // What Start adds to the command line of the other choices.
    std::vector<std::string> Added()
    {
        const ServeSettings settings{.folder = "/srv/tftp", .listen = "192.0.2.2"};
        const std::vector<std::string> all = dlg.StartArguments(settings);
        return {all.begin() + static_cast<std::ptrdiff_t>(ServeArguments(settings).size()), all.end()};
    }

    NetbootServeDlg dlg;
};

// Only one IPv4 address of this machine's network cards can boot machines;
// the box names the card and clears when the address goes.
TEST_F(NetbootBox, IsEnabledForOneAddressOfANetworkCard)
{
    for (const char* listen : {"all addresses", "127.0.0.1", "::1", "198.51.100.77", "not an address"}) {
        SCOPED_TRACE(listen);
        dlg.SetDlgItemText(IDC_SERVE_LISTEN, listen);
        EXPECT_FALSE(Enabled());
        EXPECT_EQ(dlg.GetDlgItemText(IDC_SERVE_NETBOOT), "Net&work boot");
    }
    for (const LocalAddress& address : AfxGetLocalAddresses(false)) {
        if (address.bIpv6)
            continue;
        SCOPED_TRACE(address.text);
        dlg.SetDlgItemText(IDC_SERVE_LISTEN, address.text);
        EXPECT_TRUE(Enabled());
        EXPECT_EQ(dlg.GetDlgItemText(IDC_SERVE_NETBOOT), "Net&work boot on " + address.interfaceName);
        dlg.CheckDlgButton(IDC_SERVE_NETBOOT, TRUE);
        dlg.SetDlgItemText(IDC_SERVE_LISTEN, "all addresses");
        EXPECT_FALSE(dlg.IsDlgButtonChecked(IDC_SERVE_NETBOOT));
    }
}

// [Netboot] decides the HTTP port and the boot files; a bad value is left
// out (the server's default stands) rather than refused by the server.
TEST_F(NetbootBox, StartPassesNetbootAndTheFilesOfTheSettings)
{
    EXPECT_TRUE(Added().empty()); // not ticked
    dlg.CheckDlgButton(IDC_SERVE_NETBOOT, TRUE);
    EXPECT_EQ(Added(), (std::vector<std::string>{"--netboot", "--http-port", "8069"}));
    {
        QSettings file = AfxOpenSettings();
        file.beginGroup(QStringLiteral("Netboot"));
        file.setValue(QStringLiteral("HttpPort"), 8080);
        file.setValue(QStringLiteral("UefiX64File"), QStringLiteral("snponly.efi"));
        file.setValue(QStringLiteral("IpxeScript"), QStringLiteral("menus/boot.ipxe"));
        file.setValue(QStringLiteral("BiosFile"), QString(101, 'a'));
        file.setValue(QStringLiteral("UefiArm64File"), QStringLiteral("a\nb"));
    }
    EXPECT_EQ(Added(), (std::vector<std::string>{"--netboot", "--http-port", "8080", "--boot-file",
                                                 "uefi-x64=snponly.efi", "--boot-file", "ipxe=menus/boot.ipxe"}));
    AfxOpenSettings().setValue(QStringLiteral("Netboot/HttpPort"), 70000);
    EXPECT_EQ(Added()[2], "8069");
}

// Ticked, the list offers the firewall's commands to copy; a machine answered
// is a row of its own, and an HTTP transfer is marked.
TEST_F(NetbootBox, ListsTheFirewallCommandsBootsAndHttpRows)
{
    dlg.SetDlgItemText(IDC_SERVE_PORT, "69");
    dlg.CheckDlgButton(IDC_SERVE_NETBOOT, TRUE);
    dlg.ListAddresses();
    auto* list = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_SERVE_ADDRESSES));
    ASSERT_GE(list->count(), 2);
    EXPECT_EQ(list->item(list->count() - 2)->data(Qt::UserRole + 1),
              "sudo ufw allow 67,69,4011/udp && sudo ufw allow 8069/tcp");
    EXPECT_EQ(list->item(list->count() - 1)->data(Qt::UserRole + 1),
              "sudo firewall-cmd --add-service=tftp --add-service=proxy-dhcp --add-service=dhcp --add-port=8069/tcp");

    dlg.OnChildLine(R"({"event":"boot","mac":"52:54:00:12:34:56","arch":"UEFI x64","ipxe":false,"file":"ipxe.efi"})");
    dlg.OnChildLine(R"({"event":"end","id":1,"protocol":"http","client":"192.0.2.9","port":5000,"state":"done"})");
    dlg.ShowRows();
    auto* rows = qobject_cast<QTreeWidget*>(dlg.GetDlgItem(IDC_SERVE_TRANSFERS));
    ASSERT_EQ(rows->topLevelItemCount(), 2);
    QStringList boot;
    for (int column = 0; column < kColumns; ++column)
        boot.append(rows->topLevelItem(0)->text(column));
    EXPECT_EQ(boot, (QStringList{"52:54:00:12:34:56", "ipxe.efi", "boot", "UEFI x64", "", "", "", "", "answered"}));
    EXPECT_EQ(rows->topLevelItem(1)->text(kDirection), "HTTP get");
    // A boot is no transfer.
    EXPECT_EQ(dlg.GetDlgItemText(IDC_SERVE_COUNT), "0 transfers running, 1 done, 0 refused");
}

} // namespace

// iPXE's files are copied where the folder lacks them, and neither they nor
// the starter script ever replace a file of the user's.
TEST(NetbootFiles, CopiesWhatIsMissingAndReplacesNothing)
{
    TempDir source, folder;
    for (const char* name : {"ipxe.efi", "snponly.efi", "undionly.kpxe"})
        WriteFileBytes(source / name, {'M', 'Z'});
    WriteFileBytes(folder / "undionly.kpxe", {'m', 'i', 'n', 'e'});
    NetbootSettings settings;
    EXPECT_EQ(MissingBootFiles(folder.Path(), settings, source.Path()), std::vector<std::string>{"ipxe.efi"});
    settings.bootFiles = {{"uefi-x64", "snponly.efi"}, {"bios", "sub/undionly.kpxe"}};
    const std::vector<std::string> missing = MissingBootFiles(folder.Path(), settings, source.Path());
    EXPECT_EQ(missing, std::vector<std::string>{"snponly.efi"});
    EXPECT_EQ(CopyBootFiles(folder.Path(), missing, source.Path()), "");
    EXPECT_EQ(ReadFileBytes(folder / "snponly.efi"), (std::vector<BYTE>{'M', 'Z'}));
    EXPECT_NE(CopyBootFiles(folder.Path(), {"undionly.kpxe"}, source.Path()), "");
    EXPECT_EQ(ReadFileBytes(folder / "undionly.kpxe"), (std::vector<BYTE>{'m', 'i', 'n', 'e'}));

    EXPECT_EQ(WriteStarterScript(folder.Path(), "boot.ipxe"), "");
    const std::vector<BYTE> script = ReadFileBytes(folder / "boot.ipxe");
    EXPECT_EQ(std::string(script.begin(), script.begin() + 7), "#!ipxe\n");
    EXPECT_NE(WriteStarterScript(folder.Path(), "boot.ipxe"), "");
    EXPECT_EQ(ReadFileBytes(folder / "boot.ipxe"), script);
}
