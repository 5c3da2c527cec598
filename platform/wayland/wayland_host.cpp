#include "platform/wayland/wayland_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/entry.h"
#include "platform/posix/command_line.h"
#include "platform/wayland/wl_platform.h"

namespace quellora::wayland {

std::optional<int> RunOnWayland(const std::vector<std::string>& args) {
    const char* backend = std::getenv("QUELLORA_BACKEND");
    const bool forced = backend && std::strcmp(backend, "wayland") == 0;
    if (backend && *backend && !forced) return std::nullopt;  // x11, or a name we don't know: X11's to judge
    const bool saver = ModeOf(ModeString(args)) == RunMode::Saver;
    if (!saver) {
        if (!forced) return std::nullopt;
        std::fputs("quellora: on Wayland only the saver (/s) runs; the other modes need X11\n", stderr);
        return 1;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        if (!forced) return std::nullopt;
        const char* name = std::getenv("WAYLAND_DISPLAY");
        std::fprintf(stderr, "quellora: cannot connect to the Wayland compositor %s\n",
                     posix::Quoted(name && *name ? name : "wayland-0").c_str());
        return 1;
    }
    WlPlatform platform(display);
    RunQuellora(platform, args);  // the saver reports no errors of its own
    return 0;
}

}  // namespace quellora::wayland
