// SPDX-License-Identifier: MIT
// The line tarnwick-serve ends with when serving could not start: what went
// wrong and what to do, on one line, commands included.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/core/privileged_bind.h"
#include "server/server.h"

// detail is what Start said (the address and the system's reason); refused
// is what the port 69 helper answered, when it was run.
std::string ServeFailureLine(ServeStartError error, const ServeConfig& config, const std::string& detail,
                             const BindResult& refused);

// The word for each way the helper refused port 69, as "reason_code" of the
// error line: "port69-no-helper", "port69-not-in-group",
// "port69-not-runnable", "port69-no-capability" (any refusal of no known case).
const char* Port69ReasonName(HelperRefusal refusal);

// Besides its text, the error line's fields when port 69 was refused through
// the helper, so that a reader can tell the case in words of its own:
// reason_code, helper (its path), user, and with port69-not-in-group, group.
// None for any other failure.
std::vector<std::pair<std::string, std::string>> ServeFailureFields(ServeStartError error, const ServeConfig& config,
                                                                    const BindResult& refused);
