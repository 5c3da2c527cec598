// The desktop's say on the buses, through sd-bus. On the session bus: GNOME's
// session manager's InhibitedActions, read at the start and again whenever
// an inhibitor comes or goes (InhibitorAdded, InhibitorRemoved, the
// property's PropertiesChanged); the screen shields of GNOME Shell
// (org.gnome.ScreenSaver) and of KDE Plasma (org.freedesktop.ScreenSaver),
// asked with GetActive and followed by ActiveChanged. On the system bus:
// logind's LockedHint of this session, followed by PropertiesChanged. Each is
// asked again when its service comes back (NameOwnerChanged), and counts as
// off while it is gone.
#include "platform/linux/desktop_bus.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <tuple>

namespace quellora::linux_entry {

namespace {

constexpr uint64_t kCallUsec = 2000000;  // a desktop service that does not answer in 2 s counts as absent
constexpr uint32_t kInhibitIdle = 8;     // GNOME's inhibitor flag for idle

constexpr const char* kManager = "org.gnome.SessionManager";
constexpr const char* kManagerPath = "/org/gnome/SessionManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kGnomeShield = "org.gnome.ScreenSaver";
constexpr const char* kGnomeShieldPath = "/org/gnome/ScreenSaver";
constexpr const char* kKdeShield = "org.freedesktop.ScreenSaver";
constexpr const char* kKdeShieldPath = "/ScreenSaver";
constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginSession = "org.freedesktop.login1.Session";

// A method call to a service that runs (never one started for the
// question), with one string argument or none; the reply, or nullptr when
// it is not there or does not answer.
sd_bus_message* Call(sd_bus* bus, const char* service, const char* path, const char* interface, const char* member,
                     const char* argument = nullptr) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_message_new_method_call(bus, &call, service, path, interface, member) < 0 ||
        sd_bus_message_set_auto_start(call, 0) < 0 || (argument && sd_bus_message_append(call, "s", argument) < 0) ||
        sd_bus_call(bus, call, kCallUsec, &error, &reply) < 0)
        reply = nullptr;
    sd_bus_error_free(&error);
    sd_bus_message_unref(call);
    return reply;
}

// A screen shield's GetActive; false when it does not answer.
bool Active(sd_bus* bus, const char* service, const char* path) {
    sd_bus_message* reply = Call(bus, service, path, service, "GetActive");
    int active = 0;
    if (reply && sd_bus_message_read(reply, "b", &active) < 0) active = 0;
    sd_bus_message_unref(reply);
    return active != 0;
}

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

// One thing the desktop says, followed: its value, and whether it is to be
// read (again).
struct Said {
    bool on = false;
    bool ask = true;
};

struct DesktopBus::State {
    sd_bus* session = nullptr;
    sd_bus* system = nullptr;
    std::vector<sd_bus_slot*> slots;
    bool gone = false;  // the session bus went away
    Said inhibited, gnomeShield, kdeShield, locked;
    std::string sessionId;    // logind's name of this session, or "auto"
    std::string sessionPath;  // its object, once logind has said
    bool reportedInhibited = false, reportedShield = false;
    std::vector<WatcherMachine::Event> events;

    ~State() {
        for (sd_bus_slot* slot : slots) sd_bus_slot_unref(slot);
        if (session) sd_bus_flush_close_unref(session);
        if (system) sd_bus_flush_close_unref(system);
    }

    void Match(sd_bus* bus, const char* sender, const char* path, const char* interface, const char* member,
               sd_bus_message_handler_t handler, void* data) {
        sd_bus_slot* slot = nullptr;
        if (sd_bus_match_signal(bus, &slot, sender, path, interface, member, handler, data) >= 0)
            slots.push_back(slot);
    }
    void MatchOwner(sd_bus* bus, const char* name, Said* said) {
        const std::string rule = std::string("type='signal',sender='org.freedesktop.DBus',"
                                             "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
                                 name + "'";
        sd_bus_slot* slot = nullptr;
        if (sd_bus_add_match(bus, &slot, rule.c_str(), OwnerChanged, said) >= 0) slots.push_back(slot);
    }

    // Reads what is to be read; false when nothing was.
    bool AskWhatChanged() {
        bool asked = false;
        if (session && inhibited.ask) {
            inhibited.ask = false;
            uint32_t actions = 0;
            inhibited.on = GetProperty(session, kManager, kManagerPath, kManager, "InhibitedActions", "u", actions) &&
                           (actions & kInhibitIdle) != 0;
            asked = true;
        }
        for (auto [said, service, path] : {std::tuple{&gnomeShield, kGnomeShield, kGnomeShieldPath},
                                           std::tuple{&kdeShield, kKdeShield, kKdeShieldPath}}) {
            if (session && said->ask) {
                said->ask = false;
                said->on = Active(session, service, path);
                asked = true;
            }
        }
        if (system && locked.ask) {
            locked.ask = false;
            locked.on = false;
            if (sessionPath.empty()) {
                sd_bus_message* reply = Call(system, kLogin, kLoginPath, "org.freedesktop.login1.Manager",
                                             "GetSession", sessionId.c_str());
                const char* path = nullptr;
                if (reply && sd_bus_message_read(reply, "o", &path) >= 0 && path) {
                    sessionPath = path;
                    // Only this session's changes, before its value is read.
                    Match(system, kLogin, sessionPath.c_str(), kProperties, "PropertiesChanged", SessionProperties,
                          this);
                }
                sd_bus_message_unref(reply);
            }
            int hint = 0;
            if (!sessionPath.empty() &&
                GetProperty(system, kLogin, sessionPath.c_str(), kLoginSession, "LockedHint", "b", hint))
                locked.on = hint != 0;
            asked = true;
        }
        return asked;
    }

    // The watcher's events for what has changed since it was last told.
    void Report() {
        if (inhibited.on != reportedInhibited) {
            reportedInhibited = inhibited.on;
            events.push_back(inhibited.on ? WatcherMachine::Event::Inhibited : WatcherMachine::Event::Uninhibited);
        }
        const bool shield = gnomeShield.on || kdeShield.on || locked.on;
        if (shield != reportedShield) {
            reportedShield = shield;
            events.push_back(shield ? WatcherMachine::Event::ShieldUp : WatcherMachine::Event::ShieldDown);
        }
    }

    // Handles every message that has come in, for every user of the
    // connections, and reads again what a signal said has changed, until
    // nothing waits: messages read while a call waited for its answer sit
    // in the queue, where poll cannot see them. False when the session bus
    // is gone; the system bus gone, logind's lock no longer counts.
    bool Pump() {
        for (;;) {
            bool busy = false;
            if (session) {
                const int r = sd_bus_process(session, nullptr);
                if (r < 0) {
                    gone = true;
                    return false;
                }
                busy = r > 0;
            }
            if (system) {
                const int r = sd_bus_process(system, nullptr);
                if (r < 0) {
                    sd_bus_flush_close_unref(system);
                    system = nullptr;
                    locked.on = false;
                }
                busy = busy || r > 0;
            }
            if (!busy && !AskWhatChanged()) break;
        }
        Report();
        return true;
    }

    static int InhibitorChanged(sd_bus_message*, void* data, sd_bus_error*) {
        static_cast<Said*>(data)->ask = true;
        return 0;
    }
    static int ManagerProperties(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* said = static_cast<Said*>(data);
        uint32_t actions = 0;
        bool hasValue = false;
        if (ChangedProperty(m, kManager, "InhibitedActions", "u", actions, hasValue)) {
            if (hasValue) said->on = (actions & kInhibitIdle) != 0;
            else said->ask = true;
        }
        return 0;
    }
    static int ActiveChanged(sd_bus_message* m, void* data, sd_bus_error*) {
        int active = 0;
        if (sd_bus_message_read(m, "b", &active) >= 0) static_cast<Said*>(data)->on = active != 0;
        return 0;
    }
    static int SessionProperties(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<State*>(data);
        const char* path = sd_bus_message_get_path(m);
        int hint = 0;
        bool hasValue = false;
        if (!path || self->sessionPath != path ||
            !ChangedProperty(m, kLoginSession, "LockedHint", "b", hint, hasValue))
            return 0;
        if (hasValue) self->locked.on = hint != 0;
        else self->locked.ask = true;
        return 0;
    }
    // A service gone takes what it said along; come (back), it is asked.
    static int OwnerChanged(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* said = static_cast<Said*>(data);
        const char *name = nullptr, *from = nullptr, *to = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &from, &to) < 0) return 0;
        if (to && *to) said->ask = true;
        else said->on = false;
        return 0;
    }
};

DesktopBus::DesktopBus(const std::string& sessionId) : s_(std::make_unique<State>()) {
    State& s = *s_;
    s.sessionId = sessionId.empty() ? "auto" : sessionId;
    if (sd_bus_open_user(&s.session) >= 0) {
        s.Match(s.session, kManager, kManagerPath, kManager, "InhibitorAdded", State::InhibitorChanged, &s.inhibited);
        s.Match(s.session, kManager, kManagerPath, kManager, "InhibitorRemoved", State::InhibitorChanged,
                &s.inhibited);
        s.Match(s.session, kManager, kManagerPath, kProperties, "PropertiesChanged", State::ManagerProperties,
                &s.inhibited);
        s.MatchOwner(s.session, kManager, &s.inhibited);
        s.Match(s.session, kGnomeShield, kGnomeShieldPath, kGnomeShield, "ActiveChanged", State::ActiveChanged,
                &s.gnomeShield);
        s.MatchOwner(s.session, kGnomeShield, &s.gnomeShield);
        // KDE Plasma says it on /ScreenSaver and /org/freedesktop/ScreenSaver alike.
        s.Match(s.session, kKdeShield, nullptr, kKdeShield, "ActiveChanged", State::ActiveChanged, &s.kdeShield);
        s.MatchOwner(s.session, kKdeShield, &s.kdeShield);
    } else {
        s.session = nullptr;
    }
    if (sd_bus_open_system(&s.system) >= 0) {
        s.MatchOwner(s.system, kLogin, &s.locked);
    } else {
        s.system = nullptr;
    }
}

DesktopBus::~DesktopBus() = default;

sd_bus* DesktopBus::Session() const { return s_->session; }

void DesktopBus::AddFds(std::vector<pollfd>& fds) const {
    for (sd_bus* bus : {s_->session, s_->system})
        if (bus) fds.push_back({sd_bus_get_fd(bus), POLLIN, 0});
}

int DesktopBus::Prepare() {
    if (!s_->session && !s_->system) return -1;
    if (!s_->Pump()) return 0;
    for (sd_bus* bus : {s_->session, s_->system})
        if (bus) sd_bus_flush(bus);
    return s_->events.empty() ? -1 : 0;
}

bool DesktopBus::Read(std::vector<WatcherMachine::Event>& events, std::string& error) {
    if ((s_->session || s_->system) && !s_->Pump()) {
        error = "the session bus went away";
        return false;
    }
    events.insert(events.end(), s_->events.begin(), s_->events.end());
    s_->events.clear();
    return true;
}

}  // namespace quellora::linux_entry
