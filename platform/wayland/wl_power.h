// Whether the compositor has each output on, as it says itself, watched and
// never polled: zwlr_output_power_v1 (sway and other wlroots compositors),
// org_kde_kwin_dpms (KWin) and, for Mutter, which has neither, the
// PowerSaveMode of its display configuration on the session bus. An output
// nothing says anything of counts as on.
#pragma once

#include <memory>

#include "platform/wayland/wl_platform.h"

namespace quellora::wayland {

void WatchWlrPower(zwlr_output_power_manager_v1* manager, WlOutput& o);
void WatchKdeDpms(org_kde_kwin_dpms_manager* manager, WlOutput& o);
void ForgetPower(WlOutput& o);

// Mutter and GNOME Shell on the session bus, on one connection: the
// PowerSaveMode of Mutter's display configuration (one for every monitor),
// followed through its PropertiesChanged signal; and the Shell's Overview.
class MutterBus {
public:
    // nullptr where there is no session bus or no Mutter on it (or the
    // program was built without a D-Bus library).
    static std::unique_ptr<MutterBus> Open(WlPlatform& p);
    virtual ~MutterBus() = default;
    // Whether Mutter has put its monitors to power saving.
    virtual bool Off() const = 0;
    // For the poll: the descriptor, what to wait for on it, and the
    // milliseconds until Process must run even without input (-1: none).
    virtual int Fd() const = 0;
    virtual short Events() const = 0;
    virtual int TimeoutMs() const = 0;
    // Handles what arrived; a bus that went away leaves the monitors on.
    virtual void Process() = 0;
    // Closes GNOME Shell's Overview (OverviewActive, a property it lets any
    // client set), which would show the saver's windows as thumbnails among
    // its own and take the first Escape for itself. Not waited for.
    virtual void LeaveOverview() = 0;
};

}  // namespace quellora::wayland
