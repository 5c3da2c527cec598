// The one entry point of every binary: reads the command line, picks the run
// mode by the first argument's second character and drives it on a platform.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "saver/saver_options.h"

namespace quellora {

enum class RunMode { Saver, Preview, Configure, PasswordChange };

// The mode string: "/C" when there are no arguments, else the first argument
// in upper case.
std::string ModeString(const std::vector<std::string>& args);
// By the mode string's second character: A, C, P, anything else saver.
RunMode ModeOf(const std::string& modeString);

// Why a mode could not run. Windows hosts end quietly; a host with a
// terminal says so in one line and ends with a failure status.
struct RunError {
    enum class Kind {
        NoWindowId,   // the handle argument is no window handle: `argument`
        NoWindow,     // `window` names no window
        NoPixels,     // `window` has nothing to draw into (an input-only window)
    };
    Kind kind;
    std::string argument;
    WindowHandle window = 0;
};

// Runs the animation inside a window that a screen saver daemon owns (or the
// root window): the viewport is centred in it, cropped or framed in black, and
// follows its size; input is left to the daemon. Returns when the window goes
// away or the loop is told to quit, or at once with what is wrong with it.
std::optional<RunError> RunHosted(Platform& platform, WindowHandle target, SaverOptions options = {});

// Runs the selected mode on `platform` to its end. `args` excludes the
// program name.
std::optional<RunError> RunQuellora(Platform& platform, const std::vector<std::string>& args);

}  // namespace quellora
