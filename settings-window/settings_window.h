// The settings window: a live preview of the saver, "Start when idle",
// "Wait", "Picture size", "Monitors", "Test" and the About text, each change
// saved at once, and what went wrong said in a bar over them, with Try Again.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <vector>

#include "platform/application.h"
#include "platform/platform.h"
#include "saver/form1.h"
#include "settings-window/preview_platform.h"
#include "settings-window/settings_document.h"

namespace quellora::settings_window {

inline constexpr const char* kApplicationId = "example.orvandel.Quellora";

class SettingsWindow {
public:
    SettingsWindow(GtkApplication* app, SettingsDocument& document, PreviewPlatform& platform, Application& loop);
    ~SettingsWindow();
    SettingsWindow(const SettingsWindow&) = delete;
    SettingsWindow& operator=(const SettingsWindow&) = delete;

    void Present();

private:
    GtkWidget* Row(GtkWidget* grid, int row, const char* mnemonic, GtkWidget* control, const char* unit = nullptr);
    GtkWidget* AboutBox();
    // The controls show the document's values; no change is saved meanwhile.
    void ShowValues();
    // The bar over the controls: the document's problem, or `extra`.
    void ShowProblem(const std::string& extra = {});
    // The preview's saver window made anew, with the settings of the moment.
    void StartPreview();
    void StopPreview();
    void FollowMonitors();
    void RunTest();

    static void OnClose(GtkWindow*, gpointer self);
    static void OnSwitch(GObject*, GParamSpec*, gpointer self);
    static void OnWait(GtkSpinButton*, gpointer self);
    static void OnScale(GObject*, GParamSpec*, gpointer self);
    static void OnMonitors(GObject*, GParamSpec*, gpointer self);
    static void OnTest(GtkButton*, gpointer self);
    static void OnTryAgain(GtkButton*, gpointer self);
    static void OnMonitorsChanged(GListModel*, guint, guint, guint, gpointer self);
    static void OnResize(GtkDrawingArea*, int, int, gpointer self);
    static void OnScaleFactor(GObject*, GParamSpec*, gpointer self);
    static void OnMap(GtkWidget*, gpointer self);
    static void OnUnmap(GtkWidget*, gpointer self);
    static void Draw(GtkDrawingArea*, cairo_t* cr, int width, int height, gpointer self);
    static void OnTestEnded(GPid pid, gint status, gpointer self);

    SettingsDocument& document_;
    PreviewPlatform& platform_;
    Application& loop_;
    std::unique_ptr<TForm1> form_;
    bool showing_ = false;  // the controls are being set from the document: no change to save
    GtkWidget* window_ = nullptr;
    GtkWidget* bar_ = nullptr;
    GtkWidget* barText_ = nullptr;
    GtkWidget* preview_ = nullptr;
    GtkWidget* switch_ = nullptr;
    GtkWidget* wait_ = nullptr;
    GtkWidget* scale_ = nullptr;
    GtkWidget* monitors_ = nullptr;
    GtkWidget* test_ = nullptr;
    GListModel* monitorList_ = nullptr;
    std::string switchProblem_;
    std::string testProblem_;
    int testStderr_ = -1;
};

}  // namespace quellora::settings_window
