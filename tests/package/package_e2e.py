#!/usr/bin/python3
"""Tests of the packages: the install rules.

    package_e2e.py install --cmake CMAKE --build DIR --work DIR --version V
        `cmake --install` into a prefix and into a DESTDIR: exactly the files
        of INSTALLED, nothing outside the root, the program stripped and working
"""
import argparse
import gzip
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile

HACK = 'libexec/xscreensaver/quellora'

# Every file an install puts under its prefix, and its mode.
INSTALLED = {
    HACK: 0o755,
    'share/xscreensaver/config/quellora.xml': 0o644,
    'share/applications/screensavers/quellora.desktop': 0o644,
    'share/man/man6/quellora.6x.gz': 0o644,
    'share/doc/quellora/LICENSE': 0o644,
}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(cmd, **kw):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)
    check(r.returncode == 0, '%s failed (%d):\n%s' % (' '.join(cmd), r.returncode, r.stdout))
    return r.stdout


def files_under(root):
    """{relative path: mode} of every file and link under root."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = stat.S_IMODE(os.lstat(path).st_mode)
    return found


def check_program(path, version):
    """Stripped, and it runs."""
    kind = run(['file', '-b', path])
    check('ELF' in kind and ', stripped' in kind, '%s is not stripped: %s' % (path, kind.strip()))
    sections = run(['readelf', '-S', '-W', path])
    check('.symtab' not in sections and '.debug_' not in sections, '%s has symbols or debug information' % path)
    r = subprocess.run([path, '--version'], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=20)
    check((r.returncode, r.stdout, r.stderr) == (0, 'quellora %s\n' % version, ''),
          '%s --version: exit %d, stdout %r, stderr %r' % (path, r.returncode, r.stdout, r.stderr))


def check_texts(root, prefix, version):
    """The manual page names the version and the program's place; so does the
    desktop entry."""
    with gzip.open(os.path.join(root, 'share/man/man6/quellora.6x.gz'), 'rt') as f:
        page = f.read()
    check(re.search(r'^\.TH QUELLORA 6x "[^"]*" "Quellora %s"' % re.escape(version), page, re.M),
          'the manual page header: %s' % page.splitlines()[1])
    check(os.path.join(prefix, HACK) in page, 'the manual page does not name %s' % os.path.join(prefix, HACK))
    entry = open(os.path.join(root, 'share/applications/screensavers/quellora.desktop')).read()
    for key in ('Exec=%s --root' % os.path.join(prefix, HACK), 'TryExec=%s' % os.path.join(prefix, HACK),
                'Name=Quellora', 'Categories=Screensaver;'):
        check(key + '\n' in entry, 'the desktop entry has no line %s' % key)


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
        # prefix lands in the root, the prefix the install manifest names)
        installs = [
            ('--prefix', ['--prefix', root], {}, root, root),
            ('DESTDIR', [], {'DESTDIR': root}, root + prefix, prefix),
        ]
        for name, extra, env, top, listed in installs:
            shutil.rmtree(root, ignore_errors=True)
            run([args.cmake, '--install', args.build] + extra, env=dict(os.environ, **env))
            found = files_under(root)
            expected = {os.path.relpath(os.path.join(top, rel), root): mode for rel, mode in INSTALLED.items()}
            check(set(found) == set(expected), '%s: installed %s, expected %s' % (name, sorted(found),
                                                                                sorted(expected)))
            wrong = {p: oct(m) for p, m in found.items() if m != expected[p]}
            check(not wrong, '%s: modes %s' % (name, wrong))
            # What the install says it wrote: nothing outside the root.
            manifest = set(open(os.path.join(args.build, 'install_manifest.txt')).read().split('\n')) - {''}
            check(manifest == {os.path.join(listed, rel) for rel in INSTALLED},
                  '%s: the install wrote %s' % (name, sorted(manifest)))
            check_program(os.path.join(top, HACK), args.version)
            check_texts(top, prefix, args.version)
            print('%s: %d files under %s, the program stripped and running' % (name, len(found), top))


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith('case_')}


def main():
    p = argparse.ArgumentParser()
    p.add_argument('case', choices=sorted(CASES))
    for opt in ('--cmake', '--build', '--work', '--version'):
        p.add_argument(opt)
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
