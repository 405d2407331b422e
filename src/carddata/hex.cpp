#include "carddata/hex.h"

namespace tollwick {
namespace {

char HexDigit(unsigned value) {
    return static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10);
}

unsigned DigitValue(char ch) {
    if (ch >= '0' && ch <= '9') return static_cast<unsigned>(ch - '0');
    if (ch >= 'a' && ch <= 'f') ch = static_cast<char>(ch - 'a' + 'A');
    if (ch >= 'A' && ch <= 'F') return static_cast<unsigned>(ch - 'A' + 10);
    return 15;
}

}  // namespace

void BytesToHex(const uint8_t* source, int n, char* dest) {
    int out = 0;
    for (int i = 0; i < n; ++i) {
        dest[out++] = HexDigit(source[i] >> 4);
        dest[out++] = HexDigit(source[i] & 0x0F);
    }
    dest[out] = 0;
}

std::string BytesToHexString(const std::vector<uint8_t>& bytes) {
    std::string text(bytes.size() * 2 + 1, '\0');
    BytesToHex(bytes.data(), static_cast<int>(bytes.size()), text.data());
    text.pop_back();
    return text;
}

void HexToBytes(const char* source, int m, uint8_t* dest) {
    for (int i = 0; i < m; i += 2) {
        dest[i / 2] = static_cast<uint8_t>(DigitValue(source[i]) * 16 + DigitValue(source[i + 1]));
    }
}

}  // namespace tollwick
