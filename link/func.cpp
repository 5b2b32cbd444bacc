#include "link/func.h"

#include <cctype>

#include <algorithm>

namespace zp {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kSignedDigits[] = "0123456789-";  // index 10 is the minus sign
constexpr int kMinusIndex = 10;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
int DigitValue(char c) {
    return c - '0';
}

}  // namespace

std::string ByteToHex(uint8_t b) {
    return {kHexDigits[b / 16], kHexDigits[b % 16]};
}

std::string BytesToHex(const uint8_t* bytes, size_t n, std::string_view separator) {
    std::string out;
    out.reserve(n * (2 + separator.size()));
    for (size_t i = 0; i < n; ++i) {
        if (i > 0) {
            out += separator;
        }
        out += ByteToHex(bytes[i]);
    }
    return out;
}

std::string FormatSigned4(int16_t v) {
    char first = 0;
    int m = 0;
    if (v < 0) {
        first = kSignedDigits[kMinusIndex];
        // -v as an unsigned 16-bit value, so -32768 gives 32768.
        m = static_cast<uint16_t>(-static_cast<int32_t>(v)) % 1000;
    } else {
        // 11000 and up have no form of their own; the lead index stops at the
        // table's last entry instead of running past it.
        first = kSignedDigits[std::min(v / 1000, kMinusIndex)];
        m = v % 1000;
    }
    return {first, kSignedDigits[m / 100], kSignedDigits[(m % 100) / 10], kSignedDigits[m % 10]};
}

int32_t ParseSigned4(std::string_view t) {
    if (t.size() < 4) {
        return 0;
    }
    if (t[0] == kSignedDigits[kMinusIndex]) {
        if (!IsDigit(t[1]) || !IsDigit(t[2]) || !IsDigit(t[3])) {
            return 0;
        }
        return 65536 - (100 * DigitValue(t[1]) + 10 * DigitValue(t[2]) + DigitValue(t[3]));
    }
    if (!std::all_of(t.begin(), t.begin() + 4, IsDigit)) {
        return 0;
    }
    return 1000 * DigitValue(t[0]) + 100 * DigitValue(t[1]) + 10 * DigitValue(t[2]) +
           DigitValue(t[3]);
}

bool IsSigned4(std::string_view t) {
    if (t.size() != 4) {
        return false;
    }
    const size_t first = t[0] == kSignedDigits[kMinusIndex] ? 1 : 0;
    return std::all_of(t.begin() + static_cast<std::ptrdiff_t>(first), t.end(), IsDigit);
}

bool HexToBytes(std::string_view text, std::vector<uint8_t>& bytes, std::string& error) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',') {
            continue;
        }
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            error = std::string("\"") + c + "\" is not a hexadecimal digit";
            return false;
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        error = "half a byte at the end";
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

std::string JoinTexts(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            out += separator;
        }
        out += parts[i];
    }
    return out;
}

}  // namespace zp
