// SPDX-License-Identifier: MIT
// Wall-clock time in the tests. A busy machine may leave any one process or
// thread without a processor for a while: the test's own, a server it
// started, the relay's. Every period and bound that a test measures on the
// wall clock comes from here, so that one such stall never looks like a dead
// peer or a lost datagram. TARNWICK_TEST_TIME_SCALE, a whole number from 1 to
// 100 (1 when unset), stretches them all on a machine busier still.
#pragma once

#include <chrono>

// TARNWICK_TEST_TIME_SCALE, read once.
int TestTimeScale();

// A period or bound of the tests, stretched by the scale.
std::chrono::milliseconds Scaled(std::chrono::milliseconds period);

// The longest scheduling stall the tests survive: 300 ms, scaled.
std::chrono::milliseconds SchedulingStall();

// The tick of a transfer driven quickly through a lossy link. The engine
// resends after 6 ticks without an answer and gives up after 18, so from a
// resend to the end are 12 ticks: they outlast a stall by half again.
std::chrono::milliseconds QuickTick();
