// The settings window's widgets and what each does.
#include "settings-window/settings_window.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/posix/output_layout.h"
#include "settings-window/start_when_idle.h"
#include "settings/about_dialog.h"
#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

namespace quellora::settings_window {

namespace {

constexpr int kPreviewWidth = 384;  // the preview's width at first, in the desktop's pixels
const char* const kScaleNames[] = {"Automatic", "1×", "2×", "3×", "4×", "5×", "6×", "7×", "8×", nullptr};
const char* const kMonitorNames[] = {"All monitors", "The primary one only", nullptr};

// The monitors as the saver sees them: device pixels, laid out as the Wayland
// saver lays out outputs; on X11 the primary is the X server's and its corner
// is (0, 0), as for the X11 saver.
std::vector<Monitor> DeviceMonitors(GListModel* list) {
    std::vector<posix::OutputDescription> outputs;
    std::vector<GdkMonitor*> gdkMonitors;
    for (guint i = 0; i < g_list_model_get_n_items(list); ++i) {
        GdkMonitor* m = GDK_MONITOR(g_list_model_get_item(list, i));
        GdkRectangle g{};
        gdk_monitor_get_geometry(m, &g);
        posix::OutputDescription d;
        d.logicalX = g.x;
        d.logicalY = g.y;
        d.logicalWidth = g.width;
        d.logicalHeight = g.height;
        d.scale = std::max(1, gdk_monitor_get_scale_factor(m));
        outputs.push_back(d);
        gdkMonitors.push_back(m);
        g_object_unref(m);  // the list keeps it
    }
    std::vector<Monitor> monitors = posix::LayOutOutputs(outputs);
#ifdef GDK_WINDOWING_X11
    GdkDisplay* display = gdk_display_get_default();
    if (GDK_IS_X11_DISPLAY(display) && monitors.size() == gdkMonitors.size()) {
        GdkMonitor* primary = gdk_x11_display_get_primary_monitor(display);
        for (size_t i = 0; i < monitors.size(); ++i)
            if (gdkMonitors[i] == primary) {
                const int dx = monitors[i].rect.left, dy = monitors[i].rect.top;
                for (size_t j = 0; j < monitors.size(); ++j) {
                    monitors[j].primary = i == j;
                    monitors[j].rect = {monitors[j].rect.left - dx, monitors[j].rect.top - dy,
                                        monitors[j].rect.right - dx, monitors[j].rect.bottom - dy};
                }
            }
    }
#endif
    return monitors;
}

// A button whose label's mnemonic presses it; its label names it for a
// screen reader (without the mnemonic's mark).
GtkWidget* MnemonicButton(const char* text) {
    GtkWidget* button = gtk_button_new();
    GtkWidget* label = gtk_label_new_with_mnemonic(text);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), button);
    gtk_button_set_child(GTK_BUTTON(button), label);
    return button;
}

GtkWidget* Label(const char* text, const char* css = nullptr) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    if (css) gtk_widget_add_css_class(label, css);
    return label;
}

}  // namespace

SettingsWindow::SettingsWindow(GtkApplication* app, SettingsDocument& document, PreviewPlatform& platform,
                               Application& loop)
    : document_(document), platform_(platform), loop_(loop) {
    window_ = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(window_), "Quellora Screen Saver");
    g_signal_connect(window_, "close-request", G_CALLBACK(+[](GtkWindow* w, gpointer self) -> gboolean {
                         OnClose(w, self);
                         return FALSE;
                     }),
                     this);

    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    for (auto margin : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom, gtk_widget_set_margin_start,
                        gtk_widget_set_margin_end})
        margin(page, 18);
    gtk_window_set_child(GTK_WINDOW(window_), page);

    // What went wrong, over everything else, with Try Again.
    bar_ = gtk_info_bar_new();
    gtk_info_bar_set_message_type(GTK_INFO_BAR(bar_), GTK_MESSAGE_ERROR);
    barText_ = Label("");
    gtk_label_set_max_width_chars(GTK_LABEL(barText_), 48);
    gtk_label_set_selectable(GTK_LABEL(barText_), TRUE);
    gtk_widget_set_hexpand(barText_, TRUE);
    gtk_info_bar_add_child(GTK_INFO_BAR(bar_), barText_);
    GtkWidget* again = MnemonicButton("Try _Again");
    gtk_widget_set_valign(again, GTK_ALIGN_CENTER);
    g_signal_connect(again, "clicked", G_CALLBACK(OnTryAgain), this);
    gtk_info_bar_add_action_widget(GTK_INFO_BAR(bar_), again, GTK_RESPONSE_APPLY);
    gtk_widget_set_visible(bar_, FALSE);
    gtk_box_append(GTK_BOX(page), bar_);

    // The preview, and Test under it.
    preview_ = GTK_WIDGET(g_object_new(GTK_TYPE_DRAWING_AREA, "accessible-role", GTK_ACCESSIBLE_ROLE_IMG, nullptr));
    gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(preview_), kPreviewWidth);
    gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(preview_), kPreviewWidth * 3 / 4);
    gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(preview_), Draw, this, nullptr);
    gtk_widget_set_vexpand(preview_, TRUE);
    gtk_accessible_update_property(GTK_ACCESSIBLE(preview_), GTK_ACCESSIBLE_PROPERTY_LABEL, "Preview",
                                   GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                   "The screen saver as it shows on every monitor, made small", -1);
    g_signal_connect(preview_, "resize", G_CALLBACK(OnResize), this);
    g_signal_connect(preview_, "notify::scale-factor", G_CALLBACK(OnScaleFactor), this);
    g_signal_connect(preview_, "map", G_CALLBACK(OnMap), this);
    g_signal_connect(preview_, "unmap", G_CALLBACK(OnUnmap), this);
    gtk_box_append(GTK_BOX(page), preview_);
    test_ = MnemonicButton("_Test");
    gtk_widget_set_halign(test_, GTK_ALIGN_CENTER);
    gtk_widget_set_tooltip_text(test_, "Runs the screen saver now; a key or the mouse ends it");
    g_signal_connect(test_, "clicked", G_CALLBACK(OnTest), this);
    gtk_box_append(GTK_BOX(page), test_);

    // The settings, one a row, each reached by its label's mnemonic.
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    switch_ = gtk_switch_new();
    g_signal_connect(switch_, "notify::active", G_CALLBACK(OnSwitch), this);
    Row(grid, 0, "_Start when idle", switch_);
    gtk_widget_set_tooltip_text(switch_, "Starts the screen saver when the session has been idle for the wait "
                                         "below, from now on and at every login");
    wait_ = gtk_spin_button_new_with_range(1, kMaxWaitMinutes, 1);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(wait_), TRUE);
    g_signal_connect(wait_, "value-changed", G_CALLBACK(OnWait), this);
    Row(grid, 1, "_Wait", wait_, "minutes");
    scale_ = gtk_drop_down_new_from_strings(kScaleNames);
    g_signal_connect(scale_, "notify::selected", G_CALLBACK(OnScale), this);
    Row(grid, 2, "_Picture size", scale_);
    gtk_widget_set_tooltip_text(scale_, "Each picture pixel n × n screen pixels; Automatic takes the largest that "
                                        "fits each monitor whole");
    monitors_ = gtk_drop_down_new_from_strings(kMonitorNames);
    g_signal_connect(monitors_, "notify::selected", G_CALLBACK(OnMonitors), this);
    Row(grid, 3, "_Monitors", monitors_);
    gtk_box_append(GTK_BOX(page), grid);

    gtk_box_append(GTK_BOX(page), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));
    gtk_box_append(GTK_BOX(page), AboutBox());

    // The monitors, and whenever they change.
    monitorList_ = gdk_display_get_monitors(gtk_widget_get_display(window_));
    g_signal_connect(monitorList_, "items-changed", G_CALLBACK(OnMonitorsChanged), this);
    FollowMonitors();

    platform_.onPicture = [this] { gtk_widget_queue_draw(preview_); };
    ShowValues();
    ShowProblem();
}

SettingsWindow::~SettingsWindow() {
    StopPreview();
    platform_.onPicture = nullptr;
    if (monitorList_) g_signal_handlers_disconnect_by_data(monitorList_, this);
    if (testStderr_ >= 0) close(testStderr_);
}

void SettingsWindow::Present() { gtk_window_present(GTK_WINDOW(window_)); }

GtkWidget* SettingsWindow::Row(GtkWidget* grid, int row, const char* mnemonic, GtkWidget* control,
                               const char* unit) {
    GtkWidget* label = gtk_label_new_with_mnemonic(mnemonic);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), control);
    gtk_widget_set_hexpand(label, TRUE);
    gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
    // A screen reader says the label (the mnemonic's label names its
    // widget), and the unit after it.
    if (unit)
        gtk_accessible_update_property(GTK_ACCESSIBLE(control), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, unit, -1);
    gtk_widget_set_halign(control, GTK_ALIGN_START);
    gtk_widget_set_valign(control, GTK_ALIGN_CENTER);
    if (!unit) {
        gtk_grid_attach(GTK_GRID(grid), control, 1, row, 1, 1);
        return label;
    }
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_append(GTK_BOX(box), control);
    gtk_box_append(GTK_BOX(box), gtk_label_new(unit));
    gtk_grid_attach(GTK_GRID(grid), box, 1, row, 1, 1);
    return label;
}

GtkWidget* SettingsWindow::AboutBox() {
    // The About dialog's own texts, from its model.
    TScrnSaveSetupDlg about(platform_);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    GtkWidget* title = Label(about.Label_Title.text.c_str(), "heading");
    gtk_box_append(GTK_BOX(box), title);
    gtk_box_append(GTK_BOX(box), Label(about.Label_Version.text.c_str(), "dim-label"));
    gtk_box_append(GTK_BOX(box), Label(about.Label_Copyright.text.c_str(), "dim-label"));
    gtk_box_append(GTK_BOX(box), Label(about.Label5.text.c_str(), "dim-label"));
    gchar* link = g_markup_printf_escaped("<a href=\"%s\">%s</a>", about.Edit_URL.text.c_str(),
                                          about.Edit_URL.text.c_str());
    GtkWidget* url = Label("");
    gtk_label_set_markup(GTK_LABEL(url), link);
    g_free(link);
    gtk_box_append(GTK_BOX(box), url);
    return box;
}

void SettingsWindow::ShowValues() {
    showing_ = true;
    gtk_switch_set_active(GTK_SWITCH(switch_), StartsWhenIdle());
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(wait_), document_.WaitMinutes());
    gtk_drop_down_set_selected(GTK_DROP_DOWN(scale_), static_cast<guint>(document_.Scale()));
    gtk_drop_down_set_selected(GTK_DROP_DOWN(monitors_), document_.Monitors() == MonitorChoice::Primary ? 1 : 0);
    showing_ = false;
}

void SettingsWindow::ShowProblem(const std::string& extra) {
    std::string text = document_.Problem();
    for (const std::string& more : {switchProblem_, testProblem_, extra})
        if (!more.empty()) text += (text.empty() ? "" : "\n") + more;
    gtk_label_set_text(GTK_LABEL(barText_), text.c_str());
    gtk_widget_set_visible(bar_, !text.empty());
}

void SettingsWindow::StartPreview() {
    StopPreview();
    // The window `quellora /s` makes, with the settings the window shows; it
    // is no main form, so nothing in it ends this program.
    form_ = std::make_unique<TForm1>(platform_, loop_, 0, /*isMainForm=*/false);
    if (Window* w = form_->GetWindow()) w->Show();
}

void SettingsWindow::StopPreview() {
    if (!form_) return;
    loop_.ClearIdleHandler();
    form_.reset();
}

void SettingsWindow::FollowMonitors() {
    const std::vector<Monitor> monitors = DeviceMonitors(monitorList_);
    platform_.SetMonitors(monitors);
    // The preview's shape follows the screen's.
    Rect all;
    for (const Monitor& m : monitors) all = Union(all, m.rect);
    if (!all.Empty())
        gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(preview_),
                                            std::max(1, kPreviewWidth * all.Height() / all.Width()));
    if (form_) form_->OnMonitorsChanged();
}

void SettingsWindow::OnClose(GtkWindow*, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    self->StopPreview();
    self->loop_.Terminate();
}

void SettingsWindow::OnSwitch(GObject*, GParamSpec*, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    if (self->showing_) return;
    const bool on = gtk_switch_get_active(GTK_SWITCH(self->switch_));
    self->switchProblem_ = SetStartWhenIdle(on);
    // The switch shows what is so, whatever was asked.
    if (!self->switchProblem_.empty()) {
        self->showing_ = true;
        gtk_switch_set_active(GTK_SWITCH(self->switch_), StartsWhenIdle());
        self->showing_ = false;
    }
    self->ShowProblem();
}

void SettingsWindow::OnWait(GtkSpinButton* spin, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    if (self->showing_) return;
    self->document_.SetWaitMinutes(static_cast<uint32_t>(gtk_spin_button_get_value_as_int(spin)));
    // A watcher that runs follows the new wait by itself: it reads the file.
    self->ShowProblem();
}

void SettingsWindow::OnScale(GObject*, GParamSpec*, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    if (self->showing_) return;
    self->document_.SetScale(static_cast<int>(gtk_drop_down_get_selected(GTK_DROP_DOWN(self->scale_))));
    self->ShowProblem();
    if (self->form_) self->StartPreview();
}

void SettingsWindow::OnMonitors(GObject*, GParamSpec*, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    if (self->showing_) return;
    self->document_.SetMonitors(gtk_drop_down_get_selected(GTK_DROP_DOWN(self->monitors_)) == 1
                                    ? MonitorChoice::Primary
                                    : MonitorChoice::All);
    self->ShowProblem();
    if (self->form_) self->StartPreview();
}

void SettingsWindow::OnTryAgain(GtkButton*, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    // Changes not saved yet are saved now; with none, the file is read again.
    if (self->document_.Unsaved()) {
        self->document_.Save();
    } else {
        self->document_.Load();
        self->ShowValues();
        if (self->form_) self->StartPreview();
    }
    self->switchProblem_.clear();
    self->testProblem_.clear();
    self->ShowProblem();
}

void SettingsWindow::OnTest(GtkButton*, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    if (self->testStderr_ >= 0) return;  // one runs already
    const std::string program = QuelloraProgram();
    const std::vector<std::string> env = ChildEnvironment();
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("/s"), nullptr};
    GPid pid = 0;
    GError* error = nullptr;
    const GSpawnFlags flags =
        static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL);
    if (!g_spawn_async_with_pipes(nullptr, argv, envp.data(), flags, nullptr, nullptr, &pid, nullptr, nullptr,
                                  &self->testStderr_, &error)) {
        self->testProblem_ = "Quellora can't run the screen saver (" + program + " /s): " + error->message + ".";
        g_error_free(error);
        self->testStderr_ = -1;
        self->ShowProblem();
        return;
    }
    fcntl(self->testStderr_, F_SETFL, O_NONBLOCK);
    g_child_watch_add(pid, OnTestEnded, self);
}

void SettingsWindow::OnTestEnded(GPid pid, gint status, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    g_spawn_close_pid(pid);
    // What the saver said, when it failed: its last line.
    std::string said;
    char buf[4096];
    ssize_t n;
    while ((n = read(self->testStderr_, buf, sizeof buf)) > 0) said.append(buf, static_cast<size_t>(n));
    close(self->testStderr_);
    self->testStderr_ = -1;
    while (!said.empty() && said.back() == '\n') said.pop_back();
    said = said.substr(said.rfind('\n') + 1);
    self->testProblem_.clear();
    if (!g_spawn_check_wait_status(status, nullptr))
        self->testProblem_ = "The screen saver did not run" + (said.empty() ? std::string(".") : ": " + said);
    self->ShowProblem();
}

void SettingsWindow::OnMonitorsChanged(GListModel*, guint, guint, guint, gpointer p) {
    static_cast<SettingsWindow*>(p)->FollowMonitors();
}

void SettingsWindow::OnResize(GtkDrawingArea* area, int width, int height, gpointer p) {
    const int scale = gtk_widget_get_scale_factor(GTK_WIDGET(area));
    static_cast<SettingsWindow*>(p)->platform_.SetArea(width * scale, height * scale);
}

void SettingsWindow::OnScaleFactor(GObject*, GParamSpec*, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    OnResize(GTK_DRAWING_AREA(self->preview_), gtk_widget_get_width(self->preview_),
             gtk_widget_get_height(self->preview_), p);
}

// The saver in the preview runs only while the preview is on screen.
void SettingsWindow::OnMap(GtkWidget*, gpointer p) { static_cast<SettingsWindow*>(p)->StartPreview(); }
void SettingsWindow::OnUnmap(GtkWidget*, gpointer p) { static_cast<SettingsWindow*>(p)->StopPreview(); }

void SettingsWindow::Draw(GtkDrawingArea* area, cairo_t* cr, int width, int height, gpointer p) {
    auto* self = static_cast<SettingsWindow*>(p);
    const PreviewPicture& picture = self->platform_.Picture();
    if (picture.Width() <= 0 || picture.Height() <= 0) return;
    // Device pixel for device pixel, centred in the area.
    const int scale = gtk_widget_get_scale_factor(GTK_WIDGET(area));
    const int x = (width * scale - picture.Width()) / 2, y = (height * scale - picture.Height()) / 2;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(picture.Pixels().data())), CAIRO_FORMAT_RGB24,
        picture.Width(), picture.Height(), picture.Width() * 4);
    cairo_surface_set_device_scale(surface, scale, scale);
    cairo_set_source_surface(cr, surface, static_cast<double>(x) / scale, static_cast<double>(y) / scale);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_surface_destroy(surface);
}

}  // namespace quellora::settings_window
