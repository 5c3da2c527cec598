// The About dialog of configure mode, as a model: its controls with their
// design positions, texts and states, and the handlers that size it and read
// the settings into its hidden area. Each backend draws it from this model.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings_store.h"

namespace quellora {

struct DialogControl {
    enum class Kind { Label, Edit, TrackBar, Button };
    Kind kind = Kind::Label;
    std::string name;
    int left = 0, top = 0, width = 0, height = 0;  // client pixels at 96 dpi
    std::string text;
    bool visible = true;
    bool enabled = true;
    bool centred = false;    // text centred in its box
    bool readOnly = false;   // edit fields
    bool borderless = false;
    std::string font = "Arial";
    int fontPx = 12;
    bool bold = false;
    bool isDefault = false;  // buttons: pressed by Enter
    bool isCancel = false;   // buttons: pressed by Escape (when enabled)
    int modalResult = 0;
    Rect Bounds() const { return {left, top, left + width, top + height}; }
};

struct TrackBarRange {
    int min = 0, max = 400, position = 200;
    int lineSize = 100, pageSize = 500, frequency = 100;
};

inline constexpr const char* kVersionText = "Version 0.5  (July 5, 2002)";
inline constexpr const char* kCopyrightText = "Copyright (C) 2002 Orvandel";
inline constexpr const char* kUrlText = "https://orvandel.example/quellora/";

class TScrnSaveSetupDlg {
public:
    static constexpr int kModalOk = 1;
    static constexpr int kModalCancel = 2;

    explicit TScrnSaveSetupDlg(Platform& platform);
    ~TScrnSaveSetupDlg();
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

    // Controls in declaration order.
    std::vector<DialogControl*> Controls();

    DialogControl Label1, DispStrEdit, Label2, BlinkTrackBar, OKBtn, CancelBtn, Label_Version, Label_Copyright,
        Label5, Label_Title, Edit_URL;
    TrackBarRange trackBar;

    std::string caption = "About";
    int clientWidth = 292;   // design client size
    int clientHeight = 356;
    int width = 0;           // outer size, set by FormCreate
    int height = 0;
    WindowHandle owner = 0;
    bool created = false;
    bool destroyed = false;
    int modalResult = 0;
    int changeEvents = 0;    // how often the slider raised its change event

private:
    Platform& platform_;
    std::unique_ptr<SettingsStore> settings_;
};

}  // namespace quellora
