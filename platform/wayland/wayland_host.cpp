#include "platform/wayland/wayland_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/entry.h"
#include "platform/posix/command_line.h"
#include "platform/wayland/wl_platform.h"

namespace quellora::wayland {

namespace {

// libwayland's complaints while connecting ("XDG_RUNTIME_DIR is invalid or
// not set") would stand beside the line that says why in our words.
void DropLog(const char*, va_list) {}

}  // namespace

std::optional<int> RunOnWayland(const std::vector<std::string>& args, std::string* unreached) {
    const char* backend = std::getenv("QUELLORA_BACKEND");
    const bool forced = backend && std::strcmp(backend, "wayland") == 0;
    if (backend && *backend && !forced) return std::nullopt;  // x11, or a name we don't know: X11's to judge
    const bool saver = ModeOf(ModeString(args)) == RunMode::Saver;
    if (!saver) {
        if (!forced) return std::nullopt;
        std::fputs("quellora: on Wayland only the saver (/s) runs; the other modes need X11\n", stderr);
        return 1;
    }
    const char* name = std::getenv("WAYLAND_DISPLAY");
    const char* socket = std::getenv("WAYLAND_SOCKET");
    const bool named = (name && *name) || (socket && *socket);
    if (!named && !forced) {
        if (unreached) *unreached = "no Wayland compositor (WAYLAND_DISPLAY is not set)";
        return std::nullopt;
    }
    wl_log_set_handler_client(DropLog);
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        const std::string why = "cannot connect to the Wayland compositor " +
                                (socket && *socket ? "on WAYLAND_SOCKET " + posix::Quoted(socket)
                                                   : posix::Quoted(name && *name ? name : "wayland-0"));
        if (!forced) {
            if (unreached) *unreached = why;
            return std::nullopt;
        }
        std::fprintf(stderr, "quellora: %s\n", why.c_str());
        return 1;
    }
    WlPlatform platform(display);
    RunQuellora(platform, args);  // the saver reports no errors of its own
    return 0;
}

}  // namespace quellora::wayland
