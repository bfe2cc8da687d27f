// SPDX-License-Identifier: MIT
#include "server/serve_options.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/core/host_resolver.h"
#include "protocol/host_address.h"
#include "protocol/options.h"

namespace {

constexpr const char* kHelp =
    "Usage: tarnwick-serve DIR [OPTION]...\n"
    "Serves the folder DIR by TFTP (RFC 1350, with the options of RFC 2347, 2348, 2349 and 7440), without a\n"
    "window, confined to DIR by the kernel once its sockets are open. One line per event on standard output.\n"
    "\n"
    "  --listen ADDRESS       listen on ADDRESS only (IPv4, or IPv6 with a zone where needed); may be given\n"
    "                         more than once; default: every address of both families\n"
    "  --port N               the port, 1 to 65535 (default 69; port 69 through the helper tarnwick-bind\n"
    "                         for the members of the group tarnwick)\n"
    "  --allow-upload         take uploads (write requests); default: read-only\n"
    "  --allow-create         with --allow-upload: uploads may create files\n"
    "  --allow-replace        with --allow-upload: uploads may replace existing files\n"
    "  --max-transfers N      transfers at once, 1 to 1024 (default 64)\n"
    "  --max-per-client N     transfers at once from one address, 1 to 1024 (default 8)\n"
    "  --max-blksize N        the largest block size granted, 8 to 65464 (default 1468); also capped by the\n"
    "                         MTU of the interface a request came in on\n"
    "  --max-windowsize N     the largest window size granted, 1 to 64 (default 64)\n"
    "  --ignore-case          names match files whatever their case\n"
    "  --any-network          answer clients on any network, not only those of the interface a request\n"
    "                         came in on\n"
    "  --log-format FORMAT    text (default) or json: one JSON object a line\n"
    "  --require-confinement  end with status 1 when the kernel cannot confine the server fully\n"
    "  --netboot              network boot: with exactly one --listen ADDRESS (IPv4), also answer PXE and\n"
    "                         UEFI firmware as a proxy DHCP (UDP 67 and 4011; it gives no addresses) on the\n"
    "                         interface that holds ADDRESS, and serve the folder read-only over HTTP\n"
    "  --http-port N          with --netboot: the HTTP port, 1 to 65535 (default 8069)\n"
    "  --boot-file ARCH=NAME  with --netboot: the file a kind of machine boots; ARCH is bios (default\n"
    "                         undionly.kpxe), uefi-x64 (ipxe.efi), uefi-ia32 (ipxe-i386.efi), uefi-arm64\n"
    "                         (ipxe-arm64.efi) or ipxe (the script iPXE fetches, boot.ipxe); may be repeated\n"
    "  -h, --help             this help\n"
    "  -v, --version          the version\n"
    "\n"
    "Under systemd with socket activation (LISTEN_FDS), the sockets passed are served, and --listen and\n"
    "--port do not apply. Status: 0 after SIGTERM or SIGINT, 1 when serving could not start, 2 for a\n"
    "mistake in the command line. See tarnwick-serve(1).\n";

bool ReadWhole(std::string_view text, long long nLow, long long nHigh, int* pValue)
{
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < nLow || value > nHigh)
        return false;
    *pValue = static_cast<int>(value);
    return true;
}

// The interface that holds address among its own; empty when none does.
std::string InterfaceHolding(const sockaddr_storage& address)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    std::string name;
    const auto& wanted = reinterpret_cast<const sockaddr_in&>(address);
    for (const ifaddrs* entry = list; entry != nullptr && name.empty(); entry = entry->ifa_next)
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == wanted.sin_addr.s_addr)
            name = entry->ifa_name;
    ::freeifaddrs(list);
    return name;
}

// --boot-file ARCH=NAME into files; "" when it fits, else what is wrong.
std::string SetBootFile(std::string_view value, NetbootFiles* pFiles)
{
    const size_t equals = value.find('=');
    const std::string_view arch = value.substr(0, equals);
    const std::string_view name = equals == std::string_view::npos ? std::string_view() : value.substr(equals + 1);
    const std::pair<std::string_view, std::string*> names[] = {
        {"bios", &pFiles->biosFile},          {"uefi-x64", &pFiles->uefiX64File},
        {"uefi-ia32", &pFiles->uefiIa32File}, {"uefi-arm64", &pFiles->uefiArm64File},
        {"ipxe", &pFiles->ipxeScript},
    };
    std::string* pTarget = nullptr;
    for (const auto& [known, pName] : names)
        if (arch == known)
            pTarget = pName;
    if (pTarget == nullptr || name.empty())
        return "--boot-file " + std::string(value.substr(0, 60)) +
               ": ARCH=NAME, ARCH one of bios, uefi-x64, uefi-ia32, uefi-arm64, ipxe";
    // The name goes into the DHCP answer's file field, which URLs share.
    if (name.size() > 100 ||
        std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        return "--boot-file " + std::string(arch) + ": a name of 1 to 100 bytes, without control characters";
    *pTarget = name;
    return {};
}

} // namespace

int ParseServeOptions(int argc, const char* const* argv, ServeOptions* pOptions, std::string* pSay)
{
    const auto mistake = [pSay](const std::string& text) {
        *pSay = "tarnwick-serve: " + text + " (tarnwick-serve --help says more)";
        return 2;
    };
    ServeOptions options;
    ServeConfig& config = options.config;
    std::vector<std::string> listen;
    std::string folder;
    bool upload = false, create = false, replace = false;
    int port = static_cast<int>(TFTP_SERVER_PORT);
    int httpPort = static_cast<int>(options.nHttpPort);
    bool httpPortGiven = false, bootFileGiven = false;
    // The options that take a number: its bounds and where it goes.
    const struct {
        std::string_view name;
        long long nLow, nHigh;
        int* pValue;
    } numbers[] = {
        {"--port", 1, 65535, &port},
        {"--http-port", 1, 65535, &httpPort},
        {"--max-transfers", 1, 1024, &config.nMaxTransfers},
        {"--max-per-client", 1, 1024, &config.nMaxPerClient},
        {"--max-blksize", TFTP_MIN_BLOCK_SIZE, TFTP_MAX_BLOCK_SIZE, &config.nMaxBlockSize},
        {"--max-windowsize", 1, TFTP_MAX_WINDOW_SIZE, &config.nMaxWindowSize},
    };
    const struct {
        std::string_view name;
        bool* pFlag;
        bool value;
    } flags[] = {
        {"--allow-upload", &upload, true},
        {"--allow-create", &create, true},
        {"--allow-replace", &replace, true},
        {"--ignore-case", &config.bIgnoreCase, true},
        {"--any-network", &config.bLocalNetworksOnly, false},
        {"--require-confinement", &options.bRequireConfinement, true},
        {"--netboot", &options.bNetboot, true},
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (argument.starts_with("--") && argument.find('=') != std::string_view::npos) {
            value = argument.substr(argument.find('=') + 1);
            argument = argument.substr(0, argument.find('='));
            hasValue = true;
        }
        const auto next = [&]() -> bool {
            if (!hasValue && i + 1 < argc) {
                value = argv[++i];
                hasValue = true;
            }
            return hasValue;
        };
        if (argument == "-h" || argument == "--help") {
            *pSay = kHelp;
            return 0;
        }
        if (argument == "-v" || argument == "--version") {
            *pSay = "tarnwick-serve " TARNWICK_VERSION "\n";
            return 0;
        }
        bool known = false;
        for (const auto& flag : flags)
            if (argument == flag.name && !hasValue) {
                *flag.pFlag = flag.value;
                known = true;
            }
        for (const auto& number : numbers) {
            if (argument != number.name)
                continue;
            if (!next())
                return mistake(std::string(argument) + " needs a number");
            if (!ReadWhole(value, number.nLow, number.nHigh, number.pValue))
                return mistake(std::string(argument) + " " + std::string(value).substr(0, 40) + ": not a number from " +
                               std::to_string(number.nLow) + " to " + std::to_string(number.nHigh));
            options.bListenGiven |= argument == "--port";
            httpPortGiven |= argument == "--http-port";
            known = true;
        }
        if (argument == "--listen" || argument == "--log-format" || argument == "--boot-file") {
            if (!next())
                return mistake(std::string(argument) + " needs a value");
            if (argument == "--boot-file") {
                if (const std::string wrong = SetBootFile(value, &options.bootFiles); !wrong.empty())
                    return mistake(wrong);
                bootFileGiven = true;
            } else if (argument == "--listen")
                listen.emplace_back(value);
            else if (value == "json" || value == "text")
                options.bJson = value == "json";
            else
                return mistake("--log-format " + std::string(value).substr(0, 40) + ": text or json");
            options.bListenGiven |= argument == "--listen";
            known = true;
        }
        if (known)
            continue;
        if (argument.starts_with("-") && argument != "-")
            return mistake("unknown option " + std::string(argument).substr(0, 40));
        if (!folder.empty())
            return mistake("one folder only: " + folder + " and " + std::string(argument).substr(0, 200));
        folder = argument;
    }
    if (folder.empty())
        return mistake("which folder? tarnwick-serve DIR");
    if (!upload && (create || replace))
        return mistake(std::string(create ? "--allow-create" : "--allow-replace") + " needs --allow-upload");
    struct stat status {};
    char absolute[PATH_MAX];
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        ::realpath(folder.c_str(), absolute) == nullptr)
        return mistake(folder.substr(0, 200) + " is not a folder");
    config.folder = absolute;
    config.nPort = static_cast<UINT>(port);
    config.bAllowUpload = upload;
    config.bAllowCreate = upload && create;
    config.bReplaceExisting = upload && replace;
    for (const std::string& text : listen) {
        const HostLookupResult found = AfxLookUpHost(text, config.nPort, true);
        if (found.nError != 0 || found.addresses.empty())
            return mistake("--listen " + text.substr(0, 60) + ": not an IPv4 or IPv6 address");
        config.listen.push_back(found.addresses.front());
    }
    if (!options.bNetboot && (httpPortGiven || bootFileGiven))
        return mistake(std::string(httpPortGiven ? "--http-port" : "--boot-file") + " needs --netboot");
    if (options.bNetboot) {
        // The proxy DHCP answers on one interface, and names one address as the boot server.
        if (listen.size() != 1)
            return mistake("--netboot needs exactly one --listen ADDRESS: the IPv4 address of the network "
                           "card the machines boot on");
        if (config.listen.front().ss_family != AF_INET)
            return mistake("--netboot: --listen " + listen.front().substr(0, 60) +
                           " is not IPv4 (network boot firmware asks by DHCP, over IPv4)");
        options.netbootInterface = InterfaceHolding(config.listen.front());
        if (options.netbootInterface.empty())
            return mistake("--netboot: no network interface of this machine has the address " +
                           listen.front().substr(0, 60));
        options.nHttpPort = static_cast<UINT>(httpPort);
    }
    *pOptions = std::move(options);
    return -1;
}

std::string ServingLine(const ServeConfig& config, const std::vector<sockaddr_storage>& addresses)
{
    std::string line = "Serving " + config.folder + " on ";
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (i > 0)
            line += i + 1 == addresses.size() ? " and " : ", ";
        line += AddressText(addresses[i]);
    }
    // Uploads that may neither create nor replace a file change nothing.
    const bool create = config.bAllowUpload && config.bAllowCreate;
    const bool replace = config.bAllowUpload && config.bReplaceExisting;
    if (create && replace)
        return line + ", uploads of new files and replacing files";
    if (create)
        return line + ", uploads of new files";
    if (replace)
        return line + ", uploads replacing files";
    if (config.bAllowUpload)
        return line + ", read-only: uploads are allowed but neither new files nor replacing files";
    return line + ", read-only";
}
