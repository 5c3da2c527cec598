// quellora-settings: the settings window of the Quellora screen saver, from
// the desktop's application grid (or `quellora --settings`). One window per
// session: a second start brings the first to the front.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "platform/application.h"
#include "platform/posix/settings_file.h"
#include "settings-window/preview_platform.h"
#include "settings-window/settings_document.h"
#include "settings-window/settings_window.h"

int main(int argc, char** argv) {
    using namespace quellora;
    using namespace quellora::settings_window;
    if (argc > 1) {
        if (std::strcmp(argv[1], "--version") == 0 && argc == 2) {
            std::puts("quellora-settings " QUELLORA_VERSION);  // QUELLORA_VERSION: the project's, from CMake
            return 0;
        }
        std::fprintf(stderr, "quellora-settings: takes no arguments but --version, not '%s'\n", argv[1]);
        return 2;
    }
    // The preview is the window's one moving part: GTK's cairo renderer
    // redraws just that part each frame, where its GL renderer draws the
    // whole window again, which without a GPU costs several times the CPU.
    // A renderer the user asks for (GSK_RENDERER) stands.
    g_setenv("GSK_RENDERER", "cairo", FALSE);
    g_set_application_name("Quellora Screen Saver");  // what the accessibility bus calls the program
    if (!gtk_init_check()) {
        std::fputs("quellora-settings: no display to show the window on (neither a Wayland compositor by "
                   "WAYLAND_DISPLAY nor an X server by DISPLAY answers)\n",
                   stderr);
        return 1;
    }
    GtkApplication* app = gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS);
    GError* error = nullptr;
    if (!g_application_register(G_APPLICATION(app), nullptr, &error)) {
        std::fprintf(stderr, "quellora-settings: %s\n", error->message);
        g_error_free(error);
        g_object_unref(app);
        return 1;
    }
    // The window is open already in this session: to the front with it.
    if (g_application_get_is_remote(G_APPLICATION(app))) {
        g_application_activate(G_APPLICATION(app));
        g_object_unref(app);
        return 0;
    }

    SettingsDocument document(posix::SettingsFile::DefaultFolder());
    document.Load();
    posix::SettingsFile file(posix::SettingsFile::DefaultFolder(), true);  // the window says what it finds wrong
    UnsavedOverFile keys(file, document);
    PreviewPlatform platform(keys);
    // The core's own loop runs the program: it paces the preview's frames,
    // and GLib's sources (the window's events, D-Bus) are its messages.
    Application loop(platform);
    {
        SettingsWindow window(app, document, platform, loop);
        g_signal_connect(app, "activate", G_CALLBACK(+[](GApplication*, gpointer w) {
                             static_cast<SettingsWindow*>(w)->Present();
                         }),
                         &window);
        window.Present();
        loop.Run(nullptr);
        g_signal_handlers_disconnect_by_data(app, &window);
    }
    g_object_unref(app);
    return 0;
}
