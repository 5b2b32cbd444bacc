// Number texts: bytes as hexadecimal for the status-bar echoes, and the
// four-character signed texts of zoom and focus positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zp {

// Two upper-case hexadecimal digits.
std::string ByteToHex(uint8_t b);
// Each byte as two digits, the separator between them.
std::string BytesToHex(const uint8_t* bytes, size_t n, std::string_view separator = "");

// Bytes from hexadecimal digits in pairs, spaces and commas between them
// allowed; false with a reason for a stray character or half a byte.
bool HexToBytes(std::string_view text, std::vector<uint8_t>& bytes, std::string& error);
// The texts with the separator between them.
std::string JoinTexts(const std::vector<std::string>& parts, std::string_view separator);

// A sign or thousands digit, then three digits. Negative values lose their
// thousands digit; from 10000 up the first character is the minus sign (see
// README, "Notes on behaviour").
std::string FormatSigned4(int16_t v);

// Reads the first four characters; anything not of the expected form is 0.
// A minus text gives 65536 minus its three digits.
int32_t ParseSigned4(std::string_view t);

// True for exactly four characters of the form ParseSigned4 reads: four
// digits, or a minus and three digits.
bool IsSigned4(std::string_view t);

}  // namespace zp
