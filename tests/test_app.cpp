// Run modes, handle arguments, the settings store and the About dialog model.
#include <gtest/gtest.h>

#include "app/entry.h"
#include "platform/headless/headless_platform.h"
#include "settings/about_dialog.h"
#include "settings/settings_store.h"

namespace quellora {
namespace {

using headless::HeadlessPlatform;

TEST(CommandLine, ModeBySecondCharacter) {
    const struct { std::vector<std::string> args; RunMode mode; } cases[] = {
        {{}, RunMode::Configure},          {{"/s"}, RunMode::Saver},   {{"/S"}, RunMode::Saver},
        {{"-s"}, RunMode::Saver},          {{"s"}, RunMode::Saver},    {{"/x"}, RunMode::Saver},
        {{""}, RunMode::Saver},            {{"p"}, RunMode::Saver},    {{"/c:1234"}, RunMode::Configure},
        {{"/c"}, RunMode::Configure},      {{"-C"}, RunMode::Configure}, {{"/p", "1234"}, RunMode::Preview},
        {{"xP"}, RunMode::Preview},        {{"/a", "1"}, RunMode::PasswordChange},
    };
    for (const auto& c : cases) EXPECT_EQ(ModeOf(ModeString(c.args)), c.mode) << (c.args.empty() ? "(none)" : c.args[0]);
    EXPECT_EQ(ModeString({}), "/C");
    EXPECT_EQ(ModeString({"/c:abc"}), "/C:ABC");
}

struct ChangePassword {
    static inline int calls = 0;
    static inline std::string provider;
    static inline void* parent = nullptr;
    static inline uint32_t r1 = 99;
    static inline void* r2 = &calls;
    static uint32_t QUELLORA_STDCALL Fn(const char* p, void* w, uint32_t a, void* b) {
        ++calls;
        provider = p;
        parent = w;
        r1 = a;
        r2 = b;
        return 0;
    }
};

TEST(PasswordChangeMode, CallsTheHostOnceWithItsArguments) {
    HeadlessPlatform p;
    p.libraries["mpr.dll"]["PwdChangePasswordA"] = reinterpret_cast<void*>(&ChangePassword::Fn);
    RunQuellora(p, {"/a", "4294967295"});
    EXPECT_EQ(ChangePassword::calls, 1);
    EXPECT_EQ(ChangePassword::provider, "SCRSAVE");
    EXPECT_EQ(ChangePassword::parent, reinterpret_cast<void*>(intptr_t{-1}));
    EXPECT_EQ(ChangePassword::r1, 0u);
    EXPECT_EQ(ChangePassword::r2, nullptr);
    EXPECT_EQ(p.libraryLoads, (std::vector<std::string>{"MPR.DLL"}));
    EXPECT_EQ(p.libraryUnloads, 1);
    EXPECT_EQ(p.appWindowHides, 1);
    EXPECT_TRUE(p.created.empty());
}

TEST(PasswordChangeMode, NothingWhenTheLibraryOrEntryIsMissing) {
    ChangePassword::calls = 0;
    HeadlessPlatform none;
    RunQuellora(none, {"/a", "12"});
    EXPECT_EQ(none.libraryUnloads, 0);
    HeadlessPlatform noEntry;
    noEntry.libraries["MPR.DLL"]["SomethingElse"] = reinterpret_cast<void*>(&ChangePassword::Fn);
    RunQuellora(noEntry, {"/a", "12"});
    EXPECT_EQ(noEntry.libraryUnloads, 1);
    EXPECT_EQ(ChangePassword::calls, 0);
}

constexpr const char* kSection = "Software\\Orvandel\\ScreenSaverSample";

TEST(SettingsStore, FallBacks) {
    const struct { const char* what; bool section; const char* entry; KeyValue value; int32_t integer; std::string text; } cases[] = {
        {"no section", false, nullptr, {}, 15, "dflt"},
        {"no entry", true, "Other", {KeyValue::Type::String, "7", 0}, 15, "dflt"},
        {"decimal", true, "E", {KeyValue::Type::String, "250", 0}, 250, "250"},
        {"hexadecimal", true, "E", {KeyValue::Type::String, "$FA", 0}, 250, "$FA"},
        {"not a number", true, "E", {KeyValue::Type::String, "12a", 0}, 15, "12a"},
        {"empty", true, "E", {KeyValue::Type::String, "", 0}, 15, ""},
        {"expandable, not expanded", true, "E", {KeyValue::Type::ExpandString, "%X%", 0}, 15, "%X%"},
        {"a number where text belongs", true, "E", {KeyValue::Type::Dword, "", 250}, 15, "dflt"},
        {"binary", true, "E", {KeyValue::Type::Other, "", 0}, 15, "dflt"},
    };
    for (const auto& c : cases) {
        HeadlessPlatform p;
        if (c.section) p.keys.CreateKey(kSection);
        if (c.entry) p.keys.Set(kSection, c.entry, c.value);
        SettingsStore s(p.keys, kSettingsKey);
        EXPECT_EQ(s.ReadInteger("ScreenSaverSample", "E", 15), c.integer) << c.what;
        EXPECT_EQ(s.ReadString("ScreenSaverSample", "E", "dflt"), c.text) << c.what;
    }
}

TEST(SettingsStore, OpeningCreatesTheKeyAndAFailedCreateGivesDefaults) {
    HeadlessPlatform p;
    {
        SettingsStore s(p.keys, kSettingsKey);
        EXPECT_TRUE(s.IsOpen());
    }
    EXPECT_TRUE(p.keys.Has("Software\\Orvandel"));

    HeadlessPlatform locked;
    locked.keys.createFails = true;
    SettingsStore s(locked.keys, kSettingsKey);
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.ReadInteger("ScreenSaverSample", "SleepTime", 10), 10);
    EXPECT_FALSE(locked.keys.Has("Software\\Orvandel"));
}

TEST(AboutDialog, LayoutAndDefaults) {
    HeadlessPlatform p;
    p.foreground = 0x777;
    TScrnSaveSetupDlg d(p);
    d.FormCreate();
    EXPECT_EQ(d.caption, "About");
    EXPECT_EQ(d.width, 309);
    EXPECT_EQ(d.height, 190);
    EXPECT_EQ(d.clientWidth, 303);
    EXPECT_EQ(d.OKBtn.left, 115);  // centred: R((303 - 73) / 2)
    EXPECT_EQ(d.Label_Copyright.width, 303);
    EXPECT_EQ(d.Edit_URL.left, 99);
    EXPECT_EQ(d.Label2.text, "Speed : 10");
    EXPECT_EQ(d.DispStrEdit.text, "Screen Saver Sample");
    EXPECT_EQ(d.Label_Version.text, "Version 0.5  (July 5, 2002)");
    // The settings area lies below the visible client height.
    EXPECT_GE(d.BlinkTrackBar.top, d.clientHeight);
    EXPECT_GE(d.CancelBtn.top, d.clientHeight);
    EXPECT_FALSE(d.CancelBtn.enabled);
    EXPECT_TRUE(d.OKBtn.isDefault);
    // The owner is disabled from creation to destruction.
    EXPECT_EQ(d.owner, 0x777);
    EXPECT_EQ(p.enableCalls, (std::vector<std::pair<WindowHandle, bool>>{{0x777, false}}));
    d.FormDestroy();
    EXPECT_EQ(p.enableCalls.back(), (std::pair<WindowHandle, bool>{0x777, true}));
}

TEST(AboutDialog, SliderClampsAndRaisesItsChangeEvent) {
    const struct { const char* stored; int position; const char* label; int events; } cases[] = {
        {"250", 250, "Speed : 250", 1}, {"200", 200, "Speed", 0}, {"999", 400, "Speed : 400", 1},
        {"-5", 0, "Speed : 0", 1},      {"12a", 10, "Speed : 10", 1},
    };
    for (const auto& c : cases) {
        HeadlessPlatform p;
        p.keys.SetString(kSection, "SleepTime", c.stored);
        TScrnSaveSetupDlg d(p);
        d.FormCreate();
        EXPECT_EQ(d.trackBar.position, c.position) << c.stored;
        EXPECT_EQ(d.Label2.text, c.label) << c.stored;
        EXPECT_EQ(d.changeEvents, c.events) << c.stored;
    }
}

TEST(AboutDialog, KeysClicksAndTheCloseBox) {
    // What the user does -> the modal result (0: the dialog stays).
    enum Act { Enter, Escape, Space, ClickOk, ClickCancel, CloseBox };
    const struct { const char* what; Act act; bool cancelEnabled; int result; } cases[] = {
        {"Enter presses the default button", Enter, false, 1},
        {"Escape does nothing while Cancel is disabled", Escape, false, 0},
        {"Escape presses an enabled Cancel", Escape, true, 2},
        {"other keys do nothing", Space, false, 0},
        {"OK clicked", ClickOk, false, 1},
        {"a disabled Cancel clicked", ClickCancel, false, 0},
        {"the close box or the system menu", CloseBox, false, 2},
    };
    for (const auto& c : cases) {
        HeadlessPlatform p;
        TScrnSaveSetupDlg d(p);
        d.FormCreate();
        d.CancelBtn.enabled = c.cancelEnabled;
        switch (c.act) {
            case Enter: d.KeyDown(vk::kReturn); break;
            case Escape: d.KeyDown(vk::kEscape); break;
            case Space: d.KeyDown(vk::kSpace); break;
            case ClickOk: d.ButtonClick(d.OKBtn); break;
            case ClickCancel: d.ButtonClick(d.CancelBtn); break;
            case CloseBox: d.CloseRequest(); break;
        }
        EXPECT_EQ(d.modalResult, c.result) << c.what;
    }
    // How labels follow their text: Label5 takes exactly its text's width,
    // the other left-aligned labels never shrink, the centred line keeps its box.
    HeadlessPlatform p;
    TScrnSaveSetupDlg d(p);
    EXPECT_EQ(d.Label5.WidthFor(170), 170);
    EXPECT_EQ(d.Label_Version.WidthFor(100), 135);
    EXPECT_EQ(d.Label_Version.WidthFor(150), 150);
    EXPECT_EQ(d.Label_Copyright.WidthFor(400), 292);
    EXPECT_EQ(d.FocusedButton(), &d.OKBtn);
}

TEST(ConfigureMode, ShowsTheDialogAndRestoresTheForegroundWindow) {
    for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"/c:1234"}}) {
        HeadlessPlatform p;
        p.foreground = 0x55;
        int result = 0;
        p.onModal = [&](ModalDialog& d) {
            EXPECT_EQ(p.enableCalls.size(), 1u);  // disabled while it shows
            d.KeyDown(vk::kReturn);
            return result = d.modalResult;
        };
        RunQuellora(p, args);
        EXPECT_EQ(p.modalShown, 1);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(p.enableCalls.back(), (std::pair<WindowHandle, bool>{0x55, true}));
        EXPECT_TRUE(p.keys.Has("Software\\Orvandel"));
        EXPECT_TRUE(p.created.empty());
    }
}

}  // namespace
}  // namespace quellora
