// What the Linux hosts (X11 and Wayland) answer alike: the services of
// platform.h that only Windows has, and the desktop's shared parts (the
// clock, the cursor's display count, the settings file as the key store, the
// frame log, the double-click limits). Each host states only what it does
// differently.
//
// The Windows-only services, and what they do here:
// - HideApplicationWindow, SetApplicationTitle: there is no application
//   window; the title is only kept.
// - EnableWindow: another client's window can't be disabled.
// - ForegroundWindow, DialogFrameSize, ShowModal: none, unless the host has
//   dialogs of its own (X11).
// - SetScreenSaverRunning: there is no such system flag; nothing happens.
// - SystemDirectory, LoadLibrary: there are no host libraries, so password
//   change does nothing (and PlatformId names no Windows family, so no
//   password is asked).
// - SystemDoubleClickLimits: no desktop setting is read; half a second,
//   within 4 pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/posix/settings_file.h"

namespace quellora::posix {

class DesktopPlatform : public Platform {
public:
    DesktopPlatform() : keys_(SettingsFile::DefaultFolder()) {}
    DesktopPlatform(const DesktopPlatform&) = delete;  // a host owns its connection
    DesktopPlatform& operator=(const DesktopPlatform&) = delete;

    // Application object.
    void HideApplicationWindow() override {}
    void SetApplicationTitle(const std::string& title) override { title_ = title; }
    void PostQuit() override { quit_ = true; }
    bool QuitPosted() const override { return quit_; }

    // Windows.
    WindowHandle ForegroundWindow() override { return 0; }
    void EnableWindow(WindowHandle, bool) override {}
    void DialogFrameSize(int& extraWidth, int& extraHeight) override { extraWidth = extraHeight = 0; }
    int ShowModal(ModalDialog&) override { return 0; }

    // System.
    int ShowCursor(bool show) override;
    bool CursorHidden() const { return cursorCount_ < 0; }
    DoubleClickLimits SystemDoubleClickLimits() override { return {500, 8, 8}; }
    uint32_t TickCount() override;
    void SetScreenSaverRunning(bool) override {}
    std::string SystemDirectory() override { return {}; }
    std::unique_ptr<Library> LoadLibrary(const std::string&) override { return nullptr; }
    KeyStore& Keys() override { return keys_; }
    std::unique_ptr<LineFile> OpenFrameLog() override;

protected:
    // The cursor's display count changed: the host shows or hides it.
    virtual void CursorChanged() = 0;

    std::string title_;
    bool quit_ = false;

private:
    int cursorCount_ = 0;
    SettingsFile keys_;
};

}  // namespace quellora::posix
