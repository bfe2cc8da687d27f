// SPDX-License-Identifier: MIT
// Whether the test process runs in a network namespace of its own, where a
// server may take port 69 without touching the machine's.
#pragma once

bool InOwnNetwork();
