// SPDX-License-Identifier: MIT
#include "confine.h"

#include <linux/capability.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "confine_calls.h"

namespace {

// Landlock's interface (linux/landlock.h), spelled out here because the
// build machine's headers may be older than the kernel the program runs on.
constexpr std::uint64_t kLandlockExecute = 1ULL << 0;
constexpr std::uint64_t kLandlockWriteFile = 1ULL << 1;
constexpr std::uint64_t kLandlockReadFile = 1ULL << 2;
constexpr std::uint64_t kLandlockReadDir = 1ULL << 3;
constexpr std::uint64_t kLandlockRemoveFile = 1ULL << 5;
constexpr std::uint64_t kLandlockMakeReg = 1ULL << 8;
constexpr std::uint64_t kLandlockAbi1 = (1ULL << 13) - 1; // EXECUTE to MAKE_SYM
constexpr std::uint64_t kLandlockRefer = 1ULL << 13;      // ABI 2
constexpr std::uint64_t kLandlockTruncate = 1ULL << 14;   // ABI 3
constexpr std::uint64_t kLandlockIoctlDev = 1ULL << 15;   // ABI 5
constexpr std::uint64_t kLandlockNetBindTcp = 1ULL << 0;  // ABI 4
constexpr std::uint64_t kLandlockNetConnectTcp = 1ULL << 1;
constexpr std::uint64_t kLandlockScopeAbstractUnix = 1ULL << 0; // ABI 6
constexpr std::uint64_t kLandlockScopeSignal = 1ULL << 1;
constexpr unsigned kLandlockCreateVersion = 1U << 0;
constexpr int kLandlockRulePathBeneath = 1;
constexpr int kLandlockRuleNetPort = 2; // ABI 4
// The newest ABI whose rights this file knows; a newer kernel is used at this one.
constexpr int kLandlockKnownAbi = 6;

struct LandlockRulesetAttr {
    std::uint64_t handledAccessFs;
    std::uint64_t handledAccessNet;
    std::uint64_t scoped;
};

struct __attribute__((packed)) LandlockPathBeneathAttr {
    std::uint64_t allowedAccess;
    std::int32_t parentFd;
};

struct LandlockNetPortAttr {
    std::uint64_t allowedAccess;
    std::uint64_t port;
};

// Drops every capability: from the bounding set (while CAP_SETPCAP is
// still held), the ambient set, and the effective, permitted and
// inheritable sets. A process that holds none succeeds at once.
bool DropCapabilities(std::string* pWhy)
{
    for (int cap = 0; cap <= CAP_LAST_CAP; ++cap)
        if (::prctl(PR_CAPBSET_READ, cap, 0, 0, 0) == 1 && ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 &&
            errno != EINVAL) {
            *pWhy = std::string("the bounding set kept a capability: ") + std::strerror(errno);
            return false;
        }
    (void)::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, data) != 0) {
        *pWhy = std::string("capset: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Handles every file right of the ABI and grants, beneath the folder, reading
// (and with bWrite writing, making and removing files); handles TCP binding
// and connecting with no rule granting them; scopes abstract Unix sockets and
// signals to the process (ABI 6). A TCP port served may be bound again
// (nothing else: its socket is open already).
bool ApplyLandlock(int nAbi, const ConfineRequest& request, std::string* pWhy)
{
    LandlockRulesetAttr ruleset{};
    ruleset.handledAccessFs = kLandlockAbi1;
    size_t size = sizeof ruleset.handledAccessFs;
    if (nAbi >= 2)
        ruleset.handledAccessFs |= kLandlockRefer;
    if (nAbi >= 3)
        ruleset.handledAccessFs |= kLandlockTruncate;
    if (nAbi >= 4) {
        ruleset.handledAccessNet = kLandlockNetBindTcp | kLandlockNetConnectTcp;
        size = offsetof(LandlockRulesetAttr, scoped);
    }
    if (nAbi >= 5)
        ruleset.handledAccessFs |= kLandlockIoctlDev;
    if (nAbi >= 6) {
        ruleset.scoped = kLandlockScopeAbstractUnix | kLandlockScopeSignal;
        size = sizeof ruleset;
    }
    const int rulesetFd = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &ruleset, size, 0));
    if (rulesetFd < 0) {
        *pWhy = std::string("Landlock: ") + std::strerror(errno);
        return false;
    }
    LandlockPathBeneathAttr beneath{kLandlockReadFile | kLandlockReadDir, request.nFolderFd};
    if (request.bWrite)
        beneath.allowedAccess |=
            kLandlockWriteFile | kLandlockMakeReg | kLandlockRemoveFile | (nAbi >= 3 ? kLandlockTruncate : 0);
    static_assert((kLandlockAbi1 & kLandlockExecute) != 0, "nothing beneath the folder is executed");
    bool ok = ::syscall(SYS_landlock_add_rule, rulesetFd, kLandlockRulePathBeneath, &beneath, 0) == 0;
    if (!ok)
        *pWhy = std::string("Landlock's rule for the folder: ") + std::strerror(errno);
    LandlockNetPortAttr port{kLandlockNetBindTcp, request.nTcpPort};
    if (ok && nAbi >= 4 && request.nTcpPort != 0 &&
        !(ok = ::syscall(SYS_landlock_add_rule, rulesetFd, kLandlockRuleNetPort, &port, 0) == 0))
        *pWhy = std::string("Landlock's rule for the TCP port: ") + std::strerror(errno);
    if (ok && !(ok = ::syscall(SYS_landlock_restrict_self, rulesetFd, 0) == 0))
        *pWhy = std::string("Landlock: ") + std::strerror(errno);
    ::close(rulesetFd);
    return ok;
}

bool ApplySeccomp(bool bWrite, bool bTcp, std::string* pWhy)
{
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (filter == nullptr) {
        *pWhy = "seccomp: no filter could be made";
        return false;
    }
    int error = 0;
    for (const ConfineCall& call : AfxConfineCalls()) {
        if ((call.bWriteOnly && !bWrite) || (call.bTcpOnly && !bTcp))
            continue;
        const int number = ::seccomp_syscall_resolve_name(call.name);
        if (number == __NR_SCMP_ERROR)
            continue;
        std::vector<scmp_arg_cmp> args;
        for (unsigned i = 0; i < call.nArgs; ++i)
            args.push_back(
                scmp_arg_cmp{call.args[i].nIndex, SCMP_CMP_MASKED_EQ, call.args[i].mask, call.args[i].value});
        error = ::seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, number, call.nArgs, args.data());
        if (error != 0) {
            *pWhy = std::string("seccomp: the rule for ") + call.name + ": " + std::strerror(-error);
            break;
        }
    }
    if (error == 0 && (error = ::seccomp_load(filter)) != 0)
        *pWhy = std::string("seccomp: ") + std::strerror(-error);
    ::seccomp_release(filter);
    return error == 0;
}

void Add(std::string* pMissing, const std::string& what)
{
    if (!pMissing->empty())
        pMissing->append("; ");
    pMissing->append(what);
}

} // namespace

int AfxLandlockAbi()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kLandlockCreateVersion);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

ConfineResult AfxConfine(const ConfineRequest& request)
{
    ConfineResult result;
    std::string why;
    result.bCapabilities = DropCapabilities(&why);
    if (!result.bCapabilities)
        Add(&result.missing, why);
    result.bNoNewPrivs = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    if (!result.bNoNewPrivs)
        Add(&result.missing, std::string("no-new-privileges: ") + std::strerror(errno));
    const int abi = AfxLandlockAbi();
    if (abi == 0)
        Add(&result.missing, "Landlock: this kernel does not offer it (Linux 5.13 or later, with landlock among "
                             "its security modules)");
    else if (ApplyLandlock(std::min(abi, kLandlockKnownAbi), request, &why))
        result.nLandlockAbi = std::min(abi, kLandlockKnownAbi);
    else
        Add(&result.missing, why);
    // Last: the calls above are not on the list.
    result.bSeccomp = ApplySeccomp(request.bWrite, request.nTcpPort != 0, &why);
    if (!result.bSeccomp)
        Add(&result.missing, why);
    return result;
}
