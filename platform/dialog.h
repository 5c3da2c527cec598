// A modal dialog as the core describes it to a backend: its caption, its
// size and its controls in client pixels at 96 dpi. The backend draws it and
// passes on what the user did (a key, a click on a button, the close box or
// the system menu's close); the dialog decides what that does, and it is
// over once its modal result is no longer 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace quellora {

struct DialogControl {
    enum class Kind { Label, Edit, TrackBar, Button };
    // How a label's width follows its text as the platform measures it.
    enum class Sizing {
        Fixed,      // the design width, whatever the text
        GrowToFit,  // the design width, or the text's when that is wider
        FitText,    // exactly the text's width
    };
    Kind kind = Kind::Label;
    std::string name;
    int left = 0, top = 0, width = 0, height = 0;  // client pixels at 96 dpi
    std::string text;
    bool visible = true;
    bool enabled = true;
    bool centred = false;    // text centred in its box
    bool readOnly = false;   // edit fields
    bool borderless = false;
    Sizing sizing = Sizing::Fixed;
    std::string font = "Arial";
    int fontPx = 12;
    bool bold = false;
    bool isDefault = false;  // buttons: drawn as the default button
    int modalResult = 0;     // buttons: the dialog's result when pressed
    Rect Bounds() const { return {left, top, left + width, top + height}; }
    // The width on screen once the text measures `textWidth` pixels at 96 dpi.
    int WidthFor(int textWidth) const {
        switch (sizing) {
            case Sizing::FitText: return textWidth;
            case Sizing::GrowToFit: return std::max(width, textWidth);
            case Sizing::Fixed: break;
        }
        return width;
    }
};

struct TrackBarRange {
    int min = 0, max = 400, position = 200;
    int lineSize = 100, pageSize = 500, frequency = 100;
};

class ModalDialog {
public:
    virtual ~ModalDialog() = default;

    // Controls in their order of declaration (and of the tab order).
    virtual std::vector<DialogControl*> Controls() = 0;
    // The button that has the keyboard focus when the dialog opens.
    virtual DialogControl* FocusedButton() = 0;

    // What the user did, reported by the backend.
    virtual void KeyDown(uint16_t key) = 0;           // virtual key code
    virtual void ButtonClick(DialogControl& button) = 0;
    virtual void CloseRequest() = 0;                  // the close box or the system menu's close

    std::string caption;
    int clientWidth = 0, clientHeight = 0;  // at 96 dpi
    int width = 0, height = 0;              // outer size at 96 dpi, with the frame the platform reported
    intptr_t owner = 0;                     // the window the dialog sits on (a WindowHandle); 0 for none
    TrackBarRange trackBar;
    int modalResult = 0;
};

}  // namespace quellora
