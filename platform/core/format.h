// SPDX-License-Identifier: MIT
// printf-style formatting into a string, for the program's own format strings.
#pragma once

#include <string>

// The format must be one of the program's own strings; untrusted text only
// ever goes in as an argument.
std::string AfxFormatString(const char* lpszFormat, ...) __attribute__((format(printf, 1, 2)));

// The format with each "%lu" made "%llu": the table's formats name unsigned
// longs, and sizes, counts and rates are 64-bit on every platform.
std::string AfxWidenFormat(std::string format);

// At most nMax bytes of text, cut only between UTF-8 characters.
std::string AfxBoundedText(std::string text, size_t nMax);
