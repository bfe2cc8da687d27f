// SPDX-License-Identifier: MIT
// Real firmware boots from the boot server on a network of the tests' own
// (they run as root): the bridge nb0 (10.79.0.1, the boot server's address)
// joins QEMU's tap nbt0, a router's namespace (10.79.0.254, where dnsmasq
// gives addresses and nothing else) and a plain DHCP client's namespace.
// SeaBIOS with QEMU's iPXE ROM, and OVMF's own UEFI PXE (which loads ipxe.efi
// from the folder), each reach boot.ipxe, which prints a marker of its own on
// the serial console.
//
// The boot server is `tarnwick-serve FOLDER --listen 10.79.0.1 --netboot`, or
// the command in TARNWICK_BOOT_SERVER with {folder} and {address} in it;
// TARNWICK_QEMU_ACCEL sets QEMU's accelerators: tcg unless told, as KVM
// inside a virtual machine may be there and yet stop iPXE's ROM (QEMU ends).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dhcp_capture.h"
#include "own_network.h"
#include "served_folder.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const kAddress = "10.79.0.1";
const char* const kRouter = "10.79.0.254";
const char* const kIpxe = "/usr/lib/ipxe/";
const char* const kOvmf = "/usr/share/OVMF/";
const char* const kClientMac = "52:54:00:4e:42:03";

std::string ReadText(const std::string& path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    return text;
}

// A command run through sh in a process group of its own, its output in a
// file, ended with its group when the test ends.
class Child {
public:
    Child(const std::string& command, const std::string& output)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setpgid(0, 0);
            // A sanitized server's leak check needs calls its filter refuses.
            ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            ::execl("/bin/sh", "sh", "-c", ("exec " + command + " >" + output + " 2>&1").c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Child()
    {
        if (m_pid <= 0)
            return;
        ::kill(-m_pid, SIGTERM);
        int status = 0;
        for (int waited = 0; ::waitpid(m_pid, &status, WNOHANG) == 0; ++waited) {
            if (waited == 100) // 5 s
                ::kill(-m_pid, SIGKILL);
            ::usleep(50000);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Whether it has ended by itself (its status then in *pStatus).
    bool Ended(int* pStatus)
    {
        if (m_pid <= 0 || ::waitpid(m_pid, pStatus, WNOHANG) != m_pid)
            return false;
        m_pid = -1;
        return true;
    }

private:
    pid_t m_pid = -1;
};

// Whether another boot server than Tarnwick's is tried.
bool OtherBootServer()
{
    const char* given = std::getenv("TARNWICK_BOOT_SERVER");
    return given != nullptr && *given != '\0';
}

std::string BootServerCommand(const std::string& folder)
{
    const std::string command =
        OtherBootServer() ? std::getenv("TARNWICK_BOOT_SERVER")
                          : std::string("'") + TARNWICK_SERVE_PATH + "' {folder} --listen {address} --netboot";
    return Replace(Replace(command, "{folder}", "'" + folder + "'"), "{address}", kAddress);
}

// Why the boot tests cannot run here, or empty.
std::string Missing()
{
    if (!InOwnNetwork())
        return "needs a network namespace of the tests' own (they run as root)";
    for (const char* program : {"qemu-system-x86_64", "dnsmasq", "busybox"})
        if (!Installed(program))
            return std::string(program) + " is not installed";
    for (const std::string& file : {std::string(kIpxe) + "ipxe.efi", std::string(kIpxe) + "undionly.kpxe",
                                    std::string(kOvmf) + "OVMF_CODE.fd", std::string(kOvmf) + "OVMF_VARS.fd"})
        if (!std::filesystem::exists(file))
            return file + " is missing (packages ipxe and ovmf)";
    if (!OtherBootServer()) {
        TempDir scratch;
        Child help(std::string("'") + TARNWICK_SERVE_PATH + "' --help", scratch / "help.txt");
        int status = 0;
        while (!help.Ended(&status))
            ::usleep(10000);
        if (ReadText(scratch / "help.txt").find("--netboot") == std::string::npos)
            return "tarnwick-serve does not accept --netboot yet (not in its --help)";
    }
    return {};
}

// The bridge, the tap, and the router's and the client's namespaces, made
// once for every test.
struct Network {
    pid_t router = -1;
    pid_t client = -1;
    bool made = false;
};

const Network& TheNetwork()
{
    static const Network network = [] {
        Network made;
        made.router = PeerNetwork();
        made.client = PeerNetwork();
        if (made.router <= 0 || made.client <= 0)
            return made;
        const std::string router = std::to_string(made.router), client = std::to_string(made.client);
        made.made =
            std::system(("ip link add nb0 type bridge && ip addr add " + std::string(kAddress) +
                         "/24 dev nb0 && ip link set nb0 up && ip tuntap add nbt0 mode tap && "
                         "ip link set nbt0 master nb0 up && "
                         "ip link add nbr0 type veth peer name nbr1 && ip link set nbr0 master nb0 up && "
                         "ip link set nbr1 netns " +
                         router + " && nsenter -t " + router + " -n sh -c 'ip link set lo up && ip addr add " +
                         kRouter +
                         "/24 dev nbr1 && ip link set nbr1 up' && "
                         "ip link add nbc0 type veth peer name nbc1 && ip link set nbc0 master nb0 up && "
                         "ip link set nbc1 netns " +
                         client + " && nsenter -t " + client + " -n ip link set nbc1 address " + kClientMac + " up")
                            .c_str()) == 0;
        return made;
    }();
    return network;
}

class NetbootFirmware : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const std::string missing = Missing();
        if (!missing.empty())
            GTEST_SKIP() << missing;
        ASSERT_TRUE(TheNetwork().made);
        ASSERT_TRUE(capture.IsOpen());
        for (const char* file : {"ipxe.efi", "undionly.kpxe"})
            std::filesystem::copy_file(std::string(kIpxe) + file, folder / file);
        std::random_device random;
        char hex[17];
        std::snprintf(hex, sizeof hex, "%08x%08x", random(), random());
        marker = std::string("MARKER-") + hex;
        std::ofstream(folder / "boot.ipxe") << "#!ipxe\necho " << marker << "\n";
        router = std::make_unique<Child>("nsenter -t " + std::to_string(TheNetwork().router) +
                                             " -n dnsmasq --conf-file=/dev/null --no-daemon --port=0 "
                                             "--interface=nbr1 --bind-interfaces --log-dhcp --pid-file= "
                                             "--dhcp-range=10.79.0.100,10.79.0.199,255.255.255.0,1h "
                                             "--dhcp-leasefile=" +
                                             scratch / "leases",
                                         scratch / "router.txt");
        bootServer = std::make_unique<Child>(BootServerCommand(folder.Path().string()), scratch / "server.txt");
        // Serving once a socket of this network holds UDP port 67 (0x43).
        ASSERT_TRUE(
            Await([] { return ReadText("/proc/net/udp").find(":0043 00000000:0000") != std::string::npos; }, 30))
            << "the boot server took no port 67: " << BootServerCommand(folder.Path().string());
    }
    void TearDown() override
    {
        bootServer.reset();
        router.reset();
        if (HasFailure())
            for (const char* name : {"serial.txt", "server.txt", "router.txt", "leases"})
                std::cerr << "--- " << name << "\n" << ReadText(scratch / name).substr(0, 20000) << "\n";
    }
    // Runs until done() or the limit in seconds; false on the limit or when
    // the boot server has ended.
    bool Await(const std::function<bool()>& done, int nLimit)
    {
        int status = 0;
        for (const ULONGLONG end = SteadyMs() + static_cast<ULONGLONG>(nLimit) * 1000; !done(); ::usleep(100000)) {
            capture.Drain();
            if (SteadyMs() > end || bootServer->Ended(&status))
                return false;
        }
        capture.Drain();
        return true;
    }
    // QEMU booting from the network with this firmware and network card
    // until the marker is on its serial console.
    void Boot(const std::string& firmware, const std::string& card, const std::string& mac)
    {
        const char* accel = std::getenv("TARNWICK_QEMU_ACCEL");
        Child qemu(
            "qemu-system-x86_64 -machine accel=" + std::string(accel != nullptr && *accel != '\0' ? accel : "tcg") +
                " -m 256 -display none -no-reboot -serial file:" + scratch / "serial.txt" + " " + firmware +
                " -netdev tap,id=n0,ifname=nbt0,script=no,downscript=no -device " + card +
                ",netdev=n0,bootindex=1,mac=" + mac,
            scratch / "qemu.txt");
        int status = 0;
        EXPECT_TRUE(Await(
            [&] { return ReadText(scratch / "serial.txt").find(marker) != std::string::npos || qemu.Ended(&status); },
            120))
            << "no marker within 120 s; QEMU said: " << ReadText(scratch / "qemu.txt");
        EXPECT_NE(ReadText(scratch / "serial.txt").find(marker), std::string::npos)
            << "QEMU said: " << ReadText(scratch / "qemu.txt");
        // Tarnwick hands iPXE the script's address on its HTTP server.
        if (!OtherBootServer()) {
            EXPECT_NE(ReadText(scratch / "serial.txt").find("http://" + std::string(kAddress) + ":8069/boot.ipxe"),
                      std::string::npos);
        }
        ExpectOnlyTheRouterGaveAddresses(mac, true);
        EXPECT_NE(ReadText(scratch / "leases").find(mac), std::string::npos);
    }
    // Every reply the boot server sent gives no address; the router's are
    // the only ones that do. bootServerAnswers: whether it answered mac.
    void ExpectOnlyTheRouterGaveAddresses(const std::string& mac, bool bootServerAnswers)
    {
        bool fromRouter = false, fromBootServer = false;
        for (const DhcpReply& reply : capture.Replies()) {
            SCOPED_TRACE(reply.from + " to " + reply.mac + ", type " + std::to_string(reply.type));
            if (reply.from == kAddress)
                EXPECT_EQ(reply.yiaddr, "0.0.0.0");
            else
                EXPECT_EQ(reply.from, kRouter);
            fromRouter |= reply.mac == mac && reply.from == kRouter && reply.type == 5;
            fromBootServer |= reply.mac == mac && reply.from == kAddress;
        }
        EXPECT_TRUE(fromRouter) << "no DHCPACK from the router to " << mac;
        EXPECT_EQ(fromBootServer, bootServerAnswers) << "answers from the boot server to " << mac;
    }

    TempDir folder;
    TempDir scratch;
    CDhcpCapture capture;
    std::string marker;
    std::unique_ptr<Child> router;
    std::unique_ptr<Child> bootServer;
};

TEST_F(NetbootFirmware, SeaBiosWithQemusIpxeRom)
{
    // SeaBIOS writes what the ROM shows to the serial port when there is no display.
    Boot("-machine graphics=off", "e1000", "52:54:00:4e:42:01");
}

TEST_F(NetbootFirmware, OvmfUefiPxeLoadsIpxeEfi)
{
    const std::string vars = scratch / "OVMF_VARS.fd";
    std::filesystem::copy_file(std::string(kOvmf) + "OVMF_VARS.fd", vars);
    // virtio-net without a ROM: OVMF's own network driver and PXE.
    Boot("-drive if=pflash,format=raw,readonly=on,file=" + std::string(kOvmf) +
             "OVMF_CODE.fd -drive if=pflash,format=raw,file=" + vars,
         "virtio-net-pci,romfile=", "52:54:00:4e:42:02");
}

TEST_F(NetbootFirmware, PlainDhcpClientGetsItsAddressFromTheRouter)
{
    const std::string script = scratch / "lease.sh", lease = scratch / "lease.txt";
    std::ofstream(script) << "#!/bin/sh\n[ \"$1\" = bound ] && echo \"$ip $serverid\" >" << lease << "\nexit 0\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    Child udhcpc("nsenter -t " + std::to_string(TheNetwork().client) +
                     " -n busybox udhcpc -f -n -q -t 10 -T 2 -i nbc1 -s " + script,
                 scratch / "udhcpc.txt");
    int status = -1;
    ASSERT_TRUE(Await([&] { return udhcpc.Ended(&status); }, 60)) << ReadText(scratch / "udhcpc.txt");
    EXPECT_EQ(status, 0) << ReadText(scratch / "udhcpc.txt");
    const std::string given = ReadText(lease);
    EXPECT_EQ(given.substr(0, 8), "10.79.0.") << given;
    EXPECT_EQ(given.substr(given.find(' ') + 1), std::string(kRouter) + "\n");
    ExpectOnlyTheRouterGaveAddresses(kClientMac, false);
}

} // namespace
