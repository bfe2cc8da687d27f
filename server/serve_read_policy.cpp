// SPDX-License-Identifier: MIT
#include "server/serve_read_policy.h"

ServeReadPolicy ServeReadPolicyFor(int nWindowSize, int nServed, int nClients)
{
    if (nWindowSize > 1)
        return {kServeReadsPerWake, false};
    return {1, nServed == 1 && nClients == 0};
}
