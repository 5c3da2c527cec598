// GNOME's idle monitor on the session bus (org.gnome.Mutter.IdleMonitor),
// through sd-bus: an idle watch of the timeout, and after each idle period a
// one-shot user-active watch. The connection is the watcher's one to the
// session bus (desktop_bus.h), which also reads what comes in on it.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/idle_source.h"

namespace quellora::linux_entry {

namespace {

constexpr const char* kMonitorName = "org.gnome.Mutter.IdleMonitor";
constexpr const char* kMonitorPath = "/org/gnome/Mutter/IdleMonitor/Core";

class MutterIdle : public IdleSource {
public:
    explicit MutterIdle(sd_bus* bus) : bus_(sd_bus_ref(bus)) {}
    ~MutterIdle() override {
        sd_bus_slot_unref(firedSlot_);
        sd_bus_slot_unref(ownerSlot_);
        sd_bus_unref(bus_);
    }

    bool Open(uint32_t seconds, std::string& why) {
        // The monitor's owner leaving (Mutter ending) ends the watcher.
        const std::string ownerMatch = std::string("type='signal',sender='org.freedesktop.DBus',"
                                                   "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
                                                   "arg0='") + kMonitorName + "'";
        if (sd_bus_add_match(bus_, &ownerSlot_, ownerMatch.c_str(), OwnerChanged, this) < 0 ||
            sd_bus_match_signal(bus_, &firedSlot_, kMonitorName, kMonitorPath, kMonitorName, "WatchFired", Fired,
                                this) < 0) {
            why = "cannot listen on the session bus";
            return false;
        }
        if (!AddIdleWatch(seconds)) {
            why = "GNOME's idle monitor does not answer";
            return false;
        }
        return true;
    }

    std::string Name() const override { return "org.gnome.Mutter.IdleMonitor (session bus)"; }
    // The connection's owner polls it and hands the signals over.
    int Fd() const override { return -1; }
    int Prepare() override { return events_.empty() && error_.empty() ? -1 : 0; }

    bool Read(bool, std::vector<Event>& events, std::string& error) override {
        if (!error_.empty()) {
            error = error_;
            return false;
        }
        for (const Event e : events_) {
            events.push_back(e);
            // The active watch fires once: one for each idle period.
            if (e == Event::Idle && !AddActiveWatch(error)) return false;
        }
        events_.clear();
        return true;
    }

    // The idle watch of the old timeout goes, one of the new comes; a
    // user-active watch waiting for input stays.
    bool SetTimeout(uint32_t seconds, std::vector<Event>&, std::string& error) override {
        sd_bus_call_method(bus_, kMonitorName, kMonitorPath, kMonitorName, "RemoveWatch", nullptr, nullptr, "u",
                           idleWatch_);
        idleWatch_ = 0;
        if (AddIdleWatch(seconds)) return true;
        error = "GNOME's idle monitor went away";
        return false;
    }

private:
    bool AddIdleWatch(uint32_t seconds) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int r = sd_bus_call_method(bus_, kMonitorName, kMonitorPath, kMonitorName, "AddIdleWatch", &error,
                                         &reply, "t", static_cast<uint64_t>(seconds) * 1000);
        sd_bus_error_free(&error);
        if (r < 0) return false;
        sd_bus_message_read(reply, "u", &idleWatch_);
        sd_bus_message_unref(reply);
        return true;
    }

    bool AddActiveWatch(std::string& why) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus_, kMonitorName, kMonitorPath, kMonitorName, "AddUserActiveWatch", &error, &reply,
                               "") < 0) {
            sd_bus_error_free(&error);
            why = "GNOME's idle monitor went away";
            return false;
        }
        sd_bus_message_read(reply, "u", &activeWatch_);
        sd_bus_message_unref(reply);
        return true;
    }

    static int Fired(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<MutterIdle*>(data);
        uint32_t id = 0;
        if (sd_bus_message_read(m, "u", &id) < 0) return 0;
        if (id == self->idleWatch_) self->events_.push_back(Event::Idle);
        else if (id == self->activeWatch_ && id != 0) {
            self->activeWatch_ = 0;
            self->events_.push_back(Event::Active);
        }
        return 0;
    }

    static int OwnerChanged(sd_bus_message* m, void* data, sd_bus_error*) {
        const char *name = nullptr, *from = nullptr, *to = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &from, &to) >= 0 && to && !*to)
            static_cast<MutterIdle*>(data)->error_ = "GNOME's idle monitor went away";
        return 0;
    }

    sd_bus* bus_ = nullptr;
    sd_bus_slot* firedSlot_ = nullptr;
    sd_bus_slot* ownerSlot_ = nullptr;
    uint32_t idleWatch_ = 0, activeWatch_ = 0;
    std::vector<Event> events_;
    std::string error_;
};

}  // namespace

std::unique_ptr<IdleSource> OpenMutterIdle(sd_bus* bus, uint32_t seconds, std::string& why) {
    if (!bus) {
        why = "no session bus";
        return nullptr;
    }
    auto source = std::make_unique<MutterIdle>(bus);
    if (!source->Open(seconds, why)) return nullptr;
    return source;
}

}  // namespace quellora::linux_entry
