// The desktop's say on the session bus, through sd-bus: GNOME's session
// manager's InhibitedActions, read at the start and again whenever an
// inhibitor comes or goes (InhibitorAdded, InhibitorRemoved, the property's
// PropertiesChanged) or the manager itself does.
#include "platform/linux/desktop_bus.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace quellora::linux_entry {

namespace {

constexpr uint64_t kCallUsec = 2000000;  // a desktop service that does not answer in 2 s counts as absent
constexpr uint32_t kInhibitIdle = 8;     // GNOME's inhibitor flag for idle

constexpr const char* kManager = "org.gnome.SessionManager";
constexpr const char* kManagerPath = "/org/gnome/SessionManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// A property of a service that runs (never one started for the question);
// false when it is not there or does not answer.
template <typename T>
bool GetProperty(sd_bus* bus, const char* service, const char* path, const char* interface, const char* name,
                 const char* type, T& value) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const bool ok = sd_bus_message_new_method_call(bus, &call, service, path, kProperties, "Get") >= 0 &&
                    sd_bus_message_set_auto_start(call, 0) >= 0 &&
                    sd_bus_message_append(call, "ss", interface, name) >= 0 &&
                    sd_bus_call(bus, call, kCallUsec, &error, &reply) >= 0 &&
                    sd_bus_message_read(reply, "v", type, &value) >= 0;
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return ok;
}

// In a PropertiesChanged of `interface`: the new value of `name` (changed,
// true), or that it changed without one (invalidated, true with
// `hasValue` false). False when the signal does not name it.
template <typename T>
bool ChangedProperty(sd_bus_message* m, const char* interface, const char* name, const char* type, T& value,
                     bool& hasValue) {
    const char* iface = nullptr;
    hasValue = false;
    if (sd_bus_message_read(m, "s", &iface) < 0 || std::strcmp(iface, interface) != 0) return false;
    bool named = false;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return false;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0) return named;
        if (std::strcmp(key, name) == 0 && sd_bus_message_read(m, "v", type, &value) >= 0) {
            named = hasValue = true;
        } else if (sd_bus_message_skip(m, "v") < 0) {
            return named;
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    if (!named && sd_bus_message_enter_container(m, 'a', "s") > 0) {
        const char* key = nullptr;
        while (sd_bus_message_read(m, "s", &key) > 0)
            if (std::strcmp(key, name) == 0) named = true;
    }
    return named;
}

}  // namespace

struct DesktopBus::State {
    sd_bus* session = nullptr;
    std::vector<sd_bus_slot*> slots;
    bool gone = false;         // the session bus went away
    bool askInhibit = true;    // InhibitedActions is to be read (again)
    bool inhibited = false;
    std::vector<WatcherMachine::Event> events;

    ~State() {
        for (sd_bus_slot* slot : slots) sd_bus_slot_unref(slot);
        if (session) sd_bus_flush_close_unref(session);
    }

    void Match(const char* sender, const char* path, const char* interface, const char* member,
               sd_bus_message_handler_t handler) {
        sd_bus_slot* slot = nullptr;
        if (sd_bus_match_signal(session, &slot, sender, path, interface, member, handler, this) >= 0)
            slots.push_back(slot);
    }
    void MatchOwner(const char* name, sd_bus_message_handler_t handler) {
        const std::string rule = std::string("type='signal',sender='org.freedesktop.DBus',"
                                             "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
                                 name + "'";
        sd_bus_slot* slot = nullptr;
        if (sd_bus_add_match(session, &slot, rule.c_str(), handler, this) >= 0) slots.push_back(slot);
    }

    void SetInhibited(bool now) {
        if (now == inhibited) return;
        inhibited = now;
        events.push_back(now ? WatcherMachine::Event::Inhibited : WatcherMachine::Event::Uninhibited);
    }

    // Handles every message that has come in, for every user of the
    // connection, and reads again what a signal said has changed, until
    // nothing waits: messages read while a call waited for its answer sit
    // in the queue, where poll cannot see them. False when the bus is gone.
    bool Pump() {
        while (!gone) {
            const int r = sd_bus_process(session, nullptr);
            if (r < 0) gone = true;
            if (r > 0) continue;
            if (!askInhibit) break;
            askInhibit = false;
            uint32_t actions = 0;
            SetInhibited(GetProperty(session, kManager, kManagerPath, kManager, "InhibitedActions", "u", actions) &&
                         (actions & kInhibitIdle) != 0);
        }
        return !gone;
    }

    static int InhibitorChanged(sd_bus_message*, void* data, sd_bus_error*) {
        static_cast<State*>(data)->askInhibit = true;
        return 0;
    }
    static int ManagerProperties(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<State*>(data);
        uint32_t actions = 0;
        bool hasValue = false;
        if (ChangedProperty(m, kManager, "InhibitedActions", "u", actions, hasValue)) {
            if (hasValue) self->SetInhibited((actions & kInhibitIdle) != 0);
            else self->askInhibit = true;
        }
        return 0;
    }
    static int ManagerOwner(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<State*>(data);
        const char *name = nullptr, *from = nullptr, *to = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &from, &to) < 0) return 0;
        // Gone, its inhibitors went with it; come, it is asked.
        if (to && *to) self->askInhibit = true;
        else self->SetInhibited(false);
        return 0;
    }
};

DesktopBus::DesktopBus() : s_(std::make_unique<State>()) {
    if (sd_bus_open_user(&s_->session) < 0) {
        s_->session = nullptr;
        return;
    }
    s_->Match(kManager, kManagerPath, kManager, "InhibitorAdded", State::InhibitorChanged);
    s_->Match(kManager, kManagerPath, kManager, "InhibitorRemoved", State::InhibitorChanged);
    s_->Match(kManager, kManagerPath, kProperties, "PropertiesChanged", State::ManagerProperties);
    s_->MatchOwner(kManager, State::ManagerOwner);
}

DesktopBus::~DesktopBus() = default;

sd_bus* DesktopBus::Session() const { return s_->session; }

void DesktopBus::AddFds(std::vector<pollfd>& fds) const {
    if (s_->session) fds.push_back({sd_bus_get_fd(s_->session), POLLIN, 0});
}

int DesktopBus::Prepare() {
    if (!s_->session) return -1;
    if (!s_->Pump()) return 0;
    sd_bus_flush(s_->session);
    return s_->events.empty() ? -1 : 0;
}

bool DesktopBus::Read(std::vector<WatcherMachine::Event>& events, std::string& error) {
    if (s_->session && !s_->Pump()) {
        error = "the session bus went away";
        return false;
    }
    events.insert(events.end(), s_->events.begin(), s_->events.end());
    s_->events.clear();
    return true;
}

}  // namespace quellora::linux_entry
