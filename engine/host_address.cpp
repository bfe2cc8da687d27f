#include "host_address.h"

#include <algorithm>

bool SplitHostPort(std::string_view text, UINT nDefaultPort, std::string* pHost, UINT* pPort)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || std::count(text.begin(), text.end(), ':') > 1) {
        *pHost = std::string(text);
        *pPort = nDefaultPort;
        return true;
    }
    const std::string_view digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5)
        return false;
    UINT port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        port = port * 10 + static_cast<UINT>(c - '0');
    }
    if (port < 1 || port > 65535)
        return false;
    *pHost = std::string(text.substr(0, colon));
    *pPort = port;
    return true;
}
