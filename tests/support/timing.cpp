// SPDX-License-Identifier: MIT
#include "timing.h"

#include <cstdlib>

int TestTimeScale()
{
    static const int scale = [] {
        const char* text = std::getenv("TARNWICK_TEST_TIME_SCALE");
        const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
        return value >= 1 && value <= 100 ? static_cast<int>(value) : 1;
    }();
    return scale;
}

std::chrono::milliseconds Scaled(std::chrono::milliseconds period)
{
    return period * TestTimeScale();
}

std::chrono::milliseconds SchedulingStall()
{
    return Scaled(std::chrono::milliseconds(300));
}

std::chrono::milliseconds QuickTick()
{
    return SchedulingStall() / 8;
}
