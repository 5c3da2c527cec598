// The About dialog, built from the core's description: a modal dialog whose
// client area and controls are the description's, scaled from 96 dpi, with
// its texts, fonts, visibility and enabled state. Keys, clicks and the close
// box are passed to the dialog, which decides what they do.
#include "platform/win32/win32_platform.h"

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>


namespace quellora::win32 {

namespace {

constexpr int kFirstControlId = 100;

// Enter and Escape reach the dialog procedure as these two commands (the
// dialog names no default button of the dialog manager's), so no control
// may use them as its id.
constexpr int kEnterCommand = IDOK;
constexpr int kEscapeCommand = IDCANCEL;

struct AboutContext {
    Win32Platform* platform;
    ModalDialog* model;
    std::vector<DialogControl*> controls;
    std::map<std::pair<int, bool>, HFONT> fonts;
    int dpi = 96;

    int Scale(int v) const { return MulDiv(v, dpi, 96); }

    HFONT Font(const DialogControl& c) {
        auto key = std::make_pair(c.fontPx, c.bold);
        auto it = fonts.find(key);
        if (it != fonts.end()) return it->second;
        HFONT f = CreateFontW(-Scale(c.fontPx), 0, 0, 0, c.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              DEFAULT_PITCH | FF_SWISS, Widen(c.font).c_str());
        fonts.emplace(key, f);
        return f;
    }

    int IdOf(size_t index) const { return kFirstControlId + static_cast<int>(index); }
    DialogControl* ById(int id) const {
        for (size_t i = 0; i < controls.size(); ++i)
            if (IdOf(i) == id) return controls[i];
        return nullptr;
    }
};

void CreateControl(HWND dlg, AboutContext& ctx, size_t index) {
    DialogControl& c = *ctx.controls[index];
    DWORD style = WS_CHILD | (c.visible ? WS_VISIBLE : 0) | (c.enabled ? 0 : WS_DISABLED);
    DWORD exStyle = 0;
    const wchar_t* cls = L"STATIC";
    switch (c.kind) {
        case DialogControl::Kind::Label: style |= SS_NOPREFIX | (c.centred ? SS_CENTER : SS_LEFTNOWORDWRAP); break;
        case DialogControl::Kind::Edit:
            cls = L"EDIT";
            style |= ES_AUTOHSCROLL | WS_TABSTOP | (c.readOnly ? ES_READONLY : 0);
            if (!c.borderless) exStyle |= WS_EX_CLIENTEDGE;
            break;
        case DialogControl::Kind::TrackBar:
            cls = TRACKBAR_CLASSW;
            style |= TBS_HORZ | TBS_BOTTOM | TBS_AUTOTICKS | WS_TABSTOP;
            break;
        case DialogControl::Kind::Button:
            cls = L"BUTTON";
            style |= WS_TABSTOP | (c.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
            break;
    }
    HFONT font = ctx.Font(c);
    int width = c.width;
    if (c.kind == DialogControl::Kind::Label) {
        // The dialog says how a label's width follows its text.
        HDC dc = GetDC(dlg);
        HGDIOBJ old = SelectObject(dc, font);
        const std::wstring text = Widen(c.text);
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        SelectObject(dc, old);
        ReleaseDC(dlg, dc);
        width = c.WidthFor(MulDiv(extent.cx, 96, ctx.dpi) + 1);
    }
    HWND h = CreateWindowExW(exStyle, cls, Widen(c.text).c_str(), style, ctx.Scale(c.left), ctx.Scale(c.top),
                             ctx.Scale(width), ctx.Scale(c.height), dlg,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(ctx.IdOf(index))),
                             ctx.platform->Instance(), nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (c.kind == DialogControl::Kind::TrackBar) {
        const TrackBarRange& t = ctx.model->trackBar;
        SendMessageW(h, TBM_SETRANGEMIN, FALSE, t.min);
        SendMessageW(h, TBM_SETRANGEMAX, FALSE, t.max);
        SendMessageW(h, TBM_SETLINESIZE, 0, t.lineSize);
        SendMessageW(h, TBM_SETPAGESIZE, 0, t.pageSize);
        SendMessageW(h, TBM_SETTICFREQ, t.frequency, 0);
        SendMessageW(h, TBM_SETPOS, TRUE, t.position);
    }
}

// Ends the dialog once what the user did has set its modal result.
void EndIfDone(HWND dlg, AboutContext& ctx) {
    if (ctx.model->modalResult != 0) EndDialog(dlg, ctx.model->modalResult);
}

INT_PTR OnInitDialog(HWND dlg, AboutContext& ctx) {
    ctx.dpi = static_cast<int>(WindowDpi(dlg));

    ModalDialog& m = *ctx.model;
    SetWindowTextW(dlg, Widen(m.caption).c_str());
    // The model's client area, scaled like every control in it, inside the
    // frame the system draws at this dpi (whose caption grows by a different
    // ratio, and whose borders may not grow at all): so the whole layout, the
    // margin below OK included, is the 96-dpi one scaled.
    RECT r{0, 0, ctx.Scale(m.clientWidth), ctx.Scale(m.clientHeight)};
    AdjustDialogRect(r, static_cast<UINT>(ctx.dpi));
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(dlg, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    DialogControl face;
    SendMessageW(dlg, WM_SETFONT, reinterpret_cast<WPARAM>(ctx.Font(face)), FALSE);
    for (size_t i = 0; i < ctx.controls.size(); ++i) CreateControl(dlg, ctx, i);
    for (size_t i = 0; i < ctx.controls.size(); ++i)
        if (ctx.controls[i] == m.FocusedButton()) SetFocus(GetDlgItem(dlg, ctx.IdOf(i)));
    return FALSE;  // the focus is set
}

INT_PTR OnCommand(HWND dlg, AboutContext& ctx, int id) {
    if (id == kEnterCommand)
        ctx.model->KeyDown(vk::kReturn);
    else if (id == kEscapeCommand)
        ctx.model->KeyDown(vk::kEscape);
    else if (DialogControl* c = ctx.ById(id); c && c->kind == DialogControl::Kind::Button)
        ctx.model->ButtonClick(*c);
    else
        return FALSE;
    EndIfDone(dlg, ctx);
    return TRUE;
}

INT_PTR CALLBACK AboutProc(HWND dlg, UINT msg, WPARAM w, LPARAM l) {
    auto* ctx = reinterpret_cast<AboutContext*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            ctx = reinterpret_cast<AboutContext*>(l);
            SetWindowLongPtrW(dlg, DWLP_USER, reinterpret_cast<LONG_PTR>(ctx));
            return OnInitDialog(dlg, *ctx);
        case DM_GETDEFID:
            // No default id: Enter comes as kEnterCommand, for the dialog to
            // decide which button it presses.
            SetWindowLongPtrW(dlg, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_COMMAND: return ctx ? OnCommand(dlg, *ctx, LOWORD(w)) : FALSE;
        case WM_CLOSE:
            if (ctx) {
                ctx->model->CloseRequest();
                EndIfDone(dlg, *ctx);
            }
            return TRUE;
        default: return FALSE;
    }
}

// An in-memory dialog template with no controls: they are made from the
// model when the dialog starts.
std::vector<WORD> EmptyTemplate() {
    std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* d = reinterpret_cast<DLGTEMPLATE*>(t.data());
    d->style = kDialogStyle;
    d->dwExtendedStyle = kDialogExStyle;
    t.push_back(0);  // no menu
    t.push_back(0);  // the standard dialog class
    t.push_back(0);  // caption, set from the model
    return t;
}

}  // namespace

int RunAboutDialog(Win32Platform& platform, ModalDialog& dialog) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    AboutContext ctx{&platform, &dialog, dialog.Controls(), {}, 96};
    const std::vector<WORD> tmpl = EmptyTemplate();
    const INT_PTR r = DialogBoxIndirectParamW(platform.Instance(), reinterpret_cast<const DLGTEMPLATE*>(tmpl.data()),
                                              ToHwnd(dialog.owner), AboutProc, reinterpret_cast<LPARAM>(&ctx));
    for (auto& [key, font] : ctx.fonts) DeleteObject(font);
    return r > 0 ? static_cast<int>(r) : dialog.modalResult;
}

}  // namespace quellora::win32
