// The Linux program's choice of host.
#include "platform/linux/launch.h"

#include <cstdlib>

#include "app/entry.h"

namespace quellora::linux_entry {

namespace {

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

bool Named(const std::optional<std::string>& v) { return v && !v->empty(); }

}  // namespace

LaunchEnvironment LaunchEnvironment::Read() {
    return {Variable("QUELLORA_BACKEND"), Variable("WAYLAND_DISPLAY"), Variable("WAYLAND_SOCKET"),
            Variable("DISPLAY"), Variable("XDG_SESSION_ID"), Variable("XDG_RUNTIME_DIR")};
}

bool LaunchEnvironment::NamesWayland() const { return Named(waylandDisplay) || Named(waylandSocket); }

HostChoice ChooseHost(const LaunchEnvironment& env, const posix::CommandLine& cl,
                      const std::vector<std::string>& args, bool waylandBuilt) {
    using Host = HostChoice::Host;
    const std::string backend = env.backend.value_or("");
    if (!backend.empty() && backend != "x11" && backend != "wayland")
        return {Host::Fail, "QUELLORA_BACKEND is x11 or wayland, not " + posix::Quoted(backend)};
    if (backend == "wayland" && !waylandBuilt) return {Host::Fail, "built without the Wayland backend"};
    // A hack draws into an X window, whatever the backend says.
    if (!waylandBuilt || backend == "x11" || cl.kind != posix::CommandLine::Kind::Host) return {Host::X11, ""};
    const bool saver = ModeOf(ModeString(args)) == RunMode::Saver;
    if (backend == "wayland")
        return saver ? HostChoice{Host::Wayland, ""}
                     : HostChoice{Host::Fail, "on Wayland only the saver (/s) runs; the other modes need X11"};
    if (!saver) return {Host::X11, ""};
    if (!env.NamesWayland()) return {Host::X11, "no Wayland compositor (WAYLAND_DISPLAY is not set)"};
    return {Host::WaylandFirst, ""};
}

}  // namespace quellora::linux_entry
