#!/usr/bin/python3
"""Checks platform/x11/quellora.xml, the hack's description for XScreenSaver's
settings: the shape XScreenSaver's schema for these files asks for (the root
element and its attributes, the command, the Settings pane's components with
their labels, ids and arguments, the description last), that the picture
size offers every --scale and says what its default means, and that quellora
takes every option the pane can pass, alone and together.

usage: hack_xml.py QUELLORA_XML QUELLORA_BIN
"""
import itertools
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

ARGUMENT = re.compile(r'^-[a-zA-Z0-9 .,;:+_$#%?/\\-]*$')  # an option as the schema has it
ID = re.compile(r'^[A-Za-z_][A-Za-z0-9._-]*$')           # an XML ID
COMPONENTS = {'boolean', 'number', 'select', 'string', 'file', 'hgroup', 'vgroup'}


def fail(message):
    print('FAILED: ' + message)
    sys.exit(1)


def check_shape(root):
    """The options of each component, as lists of argument strings."""
    if root.tag != 'screensaver' or not root.get('name') or not root.get('_label'):
        fail('the root must be <screensaver name=... _label=...>')
    children = list(root)
    if not children or children[-1].tag != '_description':
        fail('<_description> must come last')
    if len(children[-1].text or '') > 3000:
        fail('<_description> is longer than 3000 characters')
    ids = []
    choices = []  # per component: the argument strings it can add ('' for none)
    seen_component = False
    for child in children[:-1]:
        if child.tag in ('command', 'fullcommand'):
            if seen_component:
                fail('<%s> after the components' % child.tag)
            if not ARGUMENT.match(child.get('arg', '')) or len(child.get('arg')) < 2:
                fail('<%s arg=%r> is no option' % (child.tag, child.get('arg')))
            continue
        if child.tag not in COMPONENTS:
            fail('<%s> is no component of the Settings pane' % child.tag)
        seen_component = True
        if child.get('id'):
            ids.append(child.get('id'))
        if child.tag == 'boolean':
            args = [a for a in (child.get('arg-set'), child.get('arg-unset')) if a]
            if not child.get('_label') or len(args) != 1 or not ARGUMENT.match(args[0]):
                fail('<boolean> needs a _label and exactly one arg-set or arg-unset option')
            choices.append(['', args[0]])
        elif child.tag == 'select':
            options = list(child)
            if not options or any(o.tag != 'option' or not o.get('_label') for o in options):
                fail('<select> holds <option _label=...> elements only')
            if sum(1 for o in options if o.get('arg-set') is None) > 1:
                fail('<select> may have one option without arg-set, no more')
            for o in options:
                if o.get('id'):
                    ids.append(o.get('id'))
                if o.get('arg-set') is not None and not ARGUMENT.match(o.get('arg-set')):
                    fail('<option arg-set=%r> is no option' % o.get('arg-set'))
            choices.append([o.get('arg-set') or '' for o in options])
        else:
            fail('<%s>: quellora.xml uses no such component, so this check does not know it' % child.tag)
    for i in ids:
        if not ID.match(i):
            fail('id %r is no XML ID' % i)
    if len(set(ids)) != len(ids):
        fail('ids repeat: %s' % ids)
    return [c.get('arg') for c in children if c.tag == 'command'], choices


def check_options(binary, commands, choices):
    """quellora takes every combination the pane can pass: it gets as far as
    opening the (missing) display instead of refusing an option."""
    combinations = 0
    for picked in itertools.product(*choices):
        args = sum((a.split() for a in commands + list(picked) if a), [])
        r = subprocess.run([binary] + args + ['--display', ':quellora-no-such-display'], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True, timeout=20)
        if r.returncode != 1 or 'cannot open display' not in r.stderr:
            fail('quellora %s: %r' % (' '.join(args), r.stderr.strip()))
        combinations += 1
    return combinations


def check_scale(root):
    """The picture size offers every size --scale takes, and its choice
    without an option says what that means: the settings file's Scale."""
    select = root.find("select[@id='scale']")
    if select is None:
        fail('no <select id="scale">')
    args = [o.get('arg-set') for o in select]
    want = ['--scale auto'] + ['--scale %d' % n for n in range(1, 9)]
    if sorted(a for a in args if a) != sorted(want):
        fail('the picture sizes pass %s, not %s' % (args, want))
    default = [o.get('_label') for o in select if o.get('arg-set') is None]
    if default != ['Picture size: as the settings file says']:
        fail('the choice without --scale reads %r' % default)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    root = ET.parse(sys.argv[1]).getroot()
    commands, choices = check_shape(root)
    check_scale(root)
    n = check_options(sys.argv[2], commands, choices)
    print('quellora.xml: %d components; quellora takes all %d combinations of their options' % (len(choices), n))
    return 0


if __name__ == '__main__':
    sys.exit(main())
