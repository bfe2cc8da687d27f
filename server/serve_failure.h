// SPDX-License-Identifier: MIT
// The line tarnwick-serve ends with when serving could not start: what went
// wrong and what to do, on one line, commands included.
#pragma once

#include <string>

#include "platform/core/privileged_bind.h"
#include "server/server.h"

// detail is what Start said (the address and the system's reason); refused
// is what the port 69 helper answered, when it was run.
std::string ServeFailureLine(ServeStartError error, const ServeConfig& config, const std::string& detail,
                             const BindResult& refused);
