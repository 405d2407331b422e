// Conversion between raw track bytes and the hexadecimal text of the Raw Type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tollwick {

// Writes 2n upper-case hex digits and a terminating zero: dest needs 2n + 1 bytes.
// n <= 0 gives the empty text.
void BytesToHex(const uint8_t* source, int n, char* dest);

// The same as a string.
std::string BytesToHexString(const std::vector<uint8_t>& bytes);

// Writes one byte per pair of source characters (no terminator). A character that is not a
// hex digit reads as 'F'. With an odd m the last byte pairs the last digit with the
// source's terminator, so source must be zero-terminated (or hold m + 1 characters).
void HexToBytes(const char* source, int m, uint8_t* dest);

}  // namespace tollwick
