// Text to integers with one set of rules for window handles, settings and
// command lines, and ASCII lower-casing for names that compare without case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// Settings and handle arguments: leading blanks, an optional sign, decimal,
// or hexadecimal after $, x, X, 0x or 0X. nullopt on any failure (empty text,
// a stray character, overflow). Decimal accepts -2147483648..2147483647,
// hexadecimal up to 32 bits (so $FFFFFFFF is -1).
std::optional<int32_t> ParseInt32(std::string_view text);

// A window handle argument by the same rules. Hosts pass handles as unsigned
// decimal too, so decimal 2147483648..4294967295 is also accepted and means
// the same 32-bit handle as its signed twin. The result is sign-extended to
// pointer size; 0 when the text is no number or needs more than 32 bits.
intptr_t ParseHandle(std::string_view text);

// A window id as X tools write it: 0x followed by hexadecimal digits, or
// decimal; nothing else, and never 0. Up to 32 bits.
std::optional<uint32_t> ParseWindowId(std::string_view text);

// A count on a command line: decimal digits only, at most ten of them.
std::optional<uint64_t> ParseCount(std::string_view text);

std::string ToLowerAscii(std::string_view text);

}  // namespace quellora
