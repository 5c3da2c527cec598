// Text to integers and ASCII lower-casing.
#include "platform/text.h"

namespace quellora {

namespace {

// The value of `digits` in `base` (10 or 16); nullopt when there are no
// digits, a character that is no digit, or the value passes `limit`.
std::optional<uint64_t> ReadDigits(std::string_view digits, int base, uint64_t limit) {
    if (digits.empty()) return std::nullopt;
    uint64_t value = 0;
    for (const char ch : digits) {
        int digit;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            digit = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            digit = ch - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > limit) return std::nullopt;
    }
    return value;
}

// The host's conversion: decimal values up to `decimalLimit` (2^31 - 1 for
// settings, 2^32 - 1 for handles) are taken and wrap to their signed twin.
std::optional<int32_t> Convert(std::string_view text, uint64_t decimalLimit) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    const uint64_t limit = hex ? 0xFFFFFFFFull : negative ? 0x80000000ull : decimalLimit;
    const auto value = ReadDigits(text.substr(i), hex ? 16 : 10, limit);
    if (!value) return std::nullopt;
    uint32_t bits = static_cast<uint32_t>(*value);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

}  // namespace

std::optional<int32_t> ParseInt32(std::string_view text) { return Convert(text, 0x7FFFFFFFull); }

intptr_t ParseHandle(std::string_view text) {
    const auto v = Convert(text, 0xFFFFFFFFull);
    return v ? static_cast<intptr_t>(*v) : 0;
}

std::optional<uint32_t> ParseWindowId(std::string_view text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const auto v = ReadDigits(hex ? text.substr(2) : text, hex ? 16 : 10, 0xFFFFFFFFull);
    if (!v || *v == 0) return std::nullopt;
    return static_cast<uint32_t>(*v);
}

std::optional<uint64_t> ParseCount(std::string_view text) {
    if (text.size() > 10) return std::nullopt;
    return ReadDigits(text, 10, 9999999999ull);
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace quellora
