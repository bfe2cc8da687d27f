// SPDX-License-Identifier: MIT
#include "text_bytes.h"

#include <algorithm>
#include <iterator>
#include <random>

#include "protocol/netascii.h"

Bytes RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (BYTE& b : bytes)
        b = static_cast<BYTE>(random());
    return bytes;
}

Bytes Replace(const Bytes& in, const std::string& from, const std::string& to)
{
    Bytes out;
    out.reserve(in.size() * 2);
    for (size_t i = 0; i < in.size();) {
        if (in.size() - i >= from.size() && std::equal(from.begin(), from.end(), in.begin() + static_cast<long>(i))) {
            out.insert(out.end(), to.begin(), to.end());
            i += from.size();
        } else {
            out.push_back(in[i++]);
        }
    }
    return out;
}

Bytes WithoutDropped(const Bytes& in)
{
    Bytes out;
    std::copy_if(in.begin(), in.end(), std::back_inserter(out), IsNetascii);
    return out;
}
