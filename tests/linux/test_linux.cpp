// The idle watcher's options and timeout, and its autostart entry on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/autostart.h"
#include "platform/linux/idle_watcher.h"
#include "platform/linux/launch.h"
#include "platform/linux/settings_watch.h"
#include "platform/linux/settings_window.h"
#include "platform/linux/watcher_lock.h"
#include "platform/posix/command_line.h"
#include "platform/posix/xscreensaver_list.h"
#include "settings/idle_timeout.h"

namespace fs = std::filesystem;
using namespace quellora;
using namespace quellora::linux_entry;
using quellora::posix::CommandLine;
using quellora::posix::ParseCommandLine;
using K = CommandLine::Kind;

namespace {

// An environment variable set for one test and put back after it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

TEST(WatcherCommandLine, IdleAndAutostart) {
    struct Case {
        std::vector<std::string> args;
        K kind;
        std::optional<uint32_t> seconds;
        bool on;
    };
    const Case cases[] = {
        {{"--idle"}, K::Idle, std::nullopt, false},
        {{"--idle", "1"}, K::Idle, 1u, false},
        {{"--idle", "86400"}, K::Idle, 86400u, false},
        {{"--idle", "0"}, K::Error, {}, false},
        {{"--idle", "86401"}, K::Error, {}, false},
        {{"--idle", "-5"}, K::Error, {}, false},
        {{"--idle", "1.5"}, K::Error, {}, false},
        {{"--idle", "0x10"}, K::Error, {}, false},
        {{"--idle", "30", "--root"}, K::Error, {}, false},
        {{"--idle", "--help"}, K::Error, {}, false},
        {{"/s", "--idle"}, K::Error, {}, false},
        {{"--root", "--idle", "5"}, K::Error, {}, false},
        {{"--autostart", "on"}, K::Autostart, {}, true},
        {{"--autostart", "off"}, K::Autostart, {}, false},
        {{"--autostart"}, K::Error, {}, false},
        {{"--autostart", "yes"}, K::Error, {}, false},
        {{"--autostart", "on", "off"}, K::Error, {}, false},
        {{"--xscreensaver-add", "--idle"}, K::Error, {}, false},
    };
    for (const auto& c : cases) {
        const auto cl = ParseCommandLine(c.args);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(cl.kind, c.kind) << joined;
        if (cl.kind == K::Idle) {
            EXPECT_EQ(cl.idleSeconds, c.seconds) << joined;
        }
        if (cl.kind == K::Autostart) {
            EXPECT_EQ(cl.autostart, c.on) << joined;
        }
        if (cl.kind == K::Error) {
            EXPECT_FALSE(cl.error.empty()) << joined;
            EXPECT_EQ(cl.error.find('\n'), std::string::npos) << joined;
        }
    }
}

TEST(Launch, HostByBackendModeAndCompositor) {
    using Host = HostChoice::Host;
    const std::optional<std::string> unset;
    struct Case {
        std::vector<std::string> args;
        std::optional<std::string> backend, waylandDisplay, waylandSocket;
        bool waylandBuilt;
        Host host;
        const char* why;  // part of the line, or "" for none
    };
    const Case cases[] = {
        // The saver goes to a compositor that is named, else to X11 with the reason.
        {{"/s"}, unset, "wayland-1", unset, true, Host::WaylandFirst, ""},
        {{"-s"}, "", unset, "5", true, Host::WaylandFirst, ""},
        {{"/s"}, unset, unset, unset, true, Host::X11, "no Wayland compositor (WAYLAND_DISPLAY is not set)"},
        {{"/s"}, unset, "", "", true, Host::X11, "WAYLAND_DISPLAY is not set"},
        {{"/s"}, unset, "wayland-1", unset, false, Host::X11, ""},
        // The other modes and the hack are X11's.
        {{"/c"}, unset, "wayland-1", unset, true, Host::X11, ""},
        {{"/p", "123"}, unset, "wayland-1", unset, true, Host::X11, ""},
        {{"--root"}, unset, "wayland-1", unset, true, Host::X11, ""},
        {{"--root"}, "wayland", "wayland-1", unset, true, Host::X11, ""},
        // Forced.
        {{"/s"}, "wayland", unset, unset, true, Host::Wayland, ""},
        {{"/c"}, "wayland", "wayland-1", unset, true, Host::Fail, "on Wayland only the saver (/s) runs"},
        {{"/s"}, "wayland", unset, unset, false, Host::Fail, "built without the Wayland backend"},
        {{"--root"}, "wayland", unset, unset, false, Host::Fail, "built without the Wayland backend"},
        {{"/s"}, "x11", "wayland-1", unset, true, Host::X11, ""},
        {{"/s"}, "X11", "wayland-1", unset, true, Host::Fail, "QUELLORA_BACKEND is x11 or wayland, not 'X11'"},
        {{"--root"}, "gtk", unset, unset, false, Host::Fail, "not 'gtk'"},
    };
    for (const auto& c : cases) {
        LaunchEnvironment env;
        env.backend = c.backend;
        env.waylandDisplay = c.waylandDisplay;
        env.waylandSocket = c.waylandSocket;
        const auto choice = ChooseHost(env, ParseCommandLine(c.args), c.args, c.waylandBuilt);
        const std::string label = c.args[0] + " backend " + c.backend.value_or("(unset)");
        EXPECT_EQ(choice.host, c.host) << label;
        if (*c.why) EXPECT_NE(choice.why.find(c.why), std::string::npos) << label << ": " << choice.why;
        else EXPECT_EQ(choice.why, "") << label;
    }
}

TEST(IdleTimeout, Text) {
    const std::pair<const char*, std::optional<uint32_t>> cases[] = {
        {"600", 600u}, {" 42\t", 42u}, {"1", 1u}, {"86400", 86400u}, {"0", std::nullopt}, {"86401", std::nullopt},
        {"", std::nullopt}, {"10m", std::nullopt}, {"+5", std::nullopt}, {"99999999999", std::nullopt},
        {"4294967896", std::nullopt},  // 600 after a 32-bit wrap
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(ParseIdleSeconds(text), want) << '"' << text << '"';
}

class LinuxFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quellora_linux_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        config_ = (dir_ / "config").string();
        path_ = config_ + "/autostart/quellora-idle.desktop";
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::vector<std::string> Names(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        return names;
    }
    fs::path dir_;
    std::string config_, path_;
};

TEST_F(LinuxFilesTest, AutostartRoundTrip) {
    // A configuration home that does not exist yet: made for its user alone.
    const auto on = SetAutostart(true, path_, "/opt/q/quellora");
    ASSERT_EQ(on.exitCode, 0) << on.message;
    EXPECT_TRUE(on.changed);
    EXPECT_EQ(Read(path_), AutostartEntry("/opt/q/quellora"));
    EXPECT_NE(Read(path_).find("\nExec=/opt/q/quellora --idle\n"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(config_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    const ino_t inode = st.st_ino;

    // On again: the file as it is, not written again.
    const auto again = SetAutostart(true, path_, "/opt/q/quellora");
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_FALSE(again.changed);
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, inode);
    EXPECT_EQ(Names(config_ + "/autostart"), std::vector<std::string>{"quellora-idle.desktop"});

    const auto off = SetAutostart(false, path_, "/opt/q/quellora");
    EXPECT_EQ(off.exitCode, 0) << off.message;
    EXPECT_TRUE(off.changed);
    EXPECT_FALSE(fs::exists(path_));
    const auto offAgain = SetAutostart(false, path_, "/opt/q/quellora");
    EXPECT_EQ(offAgain.exitCode, 0);
    EXPECT_FALSE(offAgain.changed);
    EXPECT_TRUE(Names(config_ + "/autostart").empty());
}

TEST_F(LinuxFilesTest, AutostartRemovesTheTemporaryFilesOfAKilledRun) {
    // One of a process that is gone, and one that is no temporary of ours.
    fs::create_directories(config_ + "/autostart");
    std::ofstream(config_ + "/autostart/.quellora-idle.desktop-999999999-0") << "half";
    std::ofstream(config_ + "/autostart/.quellora-idle.desktop-notes") << "kept";
    ASSERT_EQ(SetAutostart(true, path_, "quellora").exitCode, 0);
    auto names = Names(config_ + "/autostart");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".quellora-idle.desktop-notes", "quellora-idle.desktop"}));
}

TEST_F(LinuxFilesTest, AutostartReplacesAnOldEntryThroughItsLinkKeepingItsMode) {
    fs::create_directories(config_ + "/autostart");
    const std::string target = (dir_ / "kept.desktop").string();
    std::ofstream(target) << "[Desktop Entry]\nExec=/old/quellora --idle\n";
    chmod(target.c_str(), 0640);
    fs::create_symlink(target, path_);
    const auto on = SetAutostart(true, path_, "quellora");
    ASSERT_EQ(on.exitCode, 0) << on.message;
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(Read(target), AutostartEntry("quellora"));
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(LinuxFilesTest, AutostartLeavesWhatItCannotHandle) {
    // A folder where the file goes, and a command the Exec key would need quoted.
    fs::create_directories(path_);
    for (const bool on : {true, false}) {
        const auto r = SetAutostart(on, path_, "quellora");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.message.find('\n'), std::string::npos);
        EXPECT_NE(r.message.find("not a regular file"), std::string::npos) << r.message;
        EXPECT_TRUE(fs::is_directory(path_));
    }
    fs::remove(path_);
    const auto spaced = SetAutostart(true, path_, "/home/me/my programs/quellora");
    EXPECT_EQ(spaced.exitCode, 1);
    EXPECT_NE(spaced.message.find("quoting"), std::string::npos) << spaced.message;
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(SetAutostart(true, "", "quellora").exitCode, 1);
}

TEST_F(LinuxFilesTest, AutostartPathFollowsXdgConfigHome) {
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/some/where/");
        EXPECT_EQ(AutostartPath(), "/some/where/autostart/quellora-idle.desktop");
    }
    ScopedEnv home("HOME", "/home/me");
    for (const char* config : {"relative/is/ignored", "", static_cast<const char*>(nullptr)}) {
        ScopedEnv c("XDG_CONFIG_HOME", config);
        EXPECT_EQ(AutostartPath(), "/home/me/.config/autostart/quellora-idle.desktop");
    }
    // Without HOME, or with one that is no absolute path, the passwd
    // entry's home counts, as it does for the XScreenSaver list.
    const passwd* pw = getpwuid(getuid());
    ASSERT_TRUE(pw && pw->pw_dir && pw->pw_dir[0] == '/');
    const std::string passwdHome = std::string(pw->pw_dir) == "/" ? "" : pw->pw_dir;
    ScopedEnv c("XDG_CONFIG_HOME", nullptr);
    for (const char* unset : {static_cast<const char*>(nullptr), "", "relative"}) {
        ScopedEnv noHome("HOME", unset);
        EXPECT_EQ(AutostartPath(), passwdHome + "/.config/autostart/quellora-idle.desktop");
        EXPECT_EQ(posix::UserXScreenSaverFile(), passwdHome + "/.xscreensaver");
    }
}

TEST_F(LinuxFilesTest, AutostartEntryIsValid) {
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "desktop-file-validate is missing (desktop-file-utils)";
    ASSERT_EQ(SetAutostart(true, path_, "/usr/bin/quellora").exitCode, 0);
    const std::string command = "desktop-file-validate '" + path_ + "' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    EXPECT_EQ(pclose(p), 0) << out;
    EXPECT_EQ(out, "");
}

TEST_F(LinuxFilesTest, IdleTimeoutFromTheSettingsFile) {
    ScopedEnv config("XDG_CONFIG_HOME", config_.c_str());
    fs::create_directories(config_ + "/Orvandel");
    const std::pair<const char*, uint32_t> cases[] = {
        {"[ScreenSaverSample]\nIdleTimeout=90\n", 90},
        {"[ScreenSaverSample]\nIdleTimeout = 3600 \n", 3600},
        {"[ScreenSaverSample]\nIdleTimeout=0\n", kDefaultIdleSeconds},
        {"[ScreenSaverSample]\nIdleTimeout=soon\n", kDefaultIdleSeconds},
        {"[Other]\nIdleTimeout=90\n", kDefaultIdleSeconds},
        {"", kDefaultIdleSeconds},
    };
    for (const auto& [text, want] : cases) {
        std::ofstream(config_ + "/Orvandel/settings.ini", std::ios::trunc) << text;
        EXPECT_EQ(IdleSecondsFromSettings(), want) << text;
    }
    fs::remove_all(config_);
    EXPECT_EQ(IdleSecondsFromSettings(), kDefaultIdleSeconds);
}

TEST_F(LinuxFilesTest, OneWatcherLockForEachSession) {
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.c_str());
    struct Case {
        const char *wayland, *display, *session;
        const char* name;
    };
    const Case cases[] = {
        {"wayland-1", ":0", "3", "quellora-idle@wayland-1.lock"},
        {"", ":0.0", "3", "quellora-idle@:0.lock"},
        {nullptr, "localhost:10.0", nullptr, "quellora-idle@localhost:10.lock"},
        {nullptr, "host.example:0", nullptr, "quellora-idle@host.example:0.lock"},
        {nullptr, nullptr, "c2", "quellora-idle@session-c2.lock"},
        {nullptr, nullptr, nullptr, "quellora-idle.lock"},
        {"/tmp/my socket", nullptr, nullptr, "quellora-idle@%2Ftmp%2Fmy%20socket.lock"},
    };
    for (const auto& c : cases) {
        ScopedEnv w("WAYLAND_DISPLAY", c.wayland), d("DISPLAY", c.display), s("XDG_SESSION_ID", c.session);
        EXPECT_EQ(WatcherLockPath(), (dir_ / c.name).string());
    }
    ScopedEnv relative("XDG_RUNTIME_DIR", "run/user");
    EXPECT_EQ(WatcherLockPath(), "");
}

TEST_F(LinuxFilesTest, RunningWatcherIsTheOneOfThisSession) {
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.c_str());
    ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-1");
    EXPECT_EQ(RunningWatcher(), std::nullopt);
    // A watcher holds the lock of this session, with its pid in the file.
    const int fd = open(WatcherLockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "4242", 4), 4);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(RunningWatcher(), std::optional<pid_t>(4242));
    {
        ScopedEnv other("WAYLAND_DISPLAY", "wayland-2");
        EXPECT_EQ(RunningWatcher(), std::nullopt);
    }
    close(fd);
    EXPECT_EQ(RunningWatcher(), std::nullopt);
}

TEST_F(LinuxFilesTest, SettingsWatchSeesTheFileWhereverItComesFrom) {
    const std::string folder = config_ + "/Orvandel", file = folder + "/settings.ini";
    fs::create_directories(config_);
    SettingsWatch watch(folder);
    ASSERT_GE(watch.Fd(), 0);
    EXPECT_FALSE(watch.Changed());
    struct Step {
        const char* what;
        std::function<void()> act;
        bool changed;
    };
    const Step steps[] = {
        {"the folder made", [&] { fs::create_directory(folder); }, true},
        {"the file written whole and renamed into place",
         [&] {
             std::ofstream(folder + "/.settings.ini-1") << "[ScreenSaverSample]\nIdleTimeout=30\n";
             fs::rename(folder + "/.settings.ini-1", file);
         },
         true},
        {"another file", [&] { std::ofstream(folder + "/notes.txt") << "x"; }, false},
        {"the file written in place", [&] { std::ofstream(file, std::ios::app) << "; more\n"; }, true},
        {"the file read", [&] { Read(file); }, false},
        {"the file removed", [&] { fs::remove(file); }, true},
        {"the folder removed", [&] { fs::remove_all(folder); }, true},
        {"the folder renamed into place",
         [&] {
             fs::create_directory(config_ + "/new");
             std::ofstream(config_ + "/new/settings.ini") << "[ScreenSaverSample]\nIdleTimeout=60\n";
             fs::rename(config_ + "/new", folder);
         },
         true},
        {"the file written again in the new folder", [&] { std::ofstream(file) << "[ScreenSaverSample]\n"; }, true},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(watch.Changed(), step.changed) << step.what;
        EXPECT_FALSE(watch.Changed()) << step.what << ", asked again";
    }
    // Nothing to watch without a folder.
    EXPECT_LT(SettingsWatch("").Fd(), 0);
}

// --settings: the settings window beside the program, else in the install's
// bindir, else on the PATH; run in the program's place, or one line.
TEST_F(LinuxFilesTest, SettingsWindowIsFoundWhereItIsInstalled) {
    const auto tool = [&](const std::string& folder, const std::string& marker) {
        fs::create_directories(folder);
        const std::string file = folder + "/quellora-settings";
        std::ofstream(file) << "#!/bin/sh\necho \"$0 $#\" > '" << marker << "'\n";
        chmod(file.c_str(), 0755);
        return file;
    };
    const std::string build = (dir_ / "build").string(), bindir = (dir_ / "bin").string();
    const std::string onPath = (dir_ / "path").string(), marker = (dir_ / "ran").string();
    fs::create_directories(build);
    const std::string self = build + "/quellora";
    EXPECT_EQ(FindSettingsWindow(self, bindir, "/nonexistent:" + onPath), "");
    const std::string inPath = tool(onPath, marker);
    EXPECT_EQ(FindSettingsWindow(self, bindir, "relative:/nonexistent:" + onPath), inPath);
    const std::string installed = tool(bindir, marker);
    EXPECT_EQ(FindSettingsWindow(self, bindir, onPath), installed);
    const std::string beside = tool(build, marker);
    EXPECT_EQ(FindSettingsWindow(self, bindir, onPath), beside);
    // Not one that cannot be run, nor a folder of that name.
    chmod(beside.c_str(), 0644);
    fs::remove(installed);
    fs::create_directories(installed);
    EXPECT_EQ(FindSettingsWindow(self, bindir, onPath), inPath);

    // Run: in this process's place (a child here), with no arguments.
    const auto run = [&](const std::string& path, std::string& err) {
        int pipeFds[2];
        EXPECT_EQ(pipe(pipeFds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], 2);
            setenv("PATH", path.c_str(), 1);
            _exit(RunSettingsWindow(bindir));
        }
        close(pipeFds[1]);
        char buf[512];
        ssize_t n;
        while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) err.append(buf, static_cast<size_t>(n));
        close(pipeFds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string err;
    EXPECT_EQ(run(onPath, err), 0) << err;
    EXPECT_EQ(Read(marker), inPath + " 0\n");
    err.clear();
    EXPECT_EQ(run("/nonexistent", err), 1);
    EXPECT_EQ(err.rfind("quellora: the settings window is not installed (", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}