// SPDX-License-Identifier: MIT
// The bytes of files the tests move, and what netascii makes of them.
#pragma once

#include <string>

#include "tests/support/fake_peer.h"

// Random bytes of every value, the same for the same seed: for octet transfers.
Bytes RandomBytes(size_t size, unsigned seed);
// Every occurrence of from replaced by to.
Bytes Replace(const Bytes& in, const std::string& from, const std::string& to);
// Without the bytes that the netascii set leaves out.
Bytes WithoutDropped(const Bytes& in);
