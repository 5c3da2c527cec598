// What a host's command line may set for the saver window beyond the
// settings.
#pragma once

#include <optional>

namespace quellora {

struct SaverOptions {
    std::optional<int> scale;    // kAutoScale (0) or 1 to 8; nullopt: the Scale setting
    bool showFrameRate = false;  // a frames-a-second readout in the window's bottom-left corner
};

}  // namespace quellora
