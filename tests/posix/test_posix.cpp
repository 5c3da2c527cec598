// The parts of the Linux program that need no display: its command line and
// the per-user settings file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "platform/posix/command_line.h"
#include "platform/posix/keysym.h"
#include "platform/posix/output_layout.h"
#include "platform/posix/surface_plan.h"
#include "platform/posix/settings_file.h"
#include "platform/posix/xscreensaver_list.h"

namespace quellora::posix {
namespace {

namespace fs = std::filesystem;
using K = CommandLine::Kind;
using T = CommandLine::Target;

struct LineCase {
    std::vector<std::string> args;
    K kind;
    T target;
    std::string windowId, display;
    bool fps = false;
    std::optional<int> scale = std::nullopt;
};

TEST(CommandLine, SortsHostSwitchesFromHackOptions) {
    const LineCase cases[] = {
        {{}, K::Host, T::Own, "", ""},
        {{"/s"}, K::Host, T::Own, "", ""},
        {{"-s"}, K::Host, T::Own, "", ""},
        {{"/p", "1234"}, K::Host, T::Own, "", ""},
        {{"/c:99"}, K::Host, T::Own, "", ""},
        {{"-frobnicate"}, K::Host, T::Own, "", ""},  // second letter F: the saver, as the host has it
        {{"--root"}, K::Hack, T::Root, "", ""},
        {{"-root"}, K::Hack, T::Root, "", ""},
        {{"--window-id", "0x400007"}, K::Hack, T::WindowId, "0x400007", ""},
        {{"-window-id", "4194311"}, K::Hack, T::WindowId, "4194311", ""},
        {{"-window"}, K::Hack, T::Own, "", ""},
        {{"-root", "-install", "-visual", "default", "-fps", "-delay", "20000", "-pair", "-geometry", "10x10"},
         K::Hack, T::Root, "", "", true},
        {{"--display", ":3", "--root", "-no-fps", "-mono", "-noinstall"}, K::Hack, T::Root, "", ":3"},
        // A window id wins over --root whatever the order; of --root and
        // --window the later counts.
        {{"--root", "--window-id", "0x400007"}, K::Hack, T::WindowId, "0x400007", ""},
        {{"--window-id", "0x400007", "--root"}, K::Hack, T::WindowId, "0x400007", ""},
        {{"--window-id", "0x400007", "--window"}, K::Hack, T::WindowId, "0x400007", ""},
        {{"--root", "--window"}, K::Hack, T::Own, "", ""},
        {{"--window", "--root"}, K::Hack, T::Root, "", ""},
        // The daemon's settings preview (it also sets XSCREENSAVER_WINDOW),
        // with the Settings pane's options.
        {{"-root", "-window-id", "0x1e00007", "-fps", "-scale", "2"}, K::Hack, T::WindowId, "0x1e00007", "", true, 2},
        {{"--root", "--scale", "auto"}, K::Hack, T::Root, "", "", false, 0},
        {{"--root", "--fps", "--no-fps"}, K::Hack, T::Root, "", "", false},
        {{"--root", "--scale", "9"}, K::Error, T::Own, "", ""},
        {{"--root", "--scale"}, K::Error, T::Own, "", ""},
        {{"--help"}, K::Help, T::Own, "", ""},
        {{"-h"}, K::Help, T::Own, "", ""},
        {{"-?"}, K::Help, T::Own, "", ""},
        {{"/?"}, K::Help, T::Own, "", ""},
        {{"-help"}, K::Help, T::Own, "", ""},
        {{"help"}, K::Help, T::Own, "", ""},
        {{"/s", "-h"}, K::Host, T::Own, "", ""},  // only as the first argument: here /s's
        {{"--version"}, K::Version, T::Own, "", ""},
        {{"--root", "--version"}, K::Version, T::Own, "", ""},
        // The usual short ways of asking, as the first argument.
        {{"-v"}, K::Version, T::Own, "", ""},
        {{"-V"}, K::Version, T::Own, "", ""},
        {{"-version"}, K::Version, T::Own, "", ""},
        {{"/s", "-v"}, K::Host, T::Own, "", ""},
        {{"/v"}, K::Host, T::Own, "", ""},
        {{"-vv"}, K::Host, T::Own, "", ""},
        {{"--frobnicate"}, K::Error, T::Own, "", ""},
        {{"-root", "-frobnicate"}, K::Error, T::Own, "", ""},
        {{"-root", "/s"}, K::Error, T::Own, "", ""},
        {{"--window-id"}, K::Error, T::Own, "", ""},
        {{"-root", "-delay"}, K::Error, T::Own, "", ""},
        {{"--xscreensaver-add"}, K::ListAdd, T::Own, "", ""},
        {{"--xscreensaver-remove"}, K::ListRemove, T::Own, "", ""},
        {{"--xscreensaver-add", "--root"}, K::Error, T::Own, "", ""},
        {{"/s", "--xscreensaver-remove"}, K::Error, T::Own, "", ""},
        {{"--settings"}, K::Settings, T::Own, "", ""},
        {{"--settings", "--root"}, K::Error, T::Own, "", ""},
        {{"/c", "--settings"}, K::Error, T::Own, "", ""},
    };
    for (const auto& c : cases) {
        const auto cl = ParseCommandLine(c.args);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(cl.kind, c.kind) << joined;
        if (cl.kind == K::Hack) {
            EXPECT_EQ(cl.target, c.target) << joined;
            EXPECT_EQ(cl.windowId, c.windowId) << joined;
            EXPECT_EQ(cl.display, c.display) << joined;
            EXPECT_EQ(cl.options.showFrameRate, c.fps) << joined;
            EXPECT_EQ(cl.options.scale, c.scale) << joined;
        }
        if (cl.kind == K::Error) {
            EXPECT_FALSE(cl.error.empty()) << joined;
        }
    }
}

TEST(CommandLine, AHostSwitchWithAHackOptionSaysWhichOption) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"/s", "--display", ":99"}, "'/s' takes no option '--display'; for another X display, put DISPLAY=NAME"},
        {{"-s", "-fps"}, "'-s' takes no option '-fps'"},
        {{"s", "--root"}, "'s' takes no option '--root'"},
        {{"/p", "123", "--window-id", "5"}, "'/p' takes no option '--window-id'"},
        {{"/c:77", "--frobnicate"}, "'/c:77' takes no option '--frobnicate'"},
        // What is no host switch stays an unknown option.
        {{"/x", "--root"}, "unknown option '/x'"},
        {{"-root", "/s"}, "unknown option '/s'"},
    };
    for (const auto& [args, want] : cases) {
        const auto cl = ParseCommandLine(args);
        EXPECT_EQ(cl.kind, K::Error) << want;
        EXPECT_EQ(cl.error.rfind(want, 0), 0u) << cl.error;
    }
}

TEST(CommandLine, QuotedArgumentsStayOnOneLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "'plain'"},
        {"", "''"},
        {"two\nlines", "'two\\nlines'"},
        {"a\tb\rc", "'a\\tb\\rc'"},
        {"\x1b[2J\x1b]0;title\x07", "'\\x1b[2J\\x1b]0;title\\x07'"},
        {"del\x7f", "'del\\x7f'"},
        {"it's a \\", "'it\\'s a \\\\'"},
        {"caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80", "'caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80'"},  // UTF-8 stays
        {"csi\xc2\x9b" "31m", "'csi\\xc2\\x9b31m'"},  // C1 control U+009B
        {"bad\xff\xc3", "'bad\\xff\\xc3'"},           // no UTF-8
        {"over\xc0\xaf\xed\xa0\x80", "'over\\xc0\\xaf\\xed\\xa0\\x80'"},  // overlong, surrogate
        {std::string("nul\0x", 5), "'nul\\x00x'"},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(Quoted(text), want) << want;
    // Errors built from arguments are one line.
    const auto cl = ParseCommandLine({"--root", "--evil\n\x1b[31m"});
    ASSERT_EQ(cl.kind, K::Error);
    EXPECT_EQ(cl.error.find_first_of("\n\x1b"), std::string::npos) << cl.error;
}


TEST(Ini, Parses) {
    const auto ini = ParseIni(
        "\xEF\xBB\xBF; comment\n"
        "# another\n\n"
        "[ScreenSaverSample]\r\n"
        "  DispStr =  Hello there  \n"
        "SleepTime=250\n"
        "Quoted=\"  kept  \"\n"
        "Empty=\n"
        "[ Other ]\n"
        "dispstr=x\n"
        "[screensaversample]\n"
        "SleepTime=12\n");
    EXPECT_TRUE(ini.skipped.empty());
    const auto& sec = ini.sections.at("screensaversample");
    EXPECT_EQ(sec.at("dispstr"), "Hello there");
    EXPECT_EQ(sec.at("sleeptime"), "12");  // a later entry wins, sections merge
    EXPECT_EQ(sec.at("quoted"), "  kept  ");
    EXPECT_EQ(sec.at("empty"), "");
    EXPECT_EQ(ini.sections.at("other").at("dispstr"), "x");
}

TEST(Ini, SkipsWhatIsNotAnEntryAndKeepsTheRest) {
    using W = IniSkip::Why;
    struct Case {
        std::string text;
        std::vector<std::pair<size_t, W>> skipped;
        std::map<std::string, std::string> kept;  // section s
    };
    const Case cases[] = {
        {"A=before any section\n[S]\nB=1\n", {{1, W::OutsideSection}}, {{"b", "1"}}},
        {"[S]\njust words\nB=1\n", {{2, W::NotAnEntry}}, {{"b", "1"}}},
        {"[S]\n=no name\nB=1\n", {{2, W::NotAnEntry}}, {{"b", "1"}}},
        {"[S]\nB=1\n[Section\nA=1\n[S]\nC=2\n", {{3, W::BadSection}}, {{"b", "1"}, {"c", "2"}}},
        {"[S]\nB=1\n[]\nA=1\nwords\n", {{3, W::BadSection}, {5, W::NotAnEntry}}, {{"b", "1"}}},
        {"[S]\r\nB=1\r\nA=" + std::string(1, '\0') + "\r\n", {{3, W::NotAnEntry}}, {{"b", "1"}}},
        // The section line that breaks ends the section before it.
        {"[S]\nB=1\n[S\nB=2\n", {{3, W::BadSection}}, {{"b", "1"}}},
    };
    for (const auto& c : cases) {
        const auto ini = ParseIni(c.text);
        std::vector<std::pair<size_t, W>> skipped;
        for (const auto& s : ini.skipped) skipped.emplace_back(s.line, s.why);
        EXPECT_EQ(skipped, c.skipped) << c.text;
        const auto s = ini.sections.find("s");
        EXPECT_EQ(s == ini.sections.end() ? decltype(c.kept){} : s->second, c.kept) << c.text;
        EXPECT_EQ(ini.sections.count("section"), 0u) << c.text;
    }
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quellora_settings_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        folder_ = (dir_ / "cfg" / "Orvandel").string();
    }
    void TearDown() override {
        fs::remove_all(dir_);
    }
    void Write(const std::string& text) {
        fs::create_directories(folder_);
        std::ofstream(folder_ + "/settings.ini", std::ios::binary) << text;
    }
    std::optional<std::string> Read(SettingsFile& f, const std::string& name) {
        const auto v = f.ReadValue("Software\\Orvandel\\ScreenSaverSample", name);
        if (!v) return std::nullopt;
        EXPECT_EQ(v->type, KeyValue::Type::String);
        return v->text;
    }
    fs::path dir_;
    std::string folder_;
};

TEST_F(SettingsFileTest, OpeningCreatesOnlyTheFolderAndWritesNothing) {
    // Inside an existing configuration home the folder is made, with the
    // permissions the umask leaves, and stays empty.
    fs::create_directories(dir_ / "cfg");
    const mode_t mask = umask(022);
    umask(mask);
    SettingsFile f(folder_);
    EXPECT_FALSE(f.KeyExists("Software\\Orvandel\\"));
    EXPECT_TRUE(f.CreateKey("Software\\Orvandel\\"));
    EXPECT_TRUE(fs::is_directory(folder_));
    EXPECT_TRUE(fs::is_empty(folder_));
    struct stat st {};
    ASSERT_EQ(stat(folder_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u & ~mask);
    EXPECT_TRUE(f.KeyExists("SOFTWARE\\orvandel"));
    EXPECT_FALSE(f.KeyExists("Software\\Orvandel\\ScreenSaverSample"));
    EXPECT_FALSE(Read(f, "DispStr"));

    // Without a configuration home nothing is built: the defaults stand.
    fs::remove_all(dir_ / "cfg");
    SettingsFile none(folder_);
    EXPECT_FALSE(none.CreateKey("Software\\Orvandel\\"));
    EXPECT_FALSE(fs::exists(dir_ / "cfg"));
    EXPECT_FALSE(Read(none, "DispStr"));
}

TEST_F(SettingsFileTest, ReadsEntriesAsStringsWhateverTheCase) {
    Write("[screensaversample]\ndispstr=Hi\nSleepTime = 250\n");
    SettingsFile f(folder_);
    EXPECT_TRUE(f.KeyExists("Software\\Orvandel\\ScreenSaverSample"));
    EXPECT_EQ(Read(f, "DispStr"), "Hi");
    EXPECT_EQ(Read(f, "SleepTime"), "250");
    EXPECT_FALSE(Read(f, "Missing"));
    EXPECT_FALSE(f.ReadValue("Software\\Orvandel\\", "DispStr"));
}

TEST_F(SettingsFileTest, KeysOutsideTheSettingsHaveNoEquivalent) {
    Write("[ScreenSaverSample]\nDispStr=Hi\n");
    SettingsFile f(folder_);
    EXPECT_FALSE(f.KeyExists("Control Panel\\desktop"));
    EXPECT_FALSE(f.ReadValue("Control Panel\\desktop", "ScreenSaveUsePassword"));
    EXPECT_FALSE(f.CreateKey("Software\\Other\\"));
    EXPECT_FALSE(f.ReadValue("Software\\Orvandel\\ScreenSaverSample\\Deeper", "DispStr"));
}

TEST_F(SettingsFileTest, BadFilesReadAsMissingAndSaySo) {
    struct Bad {
        const char* what;
        std::function<void(const std::string& path)> make;
        std::string problem;  // PATH stands for the file's path
    };
    const Bad cases[] = {
        {"oversized",
         [](const std::string& p) {
             std::ofstream(p) << "[ScreenSaverSample]\nDispStr=Hi\n;" << std::string(kMaxSettingsFileBytes, 'x');
         },
         "'PATH' is larger than 64 KiB; the defaults stand"},
        {"a folder", [](const std::string& p) { fs::create_directories(p); }, "'PATH' is not a file; the defaults stand"},
        {"a FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, "'PATH' is not a file; the defaults stand"},
        {"unreadable",
         [](const std::string& p) {
             std::ofstream(p) << "[ScreenSaverSample]\nDispStr=Hi\n";
             chmod(p.c_str(), 0);
         },
         "cannot read 'PATH': Permission denied; the defaults stand"},
        {"a link to itself", [](const std::string& p) { symlink(p.c_str(), p.c_str()); },
         "cannot read 'PATH': Too many levels of symbolic links; the defaults stand"},
    };
    for (const auto& c : cases) {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        const std::string path = folder_ + "/settings.ini";
        c.make(path);
        if (std::string(c.what) == "unreadable" && access(path.c_str(), R_OK) == 0) continue;  // root reads anyway
        SettingsFile f(folder_, true);
        EXPECT_TRUE(f.CreateKey("Software\\Orvandel\\")) << c.what;
        EXPECT_FALSE(Read(f, "DispStr")) << c.what;
        const auto read = ReadSettingsFile(path);
        EXPECT_TRUE(read.sections.empty()) << c.what;
        std::string problem = c.problem;
        problem.replace(problem.find("PATH"), 4, path);
        EXPECT_EQ(read.problems, std::vector<std::string>{problem}) << c.what;
    }
    // A file (or folder) that is not there says nothing.
    fs::remove_all(folder_);
    EXPECT_TRUE(ReadSettingsFile(folder_ + "/settings.ini").problems.empty());
    fs::create_directories(folder_);
    EXPECT_TRUE(ReadSettingsFile(folder_ + "/settings.ini").problems.empty());
}

TEST_F(SettingsFileTest, SaysWhatWasNotUsedAndWhatStands) {
    const std::string head = "[ScreenSaverSample]\n";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {head + "garbage line\nIdleTimeout=5\n", {"settings.ini line 2 is not an entry; skipped"}},
        {"IdleTimeout=5\n" + head, {"settings.ini line 1 is an entry outside any section; skipped"}},
        {head + "[Other\nScale=2\n", {"settings.ini line 2 is not a section line; skipped, with the entries under it"}},
        {head + "IdleTimeout=0\nScale=9\nMonitors=left\n",
         {"settings.ini: Scale=9 is not auto or 1 to 8; auto stands",
          "settings.ini: Monitors=left is not all or primary; all stands",
          "settings.ini: IdleTimeout=0 is not a whole number of seconds from 1 to 86400; 600 stands"}},
        {head + "IdleTimeout=10m\nScale = 2.5\n",
         {"settings.ini: Scale=2.5 is not auto or 1 to 8; auto stands",
          "settings.ini: IdleTimeout=10m is not a whole number of seconds from 1 to 86400; 600 stands"}},
        // Whatever the value holds reaches the terminal as plain text on one line.
        {head + "Monitors=\x1b[31mleft\n", {"settings.ini: Monitors='\\x1b[31mleft' is not all or primary; all stands"}},
        {head + "Monitors=" + std::string(50, 'x') + "\n",
         {"settings.ini: Monitors='" + std::string(40, 'x') + "'... is not all or primary; all stands"}},
        // Good values, blank ones (the default asked for) and other sections say nothing.
        {head + "Scale=AUTO\nMonitors= primary\nIdleTimeout=86400\n", {}},
        {head + "Scale=\nMonitors=\nIdleTimeout=\n[Other]\nScale=9\n", {}},
        {head + "a\nb\nc\nd\ne\nf\ng\nScale=0\n",
         {"settings.ini line 2 is not an entry; skipped", "settings.ini line 3 is not an entry; skipped",
          "settings.ini line 4 is not an entry; skipped", "settings.ini line 5 is not an entry; skipped",
          "settings.ini line 6 is not an entry; skipped", "settings.ini: 2 more lines are not entries; skipped",
          "settings.ini: Scale=0 is not auto or 1 to 8; auto stands"}},
    };
    for (const auto& [text, problems] : cases) {
        Write(text);
        EXPECT_EQ(ReadSettingsFile(folder_ + "/settings.ini").problems, problems) << text;
    }
    // Reading never changes the file.
    Write(head + "garbage\nScale=9\n");
    SettingsFile f(folder_, true);
    EXPECT_EQ(Read(f, "Scale"), "9");  // the reader falls back to the default itself
    std::ifstream in(folder_ + "/settings.ini");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), head + "garbage\nScale=9\n");
}

TEST_F(SettingsFileTest, EachProblemIsSaidOnceOnStderr) {
    // A value of its own, so that no other test has said it already.
    Write("[ScreenSaverSample]\nMonitors=once-" + std::to_string(getpid()) + "\nIdleTimeout=5\n");
    const std::string line = "quellora: settings.ini: Monitors=once-" + std::to_string(getpid()) +
                             " is not all or primary; all stands\n";
    testing::internal::CaptureStderr();
    SettingsFile(folder_, true).ReadValue("Software\\Orvandel\\ScreenSaverSample", "Monitors");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    SettingsFile f(folder_);
    EXPECT_EQ(Read(f, "IdleTimeout"), "5");
    EXPECT_EQ(Read(f, "Monitors"), "once-" + std::to_string(getpid()));
    SettingsFile g(folder_);
    EXPECT_TRUE(g.KeyExists("Software\\Orvandel\\ScreenSaverSample"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
}

TEST_F(SettingsFileTest, ALineThatIsNotAnEntryLeavesTheOthersStanding) {
    const std::pair<const char*, std::string> cases[] = {
        {"a bad line before", "[ScreenSaverSample]\ngarbage line\nIdleTimeout=5\n"},
        {"a bad line after", "[ScreenSaverSample]\nIdleTimeout=5\ngarbage line\n"},
        {"a bad line before the section", "garbage line\n[ScreenSaverSample]\nIdleTimeout=5\n"},
        {"an entry outside any section", "IdleTimeout=9\n[ScreenSaverSample]\nIdleTimeout=5\n"},
        {"an entry without a name", "[ScreenSaverSample]\n= 7\nIdleTimeout=5\n"},
        {"a zero byte in a line", "[ScreenSaverSample]\nIdleTimeout=5\nScale=" + std::string(1, '\0') + "2\n"},
        {"a broken section line and its entries",
         "[ScreenSaverSample]\nIdleTimeout=5\n[ScreenSaverSample\nIdleTimeout=7\n"},
    };
    for (const auto& [what, text] : cases) {
        Write(text);
        SettingsFile f(folder_);
        EXPECT_EQ(Read(f, "IdleTimeout"), "5") << what;
        EXPECT_FALSE(Read(f, "Scale")) << what;
    }
}

TEST_F(SettingsFileTest, AFolderThatCantBeMadeMeansNoKey) {
    std::ofstream(dir_ / "plain") << "a file where a folder should be";
    SettingsFile f((dir_ / "plain" / "Orvandel").string());
    EXPECT_FALSE(f.CreateKey("Software\\Orvandel\\"));
    EXPECT_FALSE(f.ReadValue("Software\\Orvandel\\ScreenSaverSample", "DispStr"));
}

TEST(SettingsFolder, FollowsXdgConfigHome) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    setenv("XDG_CONFIG_HOME", "/some/where", 1);
    EXPECT_EQ(SettingsFile::DefaultFolder(), "/some/where/Orvandel");
    setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        EXPECT_EQ(SettingsFile::DefaultFolder(), std::string(home) + "/.config/Orvandel");
    }
    if (oldXdg)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

// The system's list, as an app-defaults file has it.
const std::string kDefaults =
    "! XScreenSaver\n"
    "*timeout:\t0:10:00\n"
    "*programs:\t\t\t\t\t\t\t      \\\n"
    "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n"
    "- GL: \t\t\t\tsuperquadrics --root\t\t\t    \\n\\\n"
    "\t\t\t\tunicode --root\t\t\t    \\n\n"
    "\n*lock:\tFalse\n";

// A file xscreensaver-settings wrote and a user then commented.
const std::string kCustomised =
    "# XScreenSaver Preferences File\n"
    "timeout:\t0:05:00\n"
    "mode:\t\tone\n"
    "selected:\t1\n"
    "! my own list\n"
    "programs:\t\t\t\t\t\t\t\t      \\\n"
    "\t\t\t\tmaze -root\t\t\t\t\t    \\n\\\n"
    "- GL: \t\t\t\tsuperquadrics -root\t\t\t    \\n\\\n"
    "-\t\t\t\t\"Noseguy\" noseguy -root\t\t\t    \\n\\\n"
    "\t\t\t\tqix -root -solid\t\t\t    \\n\\\n"
    "\n"
    "\n"
    "pointerPollTime:    0:00:05\n";

std::vector<std::string> EntryTexts(const std::string& text) {
    std::vector<std::string> out;
    const auto list = ParsePrograms(text);
    if (list)
        for (const auto& e : list->entries) out.push_back(e.text);
    return out;
}

TEST(XScreenSaverList, AddsOneLineBeforeTheListEnds) {
    const ListEdit add = AddQuellora(kCustomised, kDefaults, "quellora");
    ASSERT_EQ(add.result, ListEdit::Result::Changed);
    std::string expected = kCustomised;
    expected.insert(expected.find("\n\n\npointer") + 1, "  \"Quellora\"  quellora --root \\n\\\n");
    EXPECT_EQ(add.text, expected);
}

TEST(XScreenSaverList, AddKeepsEveryEntryAndRemoveGivesTheTextBack) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> before;  // the entries Quellora follows
    };
    std::string longList = "programs: \\\n";
    std::vector<std::string> longEntries;
    for (int i = 0; i < 300; ++i) {
        longList += "  hack" + std::to_string(i) + " -root \\n\\\n";
        longEntries.push_back("hack" + std::to_string(i) + " -root");
    }
    longList += "\n";
    const std::vector<std::string> system = {"maze --root", "- GL: \t\t\t\tsuperquadrics --root", "unicode --root"};
    const Case cases[] = {
        {"customised", kCustomised,
         {"maze -root", "- GL: \t\t\t\tsuperquadrics -root", "-\t\t\t\t\"Noseguy\" noseguy -root", "qix -root -solid"}},
        {"long list", longList, longEntries},
        {"one line", "lock: False\nprograms:\t\"Other\" other --root\t\\n\nfade: True\n", {"\"Other\" other --root"}},
        {"last entry without \\n", "programs: \\\n  maze -root \\n\\\n  qix -root\n", {"maze -root", "qix -root"}},
        {"no blank line after the last", "programs: \\\n  maze -root \\n\\\n  qix -root \\n\nlock: True\n",
         {"maze -root", "qix -root"}},
        {"CRLF", "programs: \\\r\n  maze -root \\n\\\r\n\r\nlock: True\r\n", {"maze -root"}},
        {"no newline at the end", "programs: \\\n  maze -root \\n\\\n  qix -root", {"maze -root", "qix -root"}},
        {"CR and no newline at the end", "programs: \\\n  maze -root \\n\\\n  qix -root\r", {"maze -root", "qix -root"}},
        {"empty list", "programs:\n", {}},
        {"no list: the system's", "timeout: 0:01:00\n# mine\n", system},
        {"no list, no newline at the end", "timeout: 0:01:00", system},
        {"no file", "", system},
    };
    for (const auto& c : cases) {
        const ListEdit add = AddQuellora(c.text, kDefaults, "/opt/q/quellora");
        ASSERT_EQ(add.result, ListEdit::Result::Changed) << c.what << ": " << add.error;
        // Only bytes added, all in one place.
        size_t prefix = 0, suffix = 0;
        while (prefix < c.text.size() && add.text[prefix] == c.text[prefix]) ++prefix;
        while (suffix < c.text.size() - prefix && add.text[add.text.size() - 1 - suffix] == c.text[c.text.size() - 1 - suffix])
            ++suffix;
        EXPECT_EQ(prefix + suffix, c.text.size()) << c.what;

        std::vector<std::string> expected = c.before;
        expected.push_back("\"Quellora\"  /opt/q/quellora --root");
        EXPECT_EQ(EntryTexts(add.text), expected) << c.what;
        EXPECT_EQ(AddQuellora(add.text, kDefaults, "/opt/q/quellora").result, ListEdit::Result::Unchanged) << c.what;
        const ListEdit remove = RemoveQuellora(add.text, kDefaults, "/opt/q/quellora");
        ASSERT_EQ(remove.result, ListEdit::Result::Changed) << c.what;
        EXPECT_EQ(remove.text, c.text) << c.what;
    }
}

TEST(XScreenSaverList, AnEntryThatRunsQuelloraIsKeptAsItIs) {
    // (text, the text after Remove): whoever wrote it, the entry goes with
    // the lines it has to itself, and no other byte changes.
    const std::string settingsTwoLines =  // xscreensaver-settings breaks a long entry over two lines
        "\t\t\t\t/usr/local/libexec/xscreensaver/quellora      \\\n"
        "\t\t\t\t  --root\t\t\t\t    \\n\\\n";
    const std::pair<std::string, std::string> cases[] = {
        {"programs: \\\n  maze -root \\n\\\n  \"Quellora\"  quellora --root \\n\\\n\n",
         "programs: \\\n  maze -root \\n\\\n\n"},
        {"programs: \\\n  maze -root \\n\\\n-  \"Mine\" quellora --root --fps \\n\\\n  qix -root \\n\\\n\n",
         "programs: \\\n  maze -root \\n\\\n  qix -root \\n\\\n\n"},
        {"programs: \\\n  GL: /usr/libexec/xscreensaver/quellora -root \\n\\\n  maze -root \\n\\\n\n",
         "programs: \\\n  maze -root \\n\\\n\n"},
        {"programs:\t\t\\\n\t\t\t\tmaze -root\t\\n\\\n" + settingsTwoLines + "\t\t\t\tqix -root\t\\n\\\n\n",
         "programs:\t\t\\\n\t\t\t\tmaze -root\t\\n\\\n\t\t\t\tqix -root\t\\n\\\n\n"},
        {"programs:\t\t\\\n\t\t\t\tmaze -root\t\\n\\\n" + settingsTwoLines + "\n",
         "programs:\t\t\\\n\t\t\t\tmaze -root\t\\n\\\n\n"},
        // Switched off, over three lines, the last of the list.
        {"programs: \\\r\n  maze -root \\n\\\r\n-\t\"Quellora\" \\\r\n  /opt/q/quellora \\\r\n  --root\r\nlock: False\r\n",
         "programs: \\\r\n  maze -root \\n\r\nlock: False\r\n"},
        // Two of them, one after the other at the end, and one before.
        {"programs: \\\n  quellora -root \\n\\\n  maze -root \\n\\\n" + settingsTwoLines + "  quellora --root",
         "programs: \\\n  maze -root \\n"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(AddQuellora(text, kDefaults, "quellora").result, ListEdit::Result::Unchanged) << text;
        const ListEdit remove = RemoveQuellora(text, kDefaults, "quellora");
        ASSERT_EQ(remove.result, ListEdit::Result::Changed) << text << remove.error;
        EXPECT_EQ(remove.text, expected) << text;
    }
    // A program whose name only ends in quellora is another one.
    EXPECT_EQ(AddQuellora("programs: notquellora -root \\n\n", kDefaults, "quellora").result, ListEdit::Result::Changed);
    // Nothing to remove, nothing changed.
    EXPECT_EQ(RemoveQuellora(kCustomised, kDefaults, "quellora").result, ListEdit::Result::Unchanged);
}

TEST(XScreenSaverList, RefusesTextsItCannotEditSafely) {
    struct Case {
        const char* what;
        std::string text;
    };
    const std::string entry = "programs: \"Mine\" quellora -root \\n\n";
    const Case cases[] = {
        {"zero byte", entry + std::string(1, '\0')},
        {"the list never ends", "programs: \\\n  maze -root \\n\\\n  \"Mine\" quellora -root \\n\\"},
        {"two lists", entry + "programs: qix -root \\n\n"},
        {"too large", entry + "#" + std::string(kMaxXScreenSaverFileBytes, 'x') + "\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddQuellora(c.text, kDefaults, "quellora").result, ListEdit::Result::Failed) << c.what;
        EXPECT_EQ(RemoveQuellora(c.text, kDefaults, "quellora").result, ListEdit::Result::Failed) << c.what;
    }
    // The system's list would join a last line that goes on.
    EXPECT_EQ(AddQuellora("timeout: 0:01:00 \\", kDefaults, "quellora").result, ListEdit::Result::Failed);
    EXPECT_EQ(AddQuellora("timeout: 0:01:00 \\\r", kDefaults, "quellora").result, ListEdit::Result::Failed);
    // Quellora's entry shares its line with another: no line can go.
    EXPECT_EQ(RemoveQuellora("programs: \"Mine\" quellora -root \\n maze -root \\n\n", kDefaults, "quellora").result,
              ListEdit::Result::Failed);
    // A command with a blank would need quoting for the daemon's shell.
    EXPECT_EQ(AddQuellora(kCustomised, kDefaults, "/my hacks/quellora").result, ListEdit::Result::Failed);
}

// Files near the size limit, with the most entries a file can have: each
// edit reads the text once (a remove that re-read it for every entry ran for
// hours, or out of memory, on these).
TEST(XScreenSaverList, ListsUpToTheSizeLimitAreEdited) {
    std::string many = "programs: \\\n", others = "programs: \\\n";
    std::vector<std::string> kept;
    for (int i = 0; many.size() < kMaxXScreenSaverFileBytes - 64; ++i) {
        const std::string hack = "h" + std::to_string(i) + " -r";
        const std::string line = i % 3 ? "  quellora -root \\n\\\n" : "  " + hack + " \\n\\\n";
        many += line;
        if (i % 3 == 0) {
            others += line;
            kept.push_back(hack);
        }
    }
    many += "\n";
    others += "\n";
    ASSERT_GT(many.size(), 1000000u);
    const ListEdit remove = RemoveQuellora(many, kDefaults, "quellora");
    ASSERT_EQ(remove.result, ListEdit::Result::Changed) << remove.error;
    EXPECT_EQ(remove.text, others);
    EXPECT_EQ(EntryTexts(remove.text), kept);

    // Add and remove on a list of only other hacks, as long as a file can hold.
    std::string full = "programs: \\\n";
    while (full.size() < kMaxXScreenSaverFileBytes - 64) full += "  maze -root \\n\\\n";
    full += "\n";
    const ListEdit add = AddQuellora(full, kDefaults, "quellora");
    ASSERT_EQ(add.result, ListEdit::Result::Changed);
    const ListEdit back = RemoveQuellora(add.text, kDefaults, "quellora");
    ASSERT_EQ(back.result, ListEdit::Result::Changed);
    EXPECT_EQ(back.text, full);
}

TEST(XScreenSaverList, NamesTheProgramByNameInTheHackFolder) {
    EXPECT_EQ(HackCommand("/usr/libexec/xscreensaver/quellora", "/usr/libexec/xscreensaver"), "quellora");
    EXPECT_EQ(HackCommand("/opt/q/libexec/xscreensaver/quellora", "/usr/libexec/xscreensaver"),
              "/opt/q/libexec/xscreensaver/quellora");
    EXPECT_EQ(HackCommand("/usr/libexec/xscreensaver-other/quellora", "/usr/libexec/xscreensaver"),
              "/usr/libexec/xscreensaver-other/quellora");
}

class XScreenSaverFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quellora_xss_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / ".xscreensaver").string();
        defaults_ = (dir_ / "XScreenSaver").string();
        Write(defaults_, kDefaults);
    }
    void TearDown() override { fs::remove_all(dir_); }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    // The processes are those of a folder of the test's own (none unless a
    // test makes some), whatever runs on the machine.
    ListCommandResult Run(bool add) {
        return EditXScreenSaverFile(add, path_, defaults_, "quellora", (dir_ / "proc").string());
    }
    // The names in the folder besides the defaults: no temporary file left.
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename() != "XScreenSaver" && e.path().filename() != "proc")
                names.push_back(e.path().filename().string());
        return names;
    }
    fs::path dir_;
    std::string path_, defaults_;
};

TEST_F(XScreenSaverFileTest, FreshHomeGetsTheSystemsListAndLosesItAgain) {
    const auto add = Run(true);
    EXPECT_EQ(add.exitCode, 0) << add.message;
    EXPECT_TRUE(add.changed);
    const std::vector<std::string> expected = {"maze --root", "- GL: \t\t\t\tsuperquadrics --root", "unicode --root",
                                               "\"Quellora\"  quellora --root"};
    EXPECT_EQ(EntryTexts(Read(path_)), expected);
    EXPECT_EQ(Run(true).changed, false);
    const auto remove = Run(false);
    EXPECT_EQ(remove.exitCode, 0) << remove.message;
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_TRUE(Names().empty());
}

TEST_F(XScreenSaverFileTest, CustomisedFileKeepsItsBytesAndMode) {
    Write(path_, kCustomised);
    chmod(path_.c_str(), 0640);
    ASSERT_EQ(Run(true).exitCode, 0);
    EXPECT_EQ(EntryTexts(Read(path_)).back(), "\"Quellora\"  quellora --root");
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(Run(false).exitCode, 0);
    EXPECT_EQ(Read(path_), kCustomised);
    EXPECT_EQ(Names(), std::vector<std::string>{".xscreensaver"});
}

TEST_F(XScreenSaverFileTest, ALinkIsFollowed) {
    Write((dir_ / "dotfiles").string(), kCustomised);
    fs::create_symlink(dir_ / "dotfiles", path_);
    ASSERT_EQ(Run(true).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_NE(Read(path_), kCustomised);
    ASSERT_EQ(Run(false).exitCode, 0);
    EXPECT_EQ(Read((dir_ / "dotfiles").string()), kCustomised);
}

TEST_F(XScreenSaverFileTest, FilesThatCantBeReadOrParsedStayAsTheyAre) {
    struct Bad {
        const char* what;
        std::function<void(const std::string& path)> make;
    };
    const Bad cases[] = {
        {"malformed", [](const std::string& p) { Write(p, "programs: \\\n  maze -root \\n\\"); }},
        {"binary", [](const std::string& p) { Write(p, std::string("\x7f" "ELF\0\0\0", 7)); }},
        {"a folder", [](const std::string& p) { fs::create_directories(p); }},
        {"unreadable",
         [](const std::string& p) {
             Write(p, kCustomised);
             chmod(p.c_str(), 0);
         }},
    };
    for (const auto& c : cases) {
        fs::remove_all(path_);
        c.make(path_);
        if (std::string(c.what) == "unreadable" && access(path_.c_str(), R_OK) == 0) continue;  // root reads anyway
        const std::string before = fs::is_regular_file(path_) ? Read(path_) : "";
        for (const bool add : {true, false}) {
            const auto r = Run(add);
            EXPECT_EQ(r.exitCode, 1) << c.what;
            EXPECT_FALSE(r.changed) << c.what;
            EXPECT_EQ(r.message.find('\n'), std::string::npos) << c.what;
            EXPECT_NE(r.message.find(".xscreensaver"), std::string::npos) << c.what;
        }
        if (fs::is_regular_file(path_)) {
            EXPECT_EQ(Read(path_), before) << c.what;
        }
        EXPECT_EQ(Names(), std::vector<std::string>{".xscreensaver"}) << c.what;
    }
}

// xscreensaver-settings saves the list it read when it started, so a change
// made while it is open would be lost: none is made, and the line says why.
TEST_F(XScreenSaverFileTest, AnOpenSettingsWindowStopsTheChange) {
    const fs::path proc = dir_ / "proc";
    struct Process {
        const char* exe;    // what it runs ("": not readable)
        std::string argv0;  // the name it was started by
        bool mine;
        bool stops;
    };
    const Process cases[] = {
        {"/usr/bin/xscreensaver-settings", "xscreensaver-settings", true, true},
        {"/opt/x/bin/xscreensaver-settings", "/opt/x/bin/xscreensaver-settings", true, true},
        {"/usr/bin/xscreensaver-settings", "xscreensaver-demo", true, true},  // a link to it, on Debian
        {"", "xscreensaver-demo", true, true},
        {"/usr/bin/xscreensaver", "xscreensaver", true, false},  // the daemon reads the file again itself
        {"/usr/bin/xscreensaver-settings", "xscreensaver-settings", false, false},  // someone else's
    };
    for (const auto& c : cases) {
        fs::remove_all(proc);
        fs::create_directories(proc / "self");  // not a process
        const fs::path p = proc / "4321";
        fs::create_directories(p);
        if (*c.exe) fs::create_symlink(c.exe, p / "exe");
        Write((p / "cmdline").string(), c.argv0 + std::string("\0--debug\0", 9));
        if (!c.mine) {
            if (geteuid() != 0) continue;  // only root can make another user's
            ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
        }
        const std::string what = c.argv0 + (c.mine ? "" : " of another user");
        const std::string name = c.argv0 == "xscreensaver-demo" && *c.exe ? "xscreensaver-settings"
                                                                          : fs::path(c.argv0).filename().string();
        EXPECT_EQ(RunningSettingsTool(proc.string()), c.stops ? name + " (process 4321)" : "") << what;
        Write(path_, kCustomised);
        const auto add = Run(true);
        EXPECT_EQ(add.exitCode, c.stops ? 1 : 0) << what;
        if (c.stops) {
            EXPECT_EQ(add.message.rfind("close " + name + " (process 4321) first", 0), 0u) << add.message;
            EXPECT_EQ(add.message.find('\n'), std::string::npos);
            EXPECT_EQ(Read(path_), kCustomised) << what;
        }
    }
    // Remove too; with nothing to change nothing is lost, whatever is open.
    fs::remove_all(proc);
    fs::create_directories(proc / "77");
    fs::create_symlink("/usr/bin/xscreensaver-settings", proc / "77" / "exe");
    const std::string added = AddQuellora(kCustomised, kDefaults, "quellora").text;
    Write(path_, added);
    EXPECT_EQ(Run(false).exitCode, 1);
    EXPECT_EQ(Read(path_), added);
    Write(path_, kCustomised);
    EXPECT_EQ(Run(false).exitCode, 0);

    // A real process of that name among this machine's.
    const fs::path fake = dir_ / "xscreensaver-settings";
    fs::copy_file("/bin/sleep", fake);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(fake.c_str(), fake.c_str(), "60", static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string want = "xscreensaver-settings (process " + std::to_string(pid) + ")";
    std::string found;
    for (int i = 0; i < 500 && found != want; ++i) {  // until the exec has happened
        found = RunningSettingsTool();
        if (found != want) usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(found, want);
}

// The temporary file beside .xscreensaver never outlives the program: a
// signal that ends it waits until the file is renamed or removed, and the
// next run removes what a SIGKILL left.
TEST_F(XScreenSaverFileTest, AKilledRunLeavesNoTemporaryFile) {
    const pid_t dead = fork();
    ASSERT_GE(dead, 0);
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    // A dead process's, an earlier process's with this one's number, one of
    // a process that runs (init), and a name of another pattern.
    const std::string alive = ".xscreensaver.quellora-1-0";
    for (const auto& name : {".xscreensaver.quellora-" + std::to_string(dead) + "-3",
                             ".xscreensaver.quellora-" + std::to_string(getpid()) + "-0", alive,
                             std::string(".xscreensaver.quellora-x-1")})
        Write((dir_ / name).string(), "partial");
    Write(path_, kCustomised);
    const auto first = Run(true);
    ASSERT_EQ(first.exitCode, 0) << first.message;
    std::vector<std::string> names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".xscreensaver", alive, ".xscreensaver.quellora-x-1"}));
    fs::remove(dir_ / alive);
    fs::remove(dir_ / ".xscreensaver.quellora-x-1");

    // A large file, added and removed over and over, ended by signals at
    // random moments: never a temporary file left, never a partial file.
    std::string big = kCustomised;
    while (big.size() < 900000) big += "! " + std::string(76, 'x') + "\n";
    const std::string added = AddQuellora(big, kDefaults, "quellora").text;
    Write(path_, big);
    srand(static_cast<unsigned>(getpid()));
    const int signals[] = {SIGTERM, SIGINT, SIGHUP};
    for (int round = 0; round < 24; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (bool add = true;; add = !add) Run(add);
        }
        usleep(static_cast<useconds_t>(rand() % 30000));
        kill(child, signals[round % 3]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(Names(), std::vector<std::string>{".xscreensaver"}) << "round " << round;
        const std::string now = Read(path_);
        EXPECT_TRUE(now == big || now == added) << "round " << round;
    }
}

TEST_F(XScreenSaverFileTest, AnotherUsersFileOrHomeIsLeftAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can make another user's files";
    ASSERT_EQ(chown(dir_.c_str(), 65534, 65534), 0);
    EXPECT_EQ(Run(true).exitCode, 1);
    EXPECT_FALSE(fs::exists(path_));
    ASSERT_EQ(chown(dir_.c_str(), 0, 0), 0);
    Write(path_, kCustomised);
    ASSERT_EQ(chown(path_.c_str(), 65534, 65534), 0);
    EXPECT_EQ(Run(true).exitCode, 1);
    EXPECT_EQ(Read(path_), kCustomised);
}

TEST_F(XScreenSaverFileTest, AFolderThatCantBeWrittenLeavesTheFileAlone) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    Write(path_, kCustomised);
    chmod(dir_.c_str(), 0555);
    const auto r = Run(true);
    chmod(dir_.c_str(), 0755);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Read(path_), kCustomised);
}

// What the server reads for pixel (x, y) of a packed image: the bit the
}  // namespace
}  // namespace quellora::posix

// A compositor's outputs as device-pixel monitors: each at its logical
// position times the largest integer scale, with its device size; the output
// at logical (0, 0) primary and at (0, 0).
TEST(OutputLayout, PlacesOutputsInDevicePixels) {
    using quellora::Monitor;
    using quellora::Rect;
    using quellora::posix::OutputDescription;
    struct Case {
        const char* what;
        std::vector<OutputDescription> outputs;
        std::vector<Monitor> monitors;
    };
    const OutputDescription plain{0, 0, 1280, 1024, 1280, 1024, 0, 1};
    const Case cases[] = {
        {"one output", {plain}, {{Rect{0, 0, 1280, 1024}, true}}},
        {"scale 2 beside scale 1: logical positions doubled",
         {plain, OutputDescription{1280, 0, 1920, 1080, 3840, 2160, 0, 2}},
         {{Rect{0, 0, 1280, 1024}, true}, {Rect{2560, 0, 6400, 2160}, false}}},
        {"scale 1.5 (announced as 2): the mode's pixels",
         {OutputDescription{0, 0, 1920, 1080, 2880, 1620, 0, 2}},
         {{Rect{0, 0, 2880, 1620}, true}}},
        {"turned a quarter: width and height swap",
         {OutputDescription{0, 0, 1080, 1920, 1920, 1080, 1, 1}, OutputDescription{1080, 0, 1080, 1920, 1920, 1080, 7, 1}},
         {{Rect{0, 0, 1080, 1920}, true}, {Rect{1080, 0, 2160, 1920}, false}}},
        {"turned upside down: no swap", {OutputDescription{0, 0, 1280, 1024, 1280, 1024, 2, 1}},
         {{Rect{0, 0, 1280, 1024}, true}}},
        {"the primary is the one at (0, 0), not the first",
         {OutputDescription{-1280, 0, 1280, 1024, 1280, 1024, 0, 1}, plain},
         {{Rect{-1280, 0, 0, 1024}, false}, {Rect{0, 0, 1280, 1024}, true}}},
        {"none at (0, 0): the first, moved to (0, 0)",
         {OutputDescription{100, 50, 800, 600, 800, 600, 0, 1}, OutputDescription{900, 50, 800, 600, 800, 600, 0, 1}},
         {{Rect{0, 0, 800, 600}, true}, {Rect{800, 0, 1600, 600}, false}}},
        {"no mode: logical size times scale", {OutputDescription{0, 0, 1000, 800, 0, 0, 0, 2}},
         {{Rect{0, 0, 2000, 1600}, true}}},
        {"no outputs", {}, {}},
        {"every output at (0, 0), of different sizes and scales: side by side, each whole",
         {OutputDescription{0, 0, 1920, 1080, 1920, 1080, 0, 1}, OutputDescription{0, 0, 1280, 800, 2560, 1600, 0, 2}},
         {{Rect{0, 0, 1920, 1080}, true}, {Rect{1920, 0, 4480, 1600}, false}}},
        {"overlapping in part",
         {OutputDescription{0, 0, 1920, 1080, 1920, 1080, 0, 1}, OutputDescription{1000, 0, 1280, 1024, 1280, 1024, 0, 1}},
         {{Rect{0, 0, 1920, 1080}, true}, {Rect{1920, 0, 3200, 1024}, false}}},
        {"touching is not overlapping",
         {plain, OutputDescription{0, 1024, 1280, 1024, 1280, 1024, 0, 1}},
         {{Rect{0, 0, 1280, 1024}, true}, {Rect{0, 1024, 1280, 2048}, false}}},
    };
    for (const Case& c : cases) {
        const std::vector<Monitor> got = quellora::posix::LayOutOutputs(c.outputs);
        ASSERT_EQ(got.size(), c.monitors.size()) << c.what;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].rect, c.monitors[i].rect) << c.what << ", output " << i;
            EXPECT_EQ(got[i].primary, c.monitors[i].primary) << c.what << ", output " << i;
        }
    }
}

// A surface over an output's device pixels: logical and buffer sizes whole,
// their ratio the scale exactly, the device pixels covered to the last.
TEST(OutputLayout, SurfaceExtent) {
    struct Case {
        int device, logical, scale120, surface, buffer;
    } const cases[] = {
        {2880, 1920, 0, 1920, 2880},    // 1.5, whole
        {2560, 1706, 0, 1708, 2562},    // 1.5, 1706.67 logical: 2 columns past the edge
        {2560, 1707, 0, 1708, 2562},    // the same, rounded the other way
        {2560, 1707, 180, 1708, 2562},  // the compositor says 1.5
        {1440, 960, 0, 960, 1440},
        {2560, 2048, 0, 2048, 2560},    // 1.25
        {2160, 1080, 0, 1080, 2160},    // 2
        {1024, 1024, 0, 1024, 1024},    // 1
        {1366, 1093, 0, 1096, 1370},    // 1.25 of an odd width: a multiple of 4 logical pixels
        {800, 0, 0, 800, 800},          // no logical size known
    };
    for (const Case& c : cases) {
        int surface = 0, buffer = 0;
        quellora::posix::SurfaceExtent(c.device, c.logical, c.scale120, surface, buffer);
        EXPECT_EQ(surface, c.surface) << c.device << " / " << c.logical;
        EXPECT_EQ(buffer, c.buffer) << c.device << " / " << c.logical;
    }
}

// What a surface on one output shows: the picture on a subsurface of its own
// size wherever its place is whole in device pixels, over one black pixel;
// the whole output's buffer elsewhere; a toplevel over every output showing
// each where it lies.
TEST(SurfacePlan, Plans) {
    using quellora::Rect;
    using namespace quellora::posix;
    const PlanOutput small{Rect{0, 0, 1280, 1024}, 0, 0, 1280, 1024, 1};
    const PlanOutput big{Rect{1280, 0, 5120, 2160}, 1280, 0, 1920, 1080, 2};
    const Rect client{0, 0, 5120, 2160};
    const Rect smallPicture{128, 128, 1152, 896}, bigPicture{1280 + 896, 312, 1280 + 896 + 2048, 312 + 1536};
    auto input = [&](const PlanOutput& o) {
        PlanInput in;
        in.output = o;
        in.all = {small, big};
        in.viewporter = in.subsurfaces = true;
        in.client = client;
        in.pictures = {smallPicture, bigPicture};
        return in;
    };
    struct Case {
        const char* what;
        PlanInput in;
        SurfacePlan want;
    };
    std::vector<Case> cases;
    {
        SurfacePlan p;
        p.logicalWidth = 1280, p.logicalHeight = 1024, p.deviceWidth = 1280, p.deviceHeight = 1024;
        p.blackPixel = true, p.bufferWidth = p.bufferHeight = 1;
        p.subX = 128, p.subY = 128, p.subWidth = 1024, p.subHeight = 768;
        p.subPiece = Piece{Rect{0, 0, 1024, 768}, 128, 128};
        p.regions = {{Rect{0, 0, 1280, 1024}, small.monitor}};
        cases.push_back({"scale 1: the picture on a subsurface over a black pixel", input(small), p});
    }
    {
        SurfacePlan p;
        p.logicalWidth = 1920, p.logicalHeight = 1080, p.deviceWidth = 3840, p.deviceHeight = 2160;
        p.blackPixel = true, p.bufferWidth = p.bufferHeight = 1;
        p.subX = 448, p.subY = 156, p.subWidth = 1024, p.subHeight = 768;
        p.subPiece = Piece{Rect{0, 0, 2048, 1536}, bigPicture.left, bigPicture.top};
        p.regions = {{Rect{0, 0, 3840, 2160}, big.monitor}};
        cases.push_back({"scale 2: the doubled picture's device pixels at half its place", input(big), p});
        PlanInput mutter = input(big);
        mutter.output.logicalWidth = 3840, mutter.output.logicalHeight = 2160;  // laid out in device pixels
        mutter.configWidth = 1920, mutter.configHeight = 1080;
        cases.push_back({"laid out in device pixels, configured in scaled ones: the same", mutter, p});
    }
    {
        PlanInput in = input(big);
        in.pictures = {smallPicture};
        SurfacePlan p;
        p.logicalWidth = 1920, p.logicalHeight = 1080, p.deviceWidth = 3840, p.deviceHeight = 2160;
        p.blackPixel = true, p.bufferWidth = p.bufferHeight = 1;
        p.regions = {{Rect{0, 0, 3840, 2160}, big.monitor}};
        cases.push_back({"no picture on it (Monitors=primary): the black pixel alone", in, p});
    }
    {
        PlanInput in = input(big);
        in.pictures = {Rect{1280 + 897, 312, 1280 + 897 + 2048, 312 + 1536}};
        SurfacePlan p;
        p.logicalWidth = 1920, p.logicalHeight = 1080, p.deviceWidth = 3840, p.deviceHeight = 2160;
        p.bufferWidth = 3840, p.bufferHeight = 2160;
        p.pieces = {Piece{Rect{0, 0, 3840, 2160}, 1280, 0}};
        p.regions = {{Rect{0, 0, 3840, 2160}, big.monitor}};
        cases.push_back({"an edge between two logical pixels: the output's buffer", in, p});
        in.pictures = {bigPicture};
        in.viewporter = false;
        p.bufferScale = 2;
        p.logicalWidth = 1920, p.logicalHeight = 1080;
        cases.push_back({"no viewport: the output's buffer at scale 2", in, p});
    }
    {
        const PlanOutput frac{Rect{0, 0, 2880, 1620}, 0, 0, 1920, 1080, 2};
        PlanInput in = input(frac);
        in.all = {frac};
        in.preferredScale = 180;
        in.pictures = {Rect{416, 42, 416 + 2048, 42 + 1536}};
        SurfacePlan p;
        p.logicalWidth = 1920, p.logicalHeight = 1080, p.deviceWidth = 2880, p.deviceHeight = 1620;
        p.bufferWidth = 2880, p.bufferHeight = 1620;
        p.pieces = {Piece{Rect{0, 0, 2880, 1620}, 0, 0}};
        p.regions = {{Rect{0, 0, 2880, 1620}, frac.monitor}};
        cases.push_back({"scale 1.5: the output's buffer, exact through the viewport", in, p});
    }
    {
        const PlanOutput tiny{Rect{0, 0, 800, 600}, 0, 0, 800, 600, 1};
        PlanInput in = input(tiny);
        in.all = {tiny};
        in.client = Rect{0, 0, 800, 600};
        in.pictures = {Rect{0, 0, 800, 600}};  // the viewport cut by the screen
        SurfacePlan p;
        p.logicalWidth = 800, p.logicalHeight = 600, p.deviceWidth = 800, p.deviceHeight = 600;
        p.blackPixel = true, p.bufferWidth = p.bufferHeight = 1;
        p.subWidth = 800, p.subHeight = 600;
        p.subPiece = Piece{Rect{0, 0, 800, 600}, 0, 0};
        p.regions = {{Rect{0, 0, 800, 600}, tiny.monitor}};
        cases.push_back({"a screen smaller than the picture: the picture is the whole output", in, p});
    }
    {
        // cage: one toplevel over two outputs side by side.
        const PlanOutput left{Rect{0, 0, 1920, 1080}, 0, 0, 1920, 1080, 1};
        const PlanOutput right{Rect{1920, 0, 3840, 1080}, 1920, 0, 1920, 1080, 1};
        PlanInput in = input(left);
        in.all = {left, right};
        in.toplevel = true;
        in.configWidth = 3840, in.configHeight = 1080;
        in.client = Rect{0, 0, 3840, 1080};
        in.pictures = {Rect{448, 156, 1472, 924}, Rect{2368, 156, 3392, 924}};
        SurfacePlan p;
        p.logicalWidth = 3840, p.logicalHeight = 1080, p.deviceWidth = 3840, p.deviceHeight = 1080;
        p.bufferWidth = 3840, p.bufferHeight = 1080;
        p.pieces = {Piece{Rect{0, 0, 1920, 1080}, 0, 0}, Piece{Rect{1920, 0, 3840, 1080}, 1920, 0}};
        p.regions = {{Rect{0, 0, 1920, 1080}, left.monitor}, {Rect{1920, 0, 3840, 1080}, right.monitor}};
        cases.push_back({"a toplevel over both outputs: each where it lies", in, p});
    }
    for (const Case& c : cases) {
        const SurfacePlan got = PlanSurface(c.in);
        EXPECT_EQ(got.logicalWidth, c.want.logicalWidth) << c.what;
        EXPECT_EQ(got.logicalHeight, c.want.logicalHeight) << c.what;
        EXPECT_EQ(got.deviceWidth, c.want.deviceWidth) << c.what;
        EXPECT_EQ(got.blackPixel, c.want.blackPixel) << c.what;
        EXPECT_EQ(got.bufferWidth, c.want.bufferWidth) << c.what;
        EXPECT_EQ(got.bufferHeight, c.want.bufferHeight) << c.what;
        EXPECT_EQ(got.bufferScale, c.want.bufferScale) << c.what;
        EXPECT_TRUE(got.pieces == c.want.pieces) << c.what;
        EXPECT_EQ(got.subX, c.want.subX) << c.what;
        EXPECT_EQ(got.subY, c.want.subY) << c.what;
        EXPECT_EQ(got.subWidth, c.want.subWidth) << c.what;
        EXPECT_EQ(got.subHeight, c.want.subHeight) << c.what;
        EXPECT_TRUE(got.subPiece == c.want.subPiece) << c.what;
        EXPECT_TRUE(got.regions == c.want.regions) << c.what;
    }
}

// The pointer's place on a surface, in the window: through the output it is
// over, also on a toplevel over two outputs (x 3000 of two 1920-wide outputs
// is 3000, not half of it), and never past an output's edge.
TEST(SurfacePlan, PointerPlaces) {
    using quellora::Rect;
    using namespace quellora::posix;
    const PlanOutput left{Rect{0, 0, 1920, 1080}, 0, 0, 1920, 1080, 1};
    const PlanOutput right{Rect{1920, 0, 3840, 1080}, 1920, 0, 1920, 1080, 1};
    PlanInput cage;
    cage.output = left;
    cage.all = {left, right};
    cage.toplevel = cage.viewporter = cage.subsurfaces = true;
    cage.configWidth = 3840, cage.configHeight = 1080;
    cage.client = Rect{0, 0, 3840, 1080};
    const PlanOutput big{Rect{1280, 0, 5120, 2160}, 1280, 0, 1920, 1080, 2};
    PlanInput doubled;
    doubled.output = big;
    doubled.all = {big};
    doubled.viewporter = true;
    doubled.client = Rect{0, 0, 5120, 2160};
    const PlanOutput frac{Rect{0, 0, 2560, 1440}, 0, 0, 1707, 960, 2};
    PlanInput fractional;
    fractional.output = frac;
    fractional.all = {frac};
    fractional.viewporter = true;
    fractional.client = Rect{0, 0, 2560, 1440};
    struct Case {
        const PlanInput* in;
        double sx, sy;
        int x, y;
    } const cases[] = {
        {&cage, 3000, 500, 3000, 500},        {&cage, 100.5, 7.9, 100, 7},
        {&doubled, 448.5, 156.25, 2177, 312}, {&doubled, 0, 0, 1280, 0},
        {&fractional, 1707.9, 959.9, 2559, 1439},  // past the last device pixel: the last
    };
    for (const Case& c : cases) {
        int x = 0, y = 0;
        SurfaceToWindow(PlanSurface(*c.in), c.sx, c.sy, x, y);
        EXPECT_EQ(x, c.x) << c.sx << "," << c.sy;
        EXPECT_EQ(y, c.y) << c.sx << "," << c.sy;
    }
}

// Key symbols to virtual keys, as both Linux hosts report them.
TEST(Keysym, VirtualKeys) {
    const std::pair<uint32_t, uint16_t> cases[] = {
        {0xff1b, 27},   // Escape
        {0x20, 32},     // space
        {'a', 'A'},     {'Z', 'Z'}, {'7', '7'},
        {0xffb3, 0x63},  // KP_3
        {0xffbe, 0x70},  // F1
        {0xffd5, 0x87},  // F24
        {0xffe1, 0x10},  // Shift_L
        {0x00e9, 0},     // eacute: no virtual key
    };
    for (const auto& [sym, vk] : cases) EXPECT_EQ(quellora::posix::VirtualKeyOfKeysym(sym), vk) << std::hex << sym;
}
