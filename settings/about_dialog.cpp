// The About dialog: its design, its handlers and its key and click rules.
#include "settings/about_dialog.h"

#include "moire/rounding.h"

namespace quellora {

namespace {
DialogControl Make(DialogControl::Kind kind, const char* name, int l, int t, int w, int h, const char* text) {
    DialogControl c;
    c.kind = kind;
    c.name = name;
    c.left = l;
    c.top = t;
    c.width = w;
    c.height = h;
    c.text = text;
    return c;
}
using K = DialogControl::Kind;
}  // namespace

TScrnSaveSetupDlg::TScrnSaveSetupDlg(Platform& platform) : platform_(platform) {
    caption = "About";
    clientWidth = 292;  // the design's client size
    clientHeight = 356;
    Label1 = Make(K::Label, "Label1", 32, 185, 20, 12, "test");
    Label1.visible = false;
    DispStrEdit = Make(K::Edit, "DispStrEdit", 32, 202, 214, 20, "");
    DispStrEdit.visible = false;
    DispStrEdit.enabled = false;
    Label2 = Make(K::Label, "Label2", 32, 233, 31, 12, "Speed");
    BlinkTrackBar = Make(K::TrackBar, "BlinkTrackBar", 32, 256, 214, 33, "");
    BlinkTrackBar.enabled = false;
    OKBtn = Make(K::Button, "OKBtn", 101, 132, 73, 24, "OK");
    OKBtn.isDefault = true;
    OKBtn.modalResult = kModalOk;
    CancelBtn = Make(K::Button, "CancelBtn", 132, 322, 74, 24, "Cancel");
    CancelBtn.modalResult = kModalCancel;
    CancelBtn.enabled = false;
    Label_Version = Make(K::Label, "Label_Version", 131, 34, 135, 12, kVersionText);
    Label_Copyright = Make(K::Label, "Label_Copyright", 0, 60, 292, 12, kCopyrightText);
    Label_Copyright.centred = true;
    Label5 = Make(K::Label, "Label5", 16, 86, 182, 12, "You can get the latest version from");
    Label5.sizing = DialogControl::Sizing::FitText;  // auto-sized to its text
    Label_Title = Make(K::Label, "Label_Title", 47, 10, 189, 19, "QUELLORA");
    Label_Title.fontPx = 19;
    Label_Title.bold = true;
    Edit_URL = Make(K::Edit, "Edit_URL", 88, 102, 201, 18, kUrlText);
    Edit_URL.readOnly = true;
    Edit_URL.borderless = true;
    // The other left-aligned labels keep their design width but never cut
    // their text short where the platform's font runs wider.
    for (DialogControl* c : {&Label1, &Label2, &Label_Version, &Label_Title})
        c->sizing = DialogControl::Sizing::GrowToFit;
}

TScrnSaveSetupDlg::~TScrnSaveSetupDlg() {
    if (created && !destroyed) FormDestroy();
}

std::vector<DialogControl*> TScrnSaveSetupDlg::Controls() {
    return {&Label1, &DispStrEdit, &Label2, &BlinkTrackBar, &OKBtn, &CancelBtn,
            &Label_Version, &Label_Copyright, &Label5, &Label_Title, &Edit_URL};
}

void TScrnSaveSetupDlg::CreateWnd() {
    if (created) return;
    owner = platform_.ForegroundWindow();
    if (owner) platform_.EnableWindow(owner, false);
    created = true;
}

void TScrnSaveSetupDlg::FormCreate() {
    int extraW = 0, extraH = 0;
    platform_.DialogFrameSize(extraW, extraH);
    width = RoundHalfEven(Label5.width * 1.7);
    CreateWnd();  // measuring the client width needs the window
    // The copyright line is anchored left and right, the address top and right.
    const int newClientWidth = width - extraW;
    const int grow = newClientWidth - clientWidth;
    Label_Copyright.width += grow;
    Edit_URL.left += grow;
    clientWidth = newClientWidth;
    height = 190;
    clientHeight = height - extraH;
    OKBtn.left = RoundHalfEven((clientWidth - OKBtn.width) * 0.5);

    settings_ = std::make_unique<SettingsStore>(platform_.Keys(), kSettingsKey);
    DispStrEdit.text = settings_->ReadString(kSettingsSection, kDispStrEntry, kDefaultDispStr);
    SetTrackBarPosition(settings_->ReadInteger(kSettingsSection, kSleepTimeEntry, 10));
}

void TScrnSaveSetupDlg::FormDestroy() {
    if (destroyed) return;
    destroyed = true;
    if (owner) platform_.EnableWindow(owner, true);
    settings_.reset();
}

void TScrnSaveSetupDlg::SetTrackBarPosition(int position) {
    if (position < trackBar.min) position = trackBar.min;
    if (position > trackBar.max) position = trackBar.max;
    if (position == trackBar.position) return;
    trackBar.position = position;
    BlinkTrackBarChange();
}

void TScrnSaveSetupDlg::KeyDown(uint16_t key) {
    DialogControl* button = key == vk::kReturn ? defaultButton : key == vk::kEscape ? cancelButton : nullptr;
    if (button && button->visible && button->enabled) ButtonClick(*button);
}

void TScrnSaveSetupDlg::ButtonClick(DialogControl& button) {
    if (button.kind != DialogControl::Kind::Button || !button.enabled) return;
    if (&button == &OKBtn) OKBtnClick();
    if (button.modalResult) modalResult = button.modalResult;
}

void TScrnSaveSetupDlg::BlinkTrackBarChange() {
    ++changeEvents;
    Label2.text = "Speed : " + std::to_string(trackBar.position);
}

}  // namespace quellora
