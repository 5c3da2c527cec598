#!/usr/bin/python3
"""Tests of the packages: the install rules, the Debian package and the zip
for Windows (the setup program is tested under Wine, tests/wine/wine_e2e.py).

    package_e2e.py install --cmake CMAKE --build DIR --work DIR --version V [--settings-window]
        `cmake --install` into a prefix and into a DESTDIR: exactly the files
        of INSTALLED (and SETTINGS_WINDOW where the settings window is built),
        nothing outside the root, the programs stripped and working, the
        desktop entries and the AppStream metadata valid
    package_e2e.py uninstall --cmake CMAKE --build DIR --work DIR [--settings-window]
        the target uninstall: with nothing installed it says so; after installs
        into a prefix and a DESTDIR (and a package made meanwhile, which is no
        install) it removes exactly what they wrote
    package_e2e.py zip --zip ZIP --scr SCR --license LICENSE
    package_e2e.py deb_fields --deb DEB --version V [--settings-window]
        the control fields and the files of the package
    package_e2e.py deb_lintian --deb DEB
        lintian's report on it; any error fails
    package_e2e.py deb_daemon --deb DEB --work DIR --x11 X11_E2E_ARGS...
        as root: dpkg installs the package, the real XScreenSaver daemon runs
        the installed hack (tests/x11/x11_e2e.py's daemon case), dpkg --purge
        leaves nothing behind. Skipped (77) for other users, and while
        quellora is installed already (that install is left alone).
"""
import argparse
import fcntl
import glob
import gzip
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from e2e_common import Failure, check  # noqa: E402

SKIP = 77
HACK = 'libexec/xscreensaver/quellora'
LINK = 'bin/quellora'  # a symbolic link to the hack, for the commands a user types
LINK_TARGET = '../' + HACK

# Every file an install puts under its prefix, and its mode.
INSTALLED = {
    HACK: 0o755,
    LINK: 0o777,
    'share/xscreensaver/config/quellora.xml': 0o644,
    'share/applications/screensavers/quellora.desktop': 0o644,
    'share/man/man6/quellora.6x.gz': 0o644,
    'share/doc/quellora/LICENSE': 0o644,
    'share/doc/quellora/copyright': 0o644,
    'share/doc/quellora/changelog.gz': 0o644,
}
# The settings window's, where it is built.
APP_ID = 'example.orvandel.Quellora'
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256, 512]
SETTINGS = 'bin/quellora-settings'
SETTINGS_WINDOW = dict({
    SETTINGS: 0o755,
    'share/applications/%s.desktop' % APP_ID: 0o644,
    'share/metainfo/%s.metainfo.xml' % APP_ID: 0o644,
}, **{'share/icons/hicolor/%dx%d/apps/%s.png' % (n, n, APP_ID): 0o644 for n in ICON_SIZES})


def installed(args):
    """Every file an install of this build puts under its prefix, and its mode."""
    return dict(INSTALLED, **(SETTINGS_WINDOW if args.settings_window else {}))


def run(cmd, **kw):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)
    check(r.returncode == 0, '%s failed (%d):\n%s' % (' '.join(cmd), r.returncode, r.stdout))
    return r.stdout


def modes_under(root):
    """{relative path: mode} of every file and link under root."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = stat.S_IMODE(os.lstat(path).st_mode)
    return found


def check_program(path, version, name='quellora'):
    """Stripped, and it runs."""
    kind = run(['file', '-b', path])
    check('ELF' in kind and ', stripped' in kind, '%s is not stripped: %s' % (path, kind.strip()))
    sections = run(['readelf', '-S', '-W', path])
    check('.symtab' not in sections and '.debug_' not in sections, '%s has symbols or debug information' % path)
    r = subprocess.run([path, '--version'], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=20)
    check((r.returncode, r.stdout, r.stderr) == (0, '%s %s\n' % (name, version), ''),
          '%s --version: exit %d, stdout %r, stderr %r' % (path, r.returncode, r.stdout, r.stderr))


def check_link(root):
    link = os.path.join(root, LINK)
    check(os.path.islink(link) and os.readlink(link) == LINK_TARGET,
          '%s is no link to %s' % (link, LINK_TARGET))
    check(os.path.samefile(link, os.path.join(root, HACK)), '%s does not reach the program' % link)


def validate_entry(path):
    validate = shutil.which('desktop-file-validate')
    check(validate, 'desktop-file-validate is missing (apt install desktop-file-utils)')
    r = subprocess.run([validate, path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    check(r.returncode == 0 and 'error:' not in r.stdout, 'desktop-file-validate: ' + r.stdout.strip())


def check_settings_window(root, prefix, version):
    """The settings window: its program stripped and running, its desktop
    entry valid and naming it where it is installed, its AppStream metadata
    valid and naming the entry, its icons PNGs of their sizes; and the saver
    itself free of GTK."""
    check_program(os.path.join(root, SETTINGS), version, 'quellora-settings')
    entry_path = os.path.join(root, 'share/applications/%s.desktop' % APP_ID)
    entry = open(entry_path).read()
    for key in ('Exec=%s' % os.path.join(prefix, SETTINGS), 'TryExec=%s' % os.path.join(prefix, SETTINGS),
                'Icon=%s' % APP_ID, 'Type=Application'):
        check(key + '\n' in entry, 'the settings window\'s desktop entry has no line %s' % key)
    validate_entry(entry_path)
    appstream = shutil.which('appstreamcli')
    check(appstream, 'appstreamcli is missing (apt install appstream)')
    metainfo = os.path.join(root, 'share/metainfo/%s.metainfo.xml' % APP_ID)
    r = subprocess.run([appstream, 'validate', '--no-net', metainfo], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True)
    check(r.returncode == 0, 'appstreamcli validate: ' + r.stdout.strip())
    check('<launchable type="desktop-id">%s.desktop</launchable>' % APP_ID in open(metainfo).read(),
          'the metadata does not name the desktop entry')
    for n in ICON_SIZES:
        with open(os.path.join(root, 'share/icons/hicolor/%dx%d/apps/%s.png' % (n, n, APP_ID)), 'rb') as f:
            head = f.read(24)
        check(head[:8] == b'\x89PNG\r\n\x1a\n' and struct.unpack('>II', head[16:24]) == (n, n),
              'the %dx%d icon is no PNG of that size' % (n, n))
    saver = run(['readelf', '-d', os.path.join(root, HACK)])
    check('libgtk' not in saver and 'libgdk' not in saver, 'the saver links GTK:\n' + saver)


def check_texts(root, prefix, version):
    """The manual page names the version and the program's place; so does the
    desktop entry. `prefix` is where the install puts the files for good
    (without DESTDIR or a package's staging folder)."""
    with gzip.open(os.path.join(root, 'share/man/man6/quellora.6x.gz'), 'rt') as f:
        page = f.read()
    check(re.search(r'^\.TH QUELLORA 6x "[^"]*" "Quellora %s"' % re.escape(version), page, re.M),
          'the manual page header: %s' % page.splitlines()[1])
    check(os.path.join(prefix, HACK) in page, 'the manual page does not name %s' % os.path.join(prefix, HACK))
    entry = open(os.path.join(root, 'share/applications/screensavers/quellora.desktop')).read()
    for key in ('Exec=%s --root' % os.path.join(prefix, HACK), 'TryExec=%s' % os.path.join(prefix, HACK),
                'Name=Quellora', 'Categories=Screensaver;'):
        check(key + '\n' in entry, 'the desktop entry has no line %s' % key)
    # MATE's screensaver lists the entry only when it is a valid one.
    validate_entry(os.path.join(root, 'share/applications/screensavers/quellora.desktop'))


def configured_prefix(build):
    for line in open(os.path.join(build, 'CMakeCache.txt')):
        if line.startswith('CMAKE_INSTALL_PREFIX:'):
            return line.split('=', 1)[1].strip()
    raise Failure('no CMAKE_INSTALL_PREFIX in the cache')


def case_install(args):
    prefix = configured_prefix(args.build)
    with tempfile.TemporaryDirectory(prefix='install-', dir=args.work) as work:
        root = os.path.join(work, 'root')
        # (name, `cmake --install` arguments, its environment, where the
        # prefix lands in the root, the prefix the install manifest and the
        # installed texts name)
        installs = [
            ('--prefix', ['--prefix', root], {}, root, root),
            ('DESTDIR', [], {'DESTDIR': root}, root + prefix, prefix),
        ]
        for name, extra, env, top, listed in installs:
            shutil.rmtree(root, ignore_errors=True)
            # The build's own record of its installs, for `uninstall`, is left alone.
            env = dict(env, QUELLORA_INSTALL_RECORD=os.path.join(work, 'record.txt'))
            run([args.cmake, '--install', args.build] + extra, env=dict(os.environ, **env))
            found = modes_under(root)
            expected = {os.path.relpath(os.path.join(top, rel), root): mode for rel, mode in installed(args).items()}
            check(set(found) == set(expected), '%s: installed %s, expected %s' % (name, sorted(found),
                                                                                sorted(expected)))
            wrong = {p: oct(m) for p, m in found.items() if m != expected[p]}
            check(not wrong, '%s: modes %s' % (name, wrong))
            # What the install says it wrote: nothing outside the root.
            manifest = set(open(os.path.join(args.build, 'install_manifest.txt')).read().split('\n')) - {''}
            check(manifest == {os.path.join(listed, rel) for rel in installed(args)},
                  '%s: the install wrote %s' % (name, sorted(manifest)))
            check_program(os.path.join(top, HACK), args.version)
            check_link(top)
            check_texts(top, listed, args.version)
            if args.settings_window:
                check_settings_window(top, listed, args.version)
            print('%s: %d files under %s, the program stripped and running' % (name, len(found), top))


def case_uninstall(args):
    with tempfile.TemporaryDirectory(prefix='uninstall-', dir=args.work) as work:
        record = os.path.join(work, 'record.txt')
        env = dict(os.environ, QUELLORA_INSTALL_RECORD=record)
        uninstall = [args.cmake, '--build', args.build, '--target', 'uninstall']

        # Nothing installed: said, and nothing changes.
        out = run(uninstall, env=env)
        check('quellora: nothing to uninstall' in out, 'with nothing installed: %s' % out)

        # Two installs; a package made between them is no install.
        a, b = os.path.join(work, 'a'), os.path.join(work, 'b')
        run([args.cmake, '--install', args.build, '--prefix', a], env=env)
        cpack = os.path.join(os.path.dirname(args.cmake), 'cpack')
        run([cpack, '-G', 'DEB', '--config', os.path.join(args.build, 'CPackConfig.cmake'), '-B',
             os.path.join(work, 'cpack')], env=env)
        run([args.cmake, '--install', args.build], env=dict(env, DESTDIR=b))
        prefix = configured_prefix(args.build)
        written = ({os.path.join(a, rel) for rel in installed(args)} |
                   {b + os.path.join(prefix, rel) for rel in installed(args)})
        listed = set(open(record).read().split('\n')) - {''}
        check(listed == written, 'the record lists %s, expected %s' % (sorted(listed), sorted(written)))
        # A file of the user's beside them stays.
        mine = os.path.join(a, 'share/doc/quellora/notes.txt')
        open(mine, 'w').write('mine\n')
        out = run(uninstall, env=env)
        check('quellora: uninstalled: %d files removed, 0 gone already' % len(written) in out, out)
        left = sorted(set(files_under(a, b)) - {mine})
        check(not left, 'left behind: %s' % left)
        check(os.path.exists(mine), 'a file the install did not write was removed')
        check(not os.path.exists(record), 'the record is still there')

        # Once more: nothing to do.
        out = run(uninstall, env=env)
        check('quellora: nothing to uninstall' in out, 'a second uninstall: %s' % out)
    print('uninstall: nothing to do, then %d files of two installs removed, then nothing to do' % len(written))


def files_under(*roots):
    """Every file and link under the roots."""
    return [os.path.join(folder, name) for root in roots for folder, _, names in os.walk(root) for name in names]


def case_zip(args):
    with zipfile.ZipFile(args.zip) as z:
        names = sorted(z.namelist())
        check(names == ['LICENSE.txt', 'README.txt', 'quellora.scr'], 'the zip holds %s' % names)
        check(z.read('quellora.scr') == open(args.scr, 'rb').read(), 'the zip\'s quellora.scr is not the one built')
        for name in ('LICENSE.txt', 'README.txt'):
            text = z.read(name)
            check(text.endswith(b'\r\n') and text.count(b'\n') == text.count(b'\r\n') == text.count(b'\r'),
                  '%s has line ends other than CRLF' % name)
        license = open(args.license, 'rb').read()
        check(z.read('LICENSE.txt') == license.replace(b'\n', b'\r\n'), 'LICENSE.txt is not the LICENSE')
        readme = z.read('README.txt').decode()
        for words in ('Install', 'System32', 'Removing'):
            check(words in readme, 'README.txt does not mention %r' % words)
    print('zip: %s, CRLF text files' % ', '.join(names))


def deb_files(deb):
    """{path: (mode, owner)} of the files in the package, without the folders."""
    files = {}
    for line in run(['dpkg-deb', '-c', deb]).splitlines():
        perms, owner, _, _, _, path = line.split(None, 5)
        path = path.split(' -> ')[0]
        if not perms.startswith('d'):
            files[path[1:]] = (perms, owner)  # ./usr/... -> /usr/...
    return files


def case_deb_fields(args):
    arch = run(['dpkg', '--print-architecture']).strip()
    check(os.path.basename(args.deb) == 'quellora_%s_%s.deb' % (args.version, arch), 'named %s' % args.deb)
    fields = {}
    for name in ('Package', 'Version', 'Architecture', 'Maintainer', 'Section', 'Priority', 'Depends',
                 'Recommends', 'Description'):
        fields[name] = run(['dpkg-deb', '-f', args.deb, name]).strip()
    print(fields)
    expected = {'Package': 'quellora', 'Version': args.version, 'Architecture': arch, 'Section': 'x11',
                'Priority': 'optional', 'Recommends': 'xscreensaver'}
    for name, value in expected.items():
        check(fields[name] == value, '%s is %r, expected %r' % (name, fields[name], value))
    check(re.fullmatch(r'[^<>]+ <[^@<> ]+@[^@<> ]+>', fields['Maintainer']), 'Maintainer %r' % fields['Maintainer'])
    # From dpkg-shlibdeps: the libraries the program links to.
    depends = [d.split()[0] for d in fields['Depends'].split(', ')]
    libs = ['libc6', 'libx11-6', 'libxft2', 'libxrandr2']
    with tempfile.TemporaryDirectory() as tmp:
        run(['dpkg-deb', '-x', args.deb, tmp])
        needed = run(['readelf', '-d', os.path.join(tmp, 'usr', HACK)])
    if 'libwayland-client.so' in needed:  # built with the Wayland backend
        libs += ['libwayland-client0', 'libxkbcommon0']
    if 'libsystemd.so' in needed:  # the idle watcher's D-Bus library
        libs += ['libsystemd0']
    if 'libXss.so' in needed:  # and its X11 idle source
        libs += ['libxss1']
    if args.settings_window:  # the settings window's toolkit
        libs += ['libgtk-4-1']
    for lib in libs:
        check(lib in depends, 'Depends has no %s: %s' % (lib, fields['Depends']))
    check(len(fields['Description'].splitlines()) > 2, 'no long description')

    files = deb_files(args.deb)
    kinds = {0o755: '-rwxr-xr-x', 0o644: '-rw-r--r--', 0o777: 'lrwxrwxrwx'}
    expected = {'/usr/' + rel: (kinds[mode], 'root/root') for rel, mode in installed(args).items()}
    check(files == expected, 'the package holds %s,\nexpected %s' % (files, expected))

    with tempfile.TemporaryDirectory() as tmp:
        run(['dpkg-deb', '-x', args.deb, tmp])
        copyright = open(os.path.join(tmp, 'usr/share/doc/quellora/copyright')).read()
        check(copyright.startswith('Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n'),
              'the copyright file is not machine-readable')
        changelog = os.path.join(tmp, 'usr/share/doc/quellora/changelog.gz')
        with gzip.open(changelog, 'rt') as f:
            top = f.readline()
        check(top.startswith('quellora (%s) ' % args.version), 'the changelog starts with %r' % top)
        header = open(changelog, 'rb').read(10)
        check(header[3] & 0x08 == 0 and header[4:8] == b'\0\0\0\0', 'changelog.gz keeps a name or a time (gzip -n)')
        check_program(os.path.join(tmp, 'usr', HACK), args.version)
        check_link(os.path.join(tmp, 'usr'))
        check_texts(os.path.join(tmp, 'usr'), '/usr', args.version)
        if args.settings_window:
            check_settings_window(os.path.join(tmp, 'usr'), '/usr', args.version)
    print('%s: fields and %d files as expected' % (os.path.basename(args.deb), len(files)))


def case_deb_lintian(args):
    r = subprocess.run(['lintian', '--display-info', '--pedantic', args.deb],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(r.stdout, end='')
    errors = [line for line in r.stdout.splitlines() if line.startswith('E:')]
    check(not errors, 'lintian reports errors:\n' + '\n'.join(errors))
    # 0: clean; 1: tags at or above its failing level (errors, counted above).
    check(r.returncode in (0, 1), 'lintian failed to run (exit %d)' % r.returncode)
    print('lintian: no errors')


def dpkg_status(package):
    r = subprocess.run(['dpkg-query', '-W', '-f', '${Status}', package], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    return r.stdout.strip() if r.returncode == 0 else None


def owned_by_others(path):
    return subprocess.run(['dpkg-query', '-S', path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def case_deb_daemon(args):
    if os.getuid() != 0:
        print('installing a package needs root; skipped')
        return SKIP
    # One test at a time on this machine installs the package, whatever build it comes from.
    lock = open(os.path.join(tempfile.gettempdir(), 'quellora-package-test.lock'), 'w')
    fcntl.flock(lock, fcntl.LOCK_EX)
    status = dpkg_status('quellora')
    if status is not None:
        # Someone's own install: this test would replace it and purge it.
        print('skipped: quellora is installed on this machine (dpkg: %s), and this test installs and purges '
              'the package itself; it leaves that install alone (dpkg --purge quellora, then run it again)' % status)
        return SKIP
    folders = [line.split()[-1][1:].rstrip('/') for line in run(['dpkg-deb', '-c', args.deb]).splitlines()
               if line.startswith('d')]
    files = deb_files(args.deb)
    failure = None
    try:
        print(run(['dpkg', '-i', args.deb]))
        check(dpkg_status('quellora') == 'install ok installed', 'dpkg: %s' % dpkg_status('quellora'))
        hack = '/usr/' + HACK
        check_program(hack, args.version)
        # The daemon finds the hack in its own folder, by its bare name.
        r = subprocess.run([sys.executable, args.x11[0]] + args.x11[1:] +
                           ['--quellora', hack, '--installed', '--work', os.path.join(args.work, 'daemon'), 'daemon'])
        if r.returncode == SKIP:
            return SKIP
        check(r.returncode == 0, 'the daemon did not run the installed hack')
    except Failure as e:
        failure = e
    finally:
        print(run(['dpkg', '--purge', 'quellora']))
    if failure:
        raise failure
    left = [f for f in files if os.path.lexists(f)]
    left += [d for d in folders if os.path.lexists(d) and not owned_by_others(d)]
    check(not left, 'left behind by dpkg --purge: %s' % left)
    check(not os.path.exists('/usr/share/doc/quellora'), '/usr/share/doc/quellora is still there')
    check(dpkg_status('quellora') is None, 'dpkg still knows quellora: %s' % dpkg_status('quellora'))
    info = glob.glob('/var/lib/dpkg/info/quellora.*')
    check(not info, 'dpkg still keeps %s' % info)
    print('installed, run by the daemon, purged: %d files and their folders gone' % len(files))


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith('case_')}


def main():
    p = argparse.ArgumentParser()
    p.add_argument('case', choices=sorted(CASES))
    for opt in ('--cmake', '--build', '--work', '--version', '--zip', '--scr', '--license', '--deb'):
        p.add_argument(opt)
    p.add_argument('--settings-window', action='store_true', help='the build makes quellora-settings')
    p.add_argument('--x11', nargs=argparse.REMAINDER, default=[],
                   help="tests/x11/x11_e2e.py and its arguments, for the daemon")
    args = p.parse_args()
    if args.work:
        os.makedirs(args.work, exist_ok=True)
    try:
        return CASES[args.case](args) or 0
    except Failure as e:
        print('FAILED: %s' % e)
        return 1


if __name__ == '__main__':
    sys.exit(main())
