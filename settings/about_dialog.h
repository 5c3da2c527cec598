// The About dialog of configure mode: its controls with their design
// positions, texts and states, the handlers that size it and read the
// settings into its hidden area, and what keys and clicks do to it. Each
// backend draws it and passes presses on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings_store.h"

namespace quellora {

inline constexpr const char* kVersionText = "Version 0.5  (July 5, 2002)";
inline constexpr const char* kCopyrightText = "Copyright (C) 2002 Orvandel";
inline constexpr const char* kUrlText = "https://orvandel.example/quellora/";

class TScrnSaveSetupDlg : public ModalDialog {
public:
    static constexpr int kModalOk = 1;
    static constexpr int kModalCancel = 2;

    explicit TScrnSaveSetupDlg(Platform& platform);
    ~TScrnSaveSetupDlg() override;
    TScrnSaveSetupDlg(const TScrnSaveSetupDlg&) = delete;
    TScrnSaveSetupDlg& operator=(const TScrnSaveSetupDlg&) = delete;

    // Window creation: the foreground window becomes the owner and is
    // disabled until the dialog is destroyed.
    void CreateWnd();
    // Sizes the dialog, centres OK, opens the settings and reads them into the
    // hidden area. Creates the window first if that has not happened.
    void FormCreate();
    // Enables the owner again and frees the settings.
    void FormDestroy();
    void OKBtnClick() { modalResult = kModalOk; }
    void BlinkTrackBarChange();
    // The slider's position setter: clamps, and raises the change event when
    // the position changes.
    void SetTrackBarPosition(int position);

    // ModalDialog: Enter presses the default button and Escape the cancel
    // button, each only while it is visible and enabled (so Escape does
    // nothing here); the close box and the system menu close the dialog.
    std::vector<DialogControl*> Controls() override;
    DialogControl* FocusedButton() override { return &OKBtn; }
    void KeyDown(uint16_t key) override;
    void ButtonClick(DialogControl& button) override;
    void CloseRequest() override { modalResult = kModalCancel; }

    DialogControl Label1, DispStrEdit, Label2, BlinkTrackBar, OKBtn, CancelBtn, Label_Version, Label_Copyright,
        Label5, Label_Title, Edit_URL;
    DialogControl* defaultButton = &OKBtn;
    DialogControl* cancelButton = &CancelBtn;

    bool created = false;
    bool destroyed = false;
    int changeEvents = 0;  // how often the slider raised its change event

private:
    Platform& platform_;
    std::unique_ptr<SettingsStore> settings_;
};

}  // namespace quellora
