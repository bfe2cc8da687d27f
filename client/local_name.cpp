// SPDX-License-Identifier: MIT
#include "client/local_name.h"

std::string_view LocalNameOfRemote(std::string_view remoteName)
{
    const size_t slash = remoteName.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? remoteName : remoteName.substr(slash + 1);
    if (name == "." || name == "..")
        return {};
    return name;
}
