// The Wayland idle sources: ext_idle_notifier_v1, else org_kde_kwin_idle
// (sway 1.7, KWin). The compositor counts the idle time and honours idle
// inhibitors (a video player's zwp_idle_inhibitor_v1) itself.
#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ext-idle-notify-v1-client-protocol.h"
#include "platform/linux/idle_source.h"
#ifdef QUELLORA_KDE_IDLE
#include "idle-client-protocol.h"
#endif

namespace quellora::linux_entry {

namespace {

class WaylandIdle : public IdleSource {
public:
    ~WaylandIdle() override {
        if (notification_) ext_idle_notification_v1_destroy(notification_);
        if (notifier_) ext_idle_notifier_v1_destroy(notifier_);
#ifdef QUELLORA_KDE_IDLE
        if (timeout_) org_kde_kwin_idle_timeout_release(timeout_);
        if (kdeIdle_) org_kde_kwin_idle_destroy(kdeIdle_);
#endif
        if (seat_) wl_seat_destroy(seat_);
        if (registry_) wl_registry_destroy(registry_);
        if (display_) wl_display_disconnect(display_);
    }

    // Connects and asks for the idle events; false with `why` when the
    // compositor offers no idle protocol (or no seat).
    bool Open(uint32_t seconds, const std::string& display, std::string& why) {
        // libwayland takes WAYLAND_SOCKET before any name.
        display_ = wl_display_connect(display.empty() ? nullptr : display.c_str());
        if (!display_) {
            why = "no Wayland compositor answers";
            return false;
        }
        registry_ = wl_display_get_registry(display_);
        wl_registry_add_listener(registry_, &kRegistryListener, this);
        if (wl_display_roundtrip(display_) < 0) {
            why = "the Wayland compositor went away";
            return false;
        }
        if (!seatName_) {
            why = "the Wayland compositor offers no seat";
            return false;
        }
        // Only the protocol used is bound: ext_idle_notifier_v1 before the other.
        seat_ = static_cast<wl_seat*>(wl_registry_bind(registry_, seatName_, &wl_seat_interface, 1));
        if (notifierName_)
            notifier_ = static_cast<ext_idle_notifier_v1*>(
                wl_registry_bind(registry_, notifierName_, &ext_idle_notifier_v1_interface, 1));
#ifdef QUELLORA_KDE_IDLE
        else if (kdeIdleName_)
            kdeIdle_ = static_cast<org_kde_kwin_idle*>(
                wl_registry_bind(registry_, kdeIdleName_, &org_kde_kwin_idle_interface, 1));
#endif
        if (notifier_) name_ = "ext_idle_notifier_v1";
#ifdef QUELLORA_KDE_IDLE
        else if (kdeIdle_) name_ = "org_kde_kwin_idle";
#endif
        else {
            why = "the Wayland compositor offers no idle protocol";
            return false;
        }
        Ask(seconds);
        if (wl_display_roundtrip(display_) < 0) {
            why = "the Wayland compositor went away";
            return false;
        }
        return true;
    }

    std::string Name() const override { return name_ + " (Wayland)"; }
    int Fd() const override { return wl_display_get_fd(display_); }

    int Prepare() override {
        wl_display_dispatch_pending(display_);
        wl_display_flush(display_);
        return events_.empty() ? -1 : 0;
    }

    // The compositor is asked anew: the notification of the old timeout
    // goes, and the new one counts from now.
    bool SetTimeout(uint32_t seconds, std::vector<Event>& events, std::string& error) override {
        if (notification_) ext_idle_notification_v1_destroy(notification_);
#ifdef QUELLORA_KDE_IDLE
        if (timeout_) org_kde_kwin_idle_timeout_release(timeout_);
#endif
        Ask(seconds);
        if (idle_) {
            idle_ = false;
            events.push_back(Event::Active);
        }
        if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
            error = Gone();
            return false;
        }
        return true;
    }

    bool Read(bool readable, std::vector<Event>& events, std::string& error) override {
        if (readable && wl_display_dispatch(display_) < 0) {
            error = Gone();
            return false;
        }
        if (wl_display_dispatch_pending(display_) < 0) {
            error = Gone();
            return false;
        }
        events.insert(events.end(), events_.begin(), events_.end());
        events_.clear();
        return true;
    }

private:
    // The idle events of `seconds` of idle time.
    void Ask(uint32_t seconds) {
        const uint32_t ms = seconds * 1000;
        if (notifier_) {
            notification_ = ext_idle_notifier_v1_get_idle_notification(notifier_, ms, seat_);
            ext_idle_notification_v1_add_listener(notification_, &kExtListener, this);
        }
#ifdef QUELLORA_KDE_IDLE
        else if (kdeIdle_) {
            timeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, ms);
            org_kde_kwin_idle_timeout_add_listener(timeout_, &kKdeListener, this);
        }
#endif
    }

    void Said(Event e) {
        idle_ = e == Event::Idle;
        events_.push_back(e);
    }

    std::string Gone() const {
        const int code = wl_display_get_error(display_);
        if (code == EPROTO) return "Wayland protocol error";
        return "the Wayland compositor went away";
    }

    static void Global(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t) {
        auto* self = static_cast<WaylandIdle*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seatName_)
            self->seatName_ = name;
        else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0 && !self->notifierName_)
            self->notifierName_ = name;
#ifdef QUELLORA_KDE_IDLE
        else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0 && !self->kdeIdleName_)
            self->kdeIdleName_ = name;
#endif
    }
    static void GlobalRemove(void*, wl_registry*, uint32_t) {}
    static constexpr wl_registry_listener kRegistryListener = {Global, GlobalRemove};

    static void Idled(void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->Said(Event::Idle); }
    static void Resumed(void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->Said(Event::Active); }
    static constexpr ext_idle_notification_v1_listener kExtListener = {Idled, Resumed};
#ifdef QUELLORA_KDE_IDLE
    static void KdeIdle(void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandIdle*>(data)->Said(Event::Idle); }
    static void KdeResumed(void* data, org_kde_kwin_idle_timeout*) {
        static_cast<WaylandIdle*>(data)->Said(Event::Active);
    }
    static constexpr org_kde_kwin_idle_timeout_listener kKdeListener = {KdeIdle, KdeResumed};
    org_kde_kwin_idle* kdeIdle_ = nullptr;
    org_kde_kwin_idle_timeout* timeout_ = nullptr;
#endif

    uint32_t seatName_ = 0, notifierName_ = 0, kdeIdleName_ = 0;  // the globals' names, 0: not offered
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    ext_idle_notifier_v1* notifier_ = nullptr;
    ext_idle_notification_v1* notification_ = nullptr;
    std::string name_;
    std::vector<Event> events_;
    bool idle_ = false;  // the last event said Idle
};

}  // namespace

std::unique_ptr<IdleSource> OpenWaylandIdle(uint32_t seconds, const std::string& display, std::string& why) {
    auto source = std::make_unique<WaylandIdle>();
    if (!source->Open(seconds, display, why)) return nullptr;
    return source;
}

}  // namespace quellora::linux_entry
