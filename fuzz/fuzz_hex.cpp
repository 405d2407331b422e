// Hexadecimal text of the Raw Type: bytes to text and back, text of any length (odd included)
// to bytes, and a raw track through writing and reading. Buffers are allocated to the exact size
// the functions promise to use, so an overrun is caught by the address sanitizer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "fuzz_input.h"

namespace fuzz = tollwick::fuzz;

namespace {

unsigned DigitValue(char ch) {
    if (ch >= '0' && ch <= '9') return static_cast<unsigned>(ch - '0');
    if (ch >= 'A' && ch <= 'F') return static_cast<unsigned>(ch - 'A' + 10);
    if (ch >= 'a' && ch <= 'f') return static_cast<unsigned>(ch - 'a' + 10);
    return 15;  // anything else reads as 'F'
}

bool IsUpperHexDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F');
}

std::string ToHex(const uint8_t* bytes, std::size_t n) {
    std::string text(2 * n + 1, '\0');
    tollwick::BytesToHex(bytes, static_cast<int>(n), text.data());
    text.pop_back();
    return text;
}

void CheckBytesToHexAndBack(const uint8_t* data, std::size_t n) {
    const auto text = std::make_unique<char[]>(2 * n + 1);
    tollwick::BytesToHex(data, static_cast<int>(n), text.get());
    if (std::strlen(text.get()) != 2 * n) fuzz::Fail("hex text has the wrong length");
    if (!std::all_of(text.get(), text.get() + 2 * n, IsUpperHexDigit)) {
        fuzz::Fail("hex text holds a character that is not an upper-case digit");
    }
    const auto back = std::make_unique<uint8_t[]>(n + 1);  // never empty
    tollwick::HexToBytes(text.get(), static_cast<int>(2 * n), back.get());
    if (n != 0 && std::memcmp(back.get(), data, n) != 0) fuzz::Fail("hex round trip differs");
}

void CheckEmptyCounts(const uint8_t* data) {
    char text[1] = {'x'};
    tollwick::BytesToHex(data, 0, text);
    if (text[0] != 0) fuzz::Fail("zero bytes do not give the empty text");
    text[0] = 'x';
    tollwick::BytesToHex(data, -1, text);
    if (text[0] != 0) fuzz::Fail("a negative count does not give the empty text");
}

// Any text, of odd length too: one byte per pair, the last digit of an odd text paired with the
// terminator (which reads as 'F').
void CheckTextToBytes(const uint8_t* data, std::size_t m) {
    const auto source = std::make_unique<char[]>(m + 1);
    std::memcpy(source.get(), data, m);
    source[m] = 0;
    const std::size_t count = (m + 1) / 2;
    const auto dest = std::make_unique<uint8_t[]>(count + 1);  // never empty
    tollwick::HexToBytes(source.get(), static_cast<int>(m), dest.get());
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned expected = DigitValue(source[2 * i]) * 16 + DigitValue(source[2 * i + 1]);
        if (dest[i] != expected) fuzz::Fail("hex text decodes to the wrong byte");
    }
}

// A Raw Type track written and read back: the read buffer is zero-terminated, so trailing zero
// bytes do not come back.
void CheckRawTrack(const uint8_t* data, std::size_t n) {
    const std::string text = ToHex(data, n);
    const auto written = tollwick::EncodeRawTrack(text);
    if (n > tollwick::kMaxEncodedCharacters) {
        if (written) fuzz::Fail("a raw track longer than 255 bytes was accepted");
        return;
    }
    if (!written || written->size() != n) fuzz::Fail("a raw track was refused or resized");
    tollwick::TrackBuffer buffer{};
    for (std::size_t i = 0; i < n; ++i) {
        buffer[i] = static_cast<char>(tollwick::ReverseBits((*written)[i]));
    }
    const tollwick::TrackBuffer raw = buffer;
    std::size_t kept = n;
    while (kept > 0 && data[kept - 1] == 0) --kept;
    if (tollwick::DecodeRawTrack(buffer) == tollwick::TrackDecode::kFailed) {
        if (2 * kept + 1 <= buffer.size()) fuzz::Fail("a raw track that fits was refused");
        if (buffer != raw) fuzz::Fail("a refused raw track changed the buffer");
        return;
    }
    const std::string_view back(buffer.data(), strnlen(buffer.data(), buffer.size()));
    if (back != std::string_view(text).substr(0, 2 * kept))
        fuzz::Fail("raw track round trip differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CheckEmptyCounts(data);
    CheckBytesToHexAndBack(data, size);
    CheckTextToBytes(data, size);
    CheckRawTrack(data, size);
    return 0;
}
