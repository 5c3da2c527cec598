// Command line, run modes and the integer conversion of handle arguments.
#include "app/entry.h"

#include <cctype>
#include <cstdint>

#include "app/application.h"
#include "saver/form1.h"
#include "settings/about_dialog.h"

namespace quellora {

namespace {

// Converts `text`; decimal values up to `decimalLimit` are taken (2^31 - 1 for
// settings, 2^32 - 1 for handles) and wrap to their signed 32-bit twin.
std::optional<int32_t> Convert(const std::string& text, uint64_t decimalLimit) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (!hex) {
        const uint64_t limit = negative ? 0x80000000ull : decimalLimit;
        if (value > limit) return std::nullopt;
    }
    uint32_t bits = static_cast<uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

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

void RunPreview(Platform& platform, const std::vector<std::string>& args) {
    platform.HideApplicationWindow();
    const WindowHandle parent = ParseHandle(Arg(args, 1));
    // Without a parent window no close request could ever reach the preview.
    if (parent == 0) return;
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

std::optional<int32_t> ParseInt32(const std::string& text) { return Convert(text, 0x7FFFFFFFull); }

WindowHandle ParseHandle(const std::string& text) {
    const auto v = Convert(text, 0xFFFFFFFFull);
    return v ? static_cast<WindowHandle>(*v) : 0;
}

void RunHosted(Platform& platform, WindowHandle target) {
    Application app(platform);
    TForm1 form(platform, app, 0, /*isMainForm=*/true, target);
    if (form.Closed()) return;
    form.FormActivate();
    app.Run(nullptr);
}

void RunQuellora(Platform& platform, const std::vector<std::string>& args) {
    switch (ModeOf(ModeString(args))) {
        case RunMode::PasswordChange: RunPasswordChange(platform, args); break;
        case RunMode::Configure: RunConfigure(platform); break;
        case RunMode::Preview: RunPreview(platform, args); break;
        case RunMode::Saver: RunSaver(platform); break;
    }
}

}  // namespace quellora
