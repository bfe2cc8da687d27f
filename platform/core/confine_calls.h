// SPDX-License-Identifier: MIT
// The system calls a confined server may make: the one list, with a reason
// for each. Every call not listed fails with EPERM (AfxConfine).
#pragma once

#include <cstdint>
#include <span>

// One condition on an argument: (argument & mask) == value.
struct ConfineArgument {
    unsigned nIndex;
    std::uint64_t mask;
    std::uint64_t value;
};

struct ConfineCall {
    const char* name; // as libseccomp names it; a name this machine lacks is passed over
    // All must hold; none: any arguments. A call listed twice is allowed when
    // either entry's conditions hold.
    ConfineArgument args[3];
    unsigned nArgs;
    bool bWriteOnly; // allowed only when the folder may be written (uploads)
    const char* reason;
    bool bTcpOnly = false; // allowed only when a TCP port is served (HTTP)
};

std::span<const ConfineCall> AfxConfineCalls();
