#include "platform/wayland/wl_power.h"

#include <poll.h>
#include <time.h>

#include <cstring>

#include "wlr-output-power-management-unstable-v1-client-protocol.h"
#ifdef QUELLORA_KDE_DPMS
#include "dpms-client-protocol.h"
#endif
#ifdef QUELLORA_SD_BUS
#include <systemd/sd-bus.h>
#endif

namespace quellora::wayland {

namespace {

void OnWlrMode(void* data, zwlr_output_power_v1*, uint32_t mode) {
    auto* o = static_cast<WlOutput*>(data);
    o->on = mode != ZWLR_OUTPUT_POWER_V1_MODE_OFF;
    o->platform->PowerChanged();
}

void OnWlrFailed(void* data, zwlr_output_power_v1* power) {
    // The output can't be watched (it went, or another client manages it): on.
    auto* o = static_cast<WlOutput*>(data);
    zwlr_output_power_v1_destroy(power);
    o->power = nullptr;
    o->on = true;
    o->platform->PowerChanged();
}

const zwlr_output_power_v1_listener kWlrPowerListener = {OnWlrMode, OnWlrFailed};

#ifdef QUELLORA_KDE_DPMS
void OnDpmsSupported(void* data, org_kde_kwin_dpms*, uint32_t supported) {
    static_cast<WlOutput*>(data)->dpmsSupported = supported != 0;
}
void OnDpmsMode(void* data, org_kde_kwin_dpms*, uint32_t mode) { static_cast<WlOutput*>(data)->dpmsMode = mode; }
void OnDpmsDone(void* data, org_kde_kwin_dpms*) {
    auto* o = static_cast<WlOutput*>(data);
    o->on = !o->dpmsSupported || o->dpmsMode == ORG_KDE_KWIN_DPMS_MODE_ON;
    o->platform->PowerChanged();
}

const org_kde_kwin_dpms_listener kDpmsListener = {OnDpmsSupported, OnDpmsMode, OnDpmsDone};
#endif

}  // namespace

void WatchWlrPower(zwlr_output_power_manager_v1* manager, WlOutput& o) {
    if (o.power) return;
    o.power = zwlr_output_power_manager_v1_get_output_power(manager, o.output);
    zwlr_output_power_v1_add_listener(o.power, &kWlrPowerListener, &o);
}

void WatchKdeDpms([[maybe_unused]] org_kde_kwin_dpms_manager* manager, [[maybe_unused]] WlOutput& o) {
#ifdef QUELLORA_KDE_DPMS
    if (o.dpms) return;
    o.dpms = org_kde_kwin_dpms_manager_get(manager, o.output);
    org_kde_kwin_dpms_add_listener(o.dpms, &kDpmsListener, &o);
#endif
}

void ForgetPower(WlOutput& o) {
    if (o.power) zwlr_output_power_v1_destroy(o.power);
#ifdef QUELLORA_KDE_DPMS
    if (o.dpms) org_kde_kwin_dpms_release(o.dpms);
#endif
    o.power = nullptr;
    o.dpms = nullptr;
}

#ifdef QUELLORA_SD_BUS

namespace {

constexpr const char* kMutterName = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kMutterPath = "/org/gnome/Mutter/DisplayConfig";

class SdBusMutter final : public MutterBus {
public:
    SdBusMutter(WlPlatform& p, sd_bus* bus) : p_(p), bus_(bus) {}
    ~SdBusMutter() override {
        sd_bus_slot_unref(slot_);
        sd_bus_flush_close_unref(bus_);
    }

    bool Start() {
        // The signal first, then the value, so that no change falls between.
        if (sd_bus_match_signal(bus_, &slot_, kMutterName, kMutterPath, "org.freedesktop.DBus.Properties",
                                "PropertiesChanged", &SdBusMutter::OnChanged, this) < 0)
            return false;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        int32_t mode = 0;
        const int r = sd_bus_get_property_trivial(bus_, kMutterName, kMutterPath, kMutterName, "PowerSaveMode", &error,
                                                  'i', &mode);
        sd_bus_error_free(&error);
        if (r < 0) return false;
        off_ = mode > 0;
        return true;
    }

    bool Off() const override { return off_; }
    int Fd() const override { return bus_ ? sd_bus_get_fd(bus_) : -1; }
    short Events() const override { return bus_ ? static_cast<short>(sd_bus_get_events(bus_)) : 0; }
    int TimeoutMs() const override {
        uint64_t until = 0;
        if (!bus_ || sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) return -1;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const uint64_t nowUs = static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
        return until <= nowUs ? 0 : static_cast<int>(std::min<uint64_t>((until - nowUs + 999) / 1000, 60000));
    }

    void LeaveOverview() override {
        if (!bus_) return;
        sd_bus_message* m = nullptr;
        if (sd_bus_message_new_method_call(bus_, &m, "org.gnome.Shell", "/org/gnome/Shell",
                                           "org.freedesktop.DBus.Properties", "Set") >= 0 &&
            sd_bus_message_append(m, "ssv", "org.gnome.Shell", "OverviewActive", "b", 0) >= 0)
            sd_bus_call_async(bus_, nullptr, m, nullptr, nullptr, 0);  // no answer awaited
        sd_bus_message_unref(m);
    }

    void Process() override {
        if (!bus_) return;
        int r;
        while ((r = sd_bus_process(bus_, nullptr)) > 0) {
        }
        if (r < 0) {
            // The bus went away: nothing says the monitors are off any more.
            sd_bus_slot_unref(slot_);
            slot_ = nullptr;
            sd_bus_flush_close_unref(bus_);
            bus_ = nullptr;
            Set(false);
        }
    }

private:
    void Set(bool off) {
        if (off == off_) return;
        off_ = off;
        p_.PowerChanged();
    }

    // PropertiesChanged(s interface, a{sv} changed, as invalidated).
    static int OnChanged(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<SdBusMutter*>(data);
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 || std::strcmp(interface, kMutterName) != 0) return 0;
        if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return 0;
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(m, "s", &name) < 0) return 0;
            if (std::strcmp(name, "PowerSaveMode") == 0) {
                int32_t mode = 0;
                if (sd_bus_message_read(m, "v", "i", &mode) >= 0) self->Set(mode > 0);
            } else if (sd_bus_message_skip(m, "v") < 0) {
                return 0;
            }
            sd_bus_message_exit_container(m);
        }
        return 0;
    }

    WlPlatform& p_;
    sd_bus* bus_;
    sd_bus_slot* slot_ = nullptr;
    bool off_ = false;
};

}  // namespace

std::unique_ptr<MutterBus> MutterBus::Open(WlPlatform& p) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return nullptr;
    auto watch = std::make_unique<SdBusMutter>(p, bus);
    if (!watch->Start()) return nullptr;
    return watch;
}

#else

std::unique_ptr<MutterBus> MutterBus::Open(WlPlatform&) { return nullptr; }

#endif

}  // namespace quellora::wayland
