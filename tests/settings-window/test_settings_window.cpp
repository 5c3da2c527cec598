// The settings window's parts that need no display: its settings (read as
// the saver reads them, each change written into the file's own text, and
// kept when it can't be), its preview's picture (each pixel the screen
// pixel under its centre) and how it starts the idle watcher.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "moire/assets.h"
#include "platform/posix/settings_edit.h"
#include "settings-window/preview_picture.h"
#include "settings-window/settings_document.h"
#include "settings-window/start_when_idle.h"

namespace quellora::settings_window {
namespace {

namespace fs = std::filesystem;

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quellora_settings_window_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        folder_ = (dir_ / "config" / "Orvandel").string();
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path() const { return folder_ + "/settings.ini"; }
    void Write(const std::string& text) { std::ofstream(Path(), std::ios::binary) << text; }
    std::string Read() const {
        std::ifstream in(Path(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir_;
    std::string folder_;
};

TEST(WaitMinutes, SecondsShowRoundedToWholeMinutes) {
    const std::pair<uint32_t, uint32_t> cases[] = {{1, 1}, {29, 1}, {89, 1}, {90, 2}, {600, 10}, {629, 10},
                                                   {630, 11}, {86400, 1440}};
    for (const auto& [seconds, minutes] : cases) EXPECT_EQ(MinutesOf(seconds), minutes) << seconds;
}

TEST_F(DocumentTest, ValuesOutOfRangeShowTheDefaultsAndTheFileStaysUntilAChange) {
    const std::string text = "; mine\r\n[ScreenSaverSample]\r\nIdleTimeout=0\r\nScale=12\r\nMonitors=some\r\n";
    Write(text);
    SettingsDocument doc(folder_);
    doc.Load();
    EXPECT_EQ(doc.WaitMinutes(), 10u);
    EXPECT_EQ(doc.Scale(), kAutoScale);
    EXPECT_EQ(doc.Monitors(), MonitorChoice::All);
    // Each value not used is said, with what stands instead.
    for (const char* said : {"IdleTimeout=0", "Scale=12", "Monitors=some"})
        EXPECT_NE(doc.Problem().find(said), std::string::npos) << doc.Problem();
    EXPECT_EQ(Read(), text);
    // A minute count that is not whole shows rounded, and stays as it is.
    Write("[ScreenSaverSample]\nIdleTimeout=90\n");
    doc.Load();
    EXPECT_EQ(doc.WaitMinutes(), 2u);
    EXPECT_EQ(Read(), "[ScreenSaverSample]\nIdleTimeout=90\n");
}

TEST_F(DocumentTest, AChangeIsSavedAtOnceKeepingEveryOtherByteAndTheMode) {
    const std::string text = "# kept\r\n[Other]\r\nA = 1\r\n[ScreenSaverSample]\r\nDispStr=x\r\nScale=2";
    Write(text);
    chmod(Path().c_str(), 0640);
    SettingsDocument doc(folder_);
    doc.Load();
    EXPECT_EQ(doc.Scale(), 2);
    ASSERT_TRUE(doc.SetScale(kAutoScale));
    EXPECT_EQ(Read(), "# kept\r\n[Other]\r\nA = 1\r\n[ScreenSaverSample]\r\nDispStr=x\r\nScale=auto");
    ASSERT_TRUE(doc.SetWaitMinutes(15));
    ASSERT_TRUE(doc.SetMonitors(MonitorChoice::Primary));
    EXPECT_EQ(Read(), "# kept\r\n[Other]\r\nA = 1\r\n[ScreenSaverSample]\r\nDispStr=x\r\nScale=auto\r\n"
                      "IdleTimeout=900\r\nMonitors=primary");
    struct stat st {};
    ASSERT_EQ(stat(Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(doc.Unsaved());
    // What another program changed meanwhile stays too.
    Write(Read() + "\r\n; added by hand\r\n");
    ASSERT_TRUE(doc.SetScale(3));
    EXPECT_NE(Read().find("Scale=3\r\n"), std::string::npos);
    EXPECT_NE(Read().find("; added by hand\r\n"), std::string::npos);
}

TEST_F(DocumentTest, NoFileAndNoFolderYet) {
    fs::remove_all(dir_ / "config");  // the configuration home, as on a fresh account
    SettingsDocument doc(folder_);
    doc.Load();
    EXPECT_EQ(doc.Problem(), "");
    ASSERT_TRUE(doc.SetScale(4)) << doc.Problem();
    EXPECT_EQ(Read(), "[ScreenSaverSample]\nScale=4\n");
    EXPECT_EQ(fs::status(dir_ / "config").permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(DocumentTest, AFolderInTheFilesPlaceIsSaidAndNoChangeIsLost) {
    fs::create_directories(Path());
    SettingsDocument doc(folder_);
    doc.Load();
    EXPECT_NE(doc.Problem().find("settings.ini: it is a folder"), std::string::npos) << doc.Problem();
    EXPECT_FALSE(doc.SetScale(3));
    EXPECT_FALSE(doc.SetMonitors(MonitorChoice::Primary));
    EXPECT_NE(doc.Problem().find("is a folder"), std::string::npos) << doc.Problem();
    EXPECT_TRUE(doc.Unsaved());
    EXPECT_EQ(doc.Unsaved("Scale"), "3");
    EXPECT_EQ(doc.Scale(), 3);  // the window still shows the change
    doc.Load();                 // and so it does after the file is read again
    EXPECT_EQ(doc.Scale(), 3);
    EXPECT_TRUE(fs::is_directory(Path()));
    // The folder moved away: the next save takes every change.
    fs::remove_all(Path());
    EXPECT_TRUE(doc.Save()) << doc.Problem();
    EXPECT_EQ(doc.Problem(), "");
    EXPECT_EQ(Read(), "[ScreenSaverSample]\nScale=3\nMonitors=primary\n");
}

TEST_F(DocumentTest, AFullDiskIsSaidAndTheChangeWaitsForTheNextSave) {
    Write("[ScreenSaverSample]\nDispStr=a long enough line to pass the limit\n");
    const std::string before = Read();
    SettingsDocument doc(folder_);
    doc.Load();
    // A write past the file size limit fails as a full disk does.
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny = old;
    tiny.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool saved = doc.SetWaitMinutes(3);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_NE(doc.Problem().find("can't save to"), std::string::npos) << doc.Problem();
    EXPECT_NE(doc.Problem().find("File too large"), std::string::npos) << doc.Problem();
    EXPECT_EQ(Read(), before);
    for (const auto& e : fs::directory_iterator(folder_))
        EXPECT_EQ(e.path().filename(), "settings.ini") << "left behind: " << e.path();
    EXPECT_TRUE(doc.Save());
    EXPECT_EQ(Read(), before + "IdleTimeout=180\n");
}

TEST_F(DocumentTest, ALineTheSaverSkipsIsSaidAndTheRestStands) {
    Write("[ScreenSaverSample]\nScale=2\nthis is no entry\n");
    SettingsDocument doc(folder_);
    doc.Load();
    EXPECT_NE(doc.Problem().find("line 3 is not an entry"), std::string::npos) << doc.Problem();
    EXPECT_EQ(doc.Scale(), 2);
}

TEST_F(DocumentTest, ThePreviewsKeysShowTheChangesNotSavedYet) {
    Write("[ScreenSaverSample]\nScale=2\nDispStr=mine\n");
    SettingsDocument doc(folder_);
    doc.Load();
    fs::remove(Path());
    fs::create_directories(Path());
    EXPECT_FALSE(doc.SetScale(5));
    struct FileKeys : KeyStore {
        bool CreateKey(const std::string&) override { return false; }
        bool KeyExists(const std::string&) override { return false; }
        std::optional<KeyValue> ReadValue(const std::string&, const std::string& name) override {
            if (name == "DispStr") return KeyValue{KeyValue::Type::String, "from the file", 0};
            return std::nullopt;
        }
    } file;
    UnsavedOverFile keys(file, doc);
    const std::string section = "Software\\Orvandel\\ScreenSaverSample";
    EXPECT_TRUE(keys.CreateKey("Software\\Orvandel\\"));
    EXPECT_EQ(keys.ReadValue(section, "scale")->text, "5");
    EXPECT_EQ(keys.ReadValue(section, "DispStr")->text, "from the file");
    EXPECT_FALSE(keys.ReadValue(section, "Monitors"));
}

// What a screen looks like at full size and in the preview, drawn by the
// same calls.
TEST(PreviewPicture, EachPixelIsTheScreenPixelUnderItsCentre) {
    const int sw = 1280, sh = 1024;
    struct Size {
        int areaW, areaH, w, h;
    };
    const Size sizes[] = {{384, 400, 384, 307}, {1000, 300, 375, 300}, {2000, 2000, 1280, 1024}, {1, 1, 1, 1}};
    for (const Size& s : sizes) {
        int w = 0, h = 0;
        FitPreview(s.areaW, s.areaH, sw, sh, w, h);
        EXPECT_EQ(w, s.w) << s.areaW;
        EXPECT_EQ(h, s.h) << s.areaW;
        PreviewPicture full, small;
        full.Resize(sw, sh, sw, sh);
        small.Resize(sw, sh, w, h);
        for (PreviewPicture* p : {&full, &small}) {
            const Rect clip{0, 0, sw, sh};
            p->FillBlack(clip, clip);
            p->PutBitmap1(Img1Picture(), 100, 50, 1024, 700, 128, 128, Rect{0, 0, 1100, 900});
            p->PutGrey(SamplePicture(), 900, 700, clip);
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(small.Pixels()[y * w + x],
                          full.Pixels()[SourceOf(y, h, sh) * sw + SourceOf(x, w, sw)])
                    << x << "," << y << " of " << w << "x" << h;
    }
}

TEST(StartDetached, RunsInASessionOfItsOwnAndNotAsOurChild) {
    const std::string out = (fs::temp_directory_path() / ("quellora_detached_" + std::to_string(getpid()))).string();
    fs::remove(out);
    std::string error;
    const pid_t started = StartDetached({"/bin/sh", "-c", "cat /proc/$$/stat > " + out + ".part && mv " + out + ".part " + out},
                              ChildEnvironment(), error);
    ASSERT_NE(started, 0) << error;
    for (int i = 0; i < 500 && !fs::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream in(out);
    std::string stat;
    std::getline(in, stat);
    ASSERT_FALSE(stat.empty());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    char state;
    long ppid, pgrp, session;
    fields >> state >> ppid >> pgrp >> session;
    EXPECT_EQ(std::stol(stat.substr(0, stat.find(' '))), started);
    EXPECT_NE(ppid, getpid());
    EXPECT_NE(session, getsid(0));
    fs::remove(out);

    EXPECT_EQ(0, StartDetached({"/no/such/program"}, ChildEnvironment(), error));
    EXPECT_EQ(error, "No such file or directory");
}

TEST(StartDetached, TheChildrenGoWithoutThePreviewsFrameLog) {
    setenv("QUELLORA_FRAME_LOG", "/tmp/x", 1);
    for (const std::string& e : ChildEnvironment()) EXPECT_NE(e.rfind("QUELLORA_FRAME_LOG=", 0), 0u) << e;
    unsetenv("QUELLORA_FRAME_LOG");
}

}  // namespace
}  // namespace quellora::settings_window
