// SPDX-License-Identifier: MIT
#include "server/serve_read_policy.h"

int ServeReadsPerWake(int nWindowSize)
{
    return nWindowSize > 1 ? kServeReadsPerWake : 1;
}
