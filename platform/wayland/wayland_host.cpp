// The connection to the compositor and the saver's run on it.
#include "platform/wayland/wayland_host.h"

#include <cstdarg>

#include "app/entry.h"
#include "platform/posix/command_line.h"
#include "platform/wayland/wl_platform.h"

namespace quellora::wayland {

namespace {

// libwayland's complaints while connecting ("XDG_RUNTIME_DIR is invalid or
// not set") would stand beside the line that says why in our words.
void DropLog(const char*, va_list) {}

}  // namespace

Connection Connect(const std::optional<std::string>& socket, const std::optional<std::string>& name) {
    wl_log_set_handler_client(DropLog);
    const bool bySocket = socket && !socket->empty();
    const std::string displayName = name && !name->empty() ? *name : "wayland-0";
    // libwayland takes WAYLAND_SOCKET itself, before any name.
    Connection c;
    c.display = wl_display_connect(bySocket ? nullptr : displayName.c_str());
    if (!c.display)
        c.why = "cannot connect to the Wayland compositor " +
                (bySocket ? "on WAYLAND_SOCKET " + posix::Quoted(*socket) : posix::Quoted(displayName));
    return c;
}

int Run(wl_display* display, const std::vector<std::string>& args) {
    WlPlatform platform(display);
    RunQuellora(platform, args);  // the saver reports no errors of its own
    return 0;
}

}  // namespace quellora::wayland
