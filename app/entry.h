// The one entry point of every binary: reads the command line, picks the run
// mode by the first argument's second character and drives it on a platform.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quellora {

enum class RunMode { Saver, Preview, Configure, PasswordChange };

// The mode string: "/C" when there are no arguments, else the first argument
// in upper case.
std::string ModeString(const std::vector<std::string>& args);
// By the mode string's second character: A, C, P, anything else saver.
RunMode ModeOf(const std::string& modeString);

// The integer conversion used for handles and settings: leading blanks, an
// optional sign, decimal, or hexadecimal after $, x, X, 0x or 0X. nullopt on
// any failure. Decimal accepts -2147483648..2147483647, hexadecimal up to
// 32 bits (so $FFFFFFFF is -1).
std::optional<int32_t> ParseInt32(const std::string& text);

// A window handle argument. Hosts pass handles as unsigned decimal too, so
// decimal 2147483648..4294967295 is also accepted and means the same 32-bit
// handle as its signed twin. The result is sign-extended to pointer size;
// 0 when the text is no number or needs more than 32 bits.
WindowHandle ParseHandle(const std::string& text);

// Runs the animation inside a window that a screen saver daemon owns (or the
// root window): the viewport is centred in it, cropped or framed in black, and
// follows its size; input is left to the daemon. Returns when the window goes
// away or the loop is told to quit.
void RunHosted(Platform& platform, WindowHandle target);

// Runs the selected mode on `platform` to its end. `args` excludes the
// program name.
void RunQuellora(Platform& platform, const std::vector<std::string>& args);

}  // namespace quellora
