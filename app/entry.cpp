// Command line and run modes.
#include "app/entry.h"

#include <cctype>

#include "platform/application.h"
#include "platform/text.h"
#include "saver/form1.h"
#include "settings/about_dialog.h"

namespace quellora {

namespace {

std::string Arg(const std::vector<std::string>& args, size_t i) { return i < args.size() ? args[i] : std::string(); }

void RunPasswordChange(Platform& platform, const std::vector<std::string>& args) {
    platform.HideApplicationWindow();
    const WindowHandle parent = ParseHandle(Arg(args, 1));
    const auto library = platform.LoadLibrary("MPR.DLL");
    if (!library) return;
    if (void* entry = library->Entry("PwdChangePasswordA")) {
        const auto change = reinterpret_cast<PwdChangePasswordFn>(entry);
        change("SCRSAVE", reinterpret_cast<void*>(parent), 0, nullptr);
    }
}

void RunConfigure(Platform& platform) {
    platform.HideApplicationWindow();
    TScrnSaveSetupDlg dialog(platform);
    dialog.FormCreate();
    platform.ShowModal(dialog);
    dialog.FormDestroy();
}

// What keeps a window from taking the picture, if anything.
std::optional<RunError> CheckWindow(Platform& platform, WindowHandle window) {
    if (!platform.IsWindow(window)) return RunError{RunError::Kind::NoWindow, {}, window};
    if (!platform.CanDrawInto(window)) return RunError{RunError::Kind::NoPixels, {}, window};
    return std::nullopt;
}

std::optional<RunError> RunPreview(Platform& platform, const std::vector<std::string>& args) {
    platform.HideApplicationWindow();
    const WindowHandle parent = ParseHandle(Arg(args, 1));
    // Without a parent window no close request could ever reach the preview.
    if (parent == 0) return RunError{RunError::Kind::NoWindowId, Arg(args, 1)};
    if (auto error = CheckWindow(platform, parent)) return error;
    Application app(platform);
    TForm1 form(platform, app, parent, /*isMainForm=*/false);
    while (!form.Closed() && !platform.QuitPosted()) {
        app.ProcessMessages();
        if (form.Closed() || platform.QuitPosted()) break;
        // A host that destroyed its window without telling us ends the preview.
        if (!platform.IsWindow(parent)) {
            form.OnDestroyedExternally();
            break;
        }
        // Wait for the next message instead of spinning; look at the parent
        // again now and then.
        platform.WaitUntil(platform.TickCount() + 500);
    }
    return std::nullopt;
}

void RunSaver(Platform& platform) {
    Application app(platform);
    platform.SetApplicationTitle("screen saver");
    TForm1 form(platform, app, 0, /*isMainForm=*/true);
    app.Run(form.GetWindow());
}

}  // namespace

std::string ModeString(const std::vector<std::string>& args) {
    if (args.empty()) return "/C";
    std::string s = args[0];
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

RunMode ModeOf(const std::string& modeString) {
    const char c = modeString.size() > 1 ? modeString[1] : '\0';
    switch (c) {
        case 'A': return RunMode::PasswordChange;
        case 'C': return RunMode::Configure;
        case 'P': return RunMode::Preview;
        default: return RunMode::Saver;
    }
}

std::optional<RunError> RunHosted(Platform& platform, WindowHandle target, SaverOptions options) {
    if (auto error = CheckWindow(platform, target)) return error;
    Application app(platform);
    TForm1 form(platform, app, 0, /*isMainForm=*/true, target, options);
    if (form.Closed()) return std::nullopt;
    form.FormActivate();
    app.Run(nullptr);
    return std::nullopt;
}

std::optional<RunError> RunQuellora(Platform& platform, const std::vector<std::string>& args) {
    switch (ModeOf(ModeString(args))) {
        case RunMode::PasswordChange: RunPasswordChange(platform, args); break;
        case RunMode::Configure: RunConfigure(platform); break;
        case RunMode::Preview: return RunPreview(platform, args);
        case RunMode::Saver: RunSaver(platform); break;
    }
    return std::nullopt;
}

}  // namespace quellora
