#!/usr/bin/python3
"""Checks that no folder includes a header of a folder above it.

    tools/check_layers.py [SOURCE_DIR]

The layers, from the bottom up: moire/ (pixels), platform/ (platform.h and
the neutral code beside it), settings/, saver/, app/; then the hosts in
platform/'s subfolders, which may use everything below them but not each
other (the X11 and Wayland hosts use the POSIX pieces). platform/linux, the
Linux program's entry, sits above the X11 and Wayland hosts and picks one;
neither of them includes the other or the entry. settings-window/, the GTK
settings window, sits beside the entry: it uses the core, the POSIX pieces
and the entry's autostart and watcher code, never a host, and is the only
folder that includes GTK. Prints every include that breaks the rule and exits
1, or prints a summary and exits 0.
"""
import os
import re
import sys

CORE = ['moire', 'platform', 'settings', 'saver', 'app']
HOSTS = {
    'platform/headless': [],
    'platform/posix': [],
    'platform/wayland': ['platform/posix'],
    'platform/x11': ['platform/posix'],
    # The one Linux program's main(): which host runs, the list editor, the idle watcher.
    'platform/linux': ['platform/posix', 'platform/x11', 'platform/wayland'],
    'platform/win32': [],
    # The settings window: a program of its own over the core and the entry's pieces.
    'settings-window': ['platform/posix', 'platform/linux'],
}
TOPS = CORE + ['settings-window']
SOURCE_ENDINGS = ('.h', '.cpp', '.c')
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
ANY_INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]')
# The window systems' own headers, which only their host (and the entry above
# both) may include: Xlib and its extensions; libwayland, xkbcommon's Wayland
# side and the headers wayland-scanner makes from a protocol.
SYSTEM_HEADERS = {
    'platform/x11': re.compile(r'^X11/'),
    'platform/wayland': re.compile(r'^wayland-|-client-protocol\.h$'),
    'settings-window': re.compile(r'^(gtk|gdk|gsk)/'),
}


def folder_of(path):
    """The layer a file or an included header belongs to, or None."""
    parts = path.split('/')
    if len(parts) >= 3 and '/'.join(parts[:2]) in HOSTS:
        return '/'.join(parts[:2])
    if len(parts) >= 2 and parts[0] in CORE:
        return parts[0]
    if len(parts) >= 2 and parts[0] in HOSTS:
        return parts[0]
    return None


def allowed(folder):
    if folder in HOSTS:
        return set(CORE) | {folder} | set(HOSTS[folder])
    return set(CORE[:CORE.index(folder) + 1])


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..'))
    wrong, files, includes = [], 0, 0
    for top in TOPS:
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if not name.endswith(SOURCE_ENDINGS):
                    continue
                rel = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, '/')
                folder = folder_of(rel)
                if folder is None:
                    continue
                files += 1
                ok = allowed(folder)
                with open(os.path.join(root, rel), encoding='utf-8', errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        system = ANY_INCLUDE.match(line)
                        for host, pattern in SYSTEM_HEADERS.items():
                            if system and host != folder and host not in ok and pattern.search(system.group(1)):
                                wrong.append('%s:%d: %s (layer %s) includes %s, a header of %s' %
                                             (rel, number, rel, folder, system.group(1), host))
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = folder_of(m.group(1))
                        if target is None:
                            continue  # a header beside the file, or generated
                        includes += 1
                        if target not in ok:
                            wrong.append('%s:%d: %s (layer %s) includes %s (layer %s)' %
                                         (rel, number, rel, folder, m.group(1), target))
    for w in wrong:
        print(w)
    if wrong:
        print('%d includes cross the layers the wrong way' % len(wrong))
        return 1
    print('layers hold: %d files, %d includes of the project\'s own headers, none upwards' % (files, includes))
    return 0


if __name__ == '__main__':
    sys.exit(main())
