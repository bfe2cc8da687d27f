// The string table: every text the program shows, by number.
#pragma once

#include <string>

// The text of string nID, or nullptr when the table has no such string.
const char* AfxFindString(unsigned int nID);

// The text of string nID; empty when the table has no such string.
std::string AfxLoadString(unsigned int nID);
