#include "issuance/issue_journal.h"

#include <sodium.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace tollwick {
namespace {

constexpr std::array<std::pair<AttemptStatus, std::string_view>, 4> kStatusNames{{
    {AttemptStatus::kUncertain, "uncertain"},
    {AttemptStatus::kWritten, "written"},
    {AttemptStatus::kVerified, "verified"},
    {AttemptStatus::kFailed, "failed"},
}};

std::string Hex(const unsigned char* bytes, std::size_t size) {
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

}  // namespace

std::string_view AttemptStatusName(AttemptStatus status) {
    for (const auto& [value, name] : kStatusNames) {
        if (value == status) return name;
    }
    return "uncertain";
}

std::optional<AttemptStatus> AttemptStatusFromName(std::string_view name) {
    for (const auto& [value, text] : kStatusNames) {
        if (text == name) return value;
    }
    return std::nullopt;
}

bool RunParameters::SameRunAs(const RunParameters& other) const {
    return dataDigest == other.dataDigest && templates == other.templates &&
           dataType == other.dataType && formats == other.formats;
}

std::string NewDigestKey() {
    if (sodium_init() < 0) return {};
    std::array<unsigned char, crypto_generichash_KEYBYTES> key{};
    randombytes_buf(key.data(), key.size());
    return Hex(key.data(), key.size());
}

std::string CardDigest(const std::array<std::string, 3>& texts, const std::string& keyHex) {
    if (sodium_init() < 0) return {};
    std::array<unsigned char, crypto_generichash_KEYBYTES_MAX> key{};
    std::size_t keySize = 0;
    sodium_hex2bin(key.data(), key.size(), keyHex.c_str(), keyHex.size(), nullptr, &keySize,
                   nullptr);
    crypto_generichash_state state;
    crypto_generichash_init(&state, keySize ? key.data() : nullptr, keySize,
                            crypto_generichash_BYTES);
    for (const std::string& text : texts) {
        // Each text with its terminator, so that no two different cards hash alike.
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(text.c_str()),
                                  text.size() + 1);
    }
    std::array<unsigned char, crypto_generichash_BYTES> digest{};
    crypto_generichash_final(&state, digest.data(), digest.size());
    return Hex(digest.data(), digest.size());
}

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

}  // namespace tollwick
