// The host box's text: a host name or dotted IPv4 address, optionally
// followed by ":port".
#pragma once

#include <string>
#include <string_view>

#include "platform/core/afxtypes.h"

// Splits "host:port" (exactly one colon, port 1 to 65535 in decimal) into its
// parts; text without a colon names port nDefaultPort, and text with more than
// one colon is left whole as the host. Returns false, leaving the outputs
// alone, when the text after the one colon is not such a port.
bool SplitHostPort(std::string_view text, UINT nDefaultPort, std::string* pHost, UINT* pPort);
