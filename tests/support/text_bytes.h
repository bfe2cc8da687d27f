// SPDX-License-Identifier: MIT
// What netascii makes of bytes, for tests that compare files moved in it.
#pragma once

#include <string>

#include "tests/support/fake_peer.h"

// Every occurrence of from replaced by to.
Bytes Replace(const Bytes& in, const std::string& from, const std::string& to);
// Without the bytes that the netascii set leaves out.
Bytes WithoutDropped(const Bytes& in);
