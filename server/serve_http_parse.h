// SPDX-License-Identifier: MIT
// The pure pieces of serving a folder over HTTP (RFC 9110): a request's path
// made a name, the one range a Range header asks for, and the date of a
// Last-Modified header. Bytes in, values out; no socket or file.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/afxtypes.h"

// The path of a request target, percent-decoded: what comes before a "?",
// each "%" and two hex digits made the byte they stand for, every other
// byte as it is ("+" too: it means a space only in a form's query). nullopt
// for a "%" without two hex digits after it. "%00" becomes a zero byte and
// "%2F" a "/": the name's judge (NormalizeServeName) refuses the one and
// reads the other as a separator, so an escape never hides a name from it.
std::optional<std::string> DecodeHttpPath(std::string_view target);

struct HttpRange {
    enum Kind : BYTE {
        whole,         // no range asked, or one not understood: the whole file, 200
        part,          // nLength bytes from nFirst, 206 (it may be the whole file)
        unsatisfiable, // 416: the range starts at or past the end
    };
    Kind kind = whole;
    ULONGLONG nFirst = 0;
    ULONGLONG nLength = 0;
};

// The range a Range header's value asks of a file of nSize bytes: one
// "bytes=FIRST-LAST", "bytes=FIRST-" or "bytes=-SUFFIX" (the unit in any
// case). LAST past the end is the end; a SUFFIX longer than the file is the
// whole file. Several ranges, another unit, LAST before FIRST or any other
// shape is answered with the whole file, as a server may; a FIRST at or past
// the end, or a SUFFIX of 0, is unsatisfiable. Numbers too large for 64 bits
// count as past any end.
HttpRange ParseHttpRange(std::string_view header, ULONGLONG nSize);

// The time as HTTP writes it, "Sun, 06 Nov 1994 08:49:37 GMT" (IMF-fixdate),
// in English whatever the locale.
std::string HttpDate(std::time_t time);
