// Bytes and frames as the tests write them: hexadecimal text both ways, and
// command frames sealed from their payload with a checksum of the tests' own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zp::test {

using Bytes = std::vector<uint8_t>;

// "02 31 10" or "023110" -> bytes.
inline Bytes Hex(const std::string& text) {
    Bytes out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// Bytes -> "02 31 10", for readable differences.
inline std::string ToHex(const Bytes& bytes) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        if (!s.empty()) {
            s += ' ';
        }
        s += kDigits[b >> 4];
        s += kDigits[b & 0x0F];
    }
    return s;
}

// Payload bytes 1 ... as given, the rest zero, with start, end and checksum.
inline Bytes Sealed(const Bytes& payload) {
    Bytes b = payload;
    b.resize(15, 0);
    b.insert(b.begin(), 0x02);
    b.push_back(0x03);
    uint8_t sum = 0;
    for (uint8_t x : b) {
        sum = static_cast<uint8_t>(sum + x);
    }
    b.push_back(static_cast<uint8_t>(0 - sum));
    return b;
}

}  // namespace zp::test
