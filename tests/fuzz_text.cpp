// libFuzzer target: text to integers. Each parser is checked against a plain
// reference built on strtoull, and what it accepts must print and read back.
#include <cerrno>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/text.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// The digits of `s` as an unsigned number, when they are all digits of `base`.
std::optional<unsigned long long> Digits(const std::string& s, int base) {
    if (s.empty()) return std::nullopt;
    for (const char c : s) {
        const bool digit = (c >= '0' && c <= '9') ||
                           (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit) return std::nullopt;
    }
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), nullptr, base);
    if (errno == ERANGE) return std::nullopt;
    return v;
}

// The rules of ParseInt32 and ParseHandle, written out the long way.
std::optional<int32_t> Reference(const std::string& text, unsigned long long decimalLimit) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return std::nullopt;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
    int base = 10;
    if (text.compare(i, 1, "$") == 0 || text.compare(i, 1, "x") == 0 || text.compare(i, 1, "X") == 0) {
        base = 16;
        i += 1;
    } else if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    }
    const auto v = Digits(text.substr(i), base);
    const unsigned long long limit = base == 16 ? 0xFFFFFFFFull : negative ? 0x80000000ull : decimalLimit;
    if (!v || *v > limit) return std::nullopt;
    const uint32_t bits = negative ? 0u - static_cast<uint32_t>(*v) : static_cast<uint32_t>(*v);
    return static_cast<int32_t>(bits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos) return 0;  // command lines and settings hold none

    const auto i32 = quellora::ParseInt32(text);
    Check(i32 == Reference(text, 0x7FFFFFFFull));
    if (i32) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%" PRId32, *i32);
        Check(quellora::ParseInt32(buf) == i32);
        std::snprintf(buf, sizeof buf, "$%" PRIX32, static_cast<uint32_t>(*i32));
        Check(quellora::ParseInt32(buf) == i32);
    }

    const intptr_t handle = quellora::ParseHandle(text);
    const auto ref = Reference(text, 0xFFFFFFFFull);
    Check(handle == (ref ? static_cast<intptr_t>(*ref) : 0));
    if (handle != 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%" PRIu32, static_cast<uint32_t>(handle));
        Check(quellora::ParseHandle(buf) == handle);
    }

    const auto id = quellora::ParseWindowId(text);
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const auto idRef = Digits(hex ? text.substr(2) : text, hex ? 16 : 10);
    Check(id.has_value() == (idRef && *idRef != 0 && *idRef <= 0xFFFFFFFFull));
    if (id) {
        Check(*id == *idRef);
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%" PRIx32, *id);
        Check(quellora::ParseWindowId(buf) == id);
    }

    const auto count = quellora::ParseCount(text);
    const auto countRef = text.size() <= 10 ? Digits(text, 10) : std::nullopt;
    Check(count.has_value() == countRef.has_value());
    if (count) Check(*count == *countRef && quellora::ParseCount(std::to_string(*count)) == count);
    return 0;
}
