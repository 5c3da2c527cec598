#!/usr/bin/env python3
"""The layer check against small made-up trees: each case is a few files and
whether tools/check_layers.py must pass them. The X11 and Wayland hosts never
include each other (their headers or the window systems' own); the Linux
program's entry above them includes both.

usage: check_layers_cases.py PATH-TO-check_layers.py
"""
import os
import subprocess
import sys
import tempfile

CASES = [
    ('the entry uses both hosts and both window systems', {
        'platform/linux/main.cpp': '#include <X11/Xlib.h>\n#include <wayland-client.h>\n'
                                   '#include "platform/x11/x11_platform.h"\n#include "platform/wayland/wl_platform.h"\n',
    }, True),
    ('each host its own', {
        'platform/x11/a.cpp': '#include <X11/extensions/scrnsaver.h>\n#include "platform/posix/keysym.h"\n',
        'platform/wayland/b.cpp': '#include <wayland-client.h>\n#include "xdg-shell-client-protocol.h"\n',
    }, True),
    ('X11 includes a Wayland header', {'platform/x11/a.cpp': '#include "platform/wayland/wayland_host.h"\n'}, False),
    ('X11 includes libwayland', {'platform/x11/a.cpp': '#include <wayland-client.h>\n'}, False),
    ('X11 includes a protocol header', {'platform/x11/a.cpp': '#include "ext-idle-notify-v1-client-protocol.h"\n'},
     False),
    ('Wayland includes an X11 header', {'platform/wayland/b.cpp': '#include "platform/x11/x11_platform.h"\n'}, False),
    ('Wayland includes Xlib', {'platform/wayland/b.cpp': '#  include <X11/Xlib.h>\n'}, False),
    ('a host includes the entry', {'platform/x11/a.cpp': '#include "platform/linux/idle_watcher.h"\n'}, False),
    ('POSIX includes Xlib', {'platform/posix/c.cpp': '#include <X11/Xlib.h>\n'}, False),
    ('the settings window uses GTK, the core, the POSIX pieces and the autostart code', {
        'settings-window/w.cpp': '#include <gtk/gtk.h>\n#include <gdk/x11/gdkx.h>\n#include "saver/form1.h"\n'
                                 '#include "platform/posix/settings_edit.h"\n#include "platform/linux/autostart.h"\n',
    }, True),
    ('the settings window includes a host', {'settings-window/w.cpp': '#include "platform/x11/x11_platform.h"\n'},
     False),
    ('the saver includes GTK', {'saver/s.cpp': '#include <gtk/gtk.h>\n'}, False),
    ('the entry includes the settings window', {'platform/linux/main.cpp': '#include "settings-window/settings_document.h"\n'},
     False),
]


def main():
    check = sys.argv[1]
    failed = 0
    for label, files, passes in CASES:
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), 'w') as f:
                    f.write(text)
            r = subprocess.run([sys.executable, check, root], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True)
        ok = (r.returncode == 0) == passes
        print('%s: %s (%s)' % ('ok' if ok else 'WRONG', label, r.stdout.strip().splitlines()[-1]))
        failed += not ok
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
