// SPDX-License-Identifier: MIT
#include "transfer_log.h"

#include <algorithm>

std::string ErrorLogLine(std::string_view text)
{
    std::string line = "Error: " + std::string(text);
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}
