#!/usr/bin/env python3
"""The settings window while its preview runs: frames a second of the
preview (its own count, QUELLORA_FRAME_LOG), the CPU share of the window and
of the X server (of one core, from /proc/PID/stat), and the window's memory
(VmRSS at the end, VmHWM its peak). The window runs at its default size on
an Xvfb of its own, in a D-Bus session of its own with the accessibility bus
(as on a desktop), once with the renderer it picks itself (GTK's cairo
renderer) and once with GTK's GL renderer (GSK_RENDERER=gl: Mesa's software
rasteriser here, with no GPU), one after the other.

usage: bench/settings_window_cpu.py [--seconds 20] [--warmup 5] [--screen 1280x1024]
                                    [--settings build/native/quellora-settings]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests'))
from e2e_common import cpu_seconds, start_xvfb, stop  # noqa: E402


def frames(path):
    text = open(path).read().split()
    return (int(text[0]), int(text[1])) if len(text) == 2 else (0, 0)


def memory(pid):
    values = {}
    for line in open('/proc/%d/status' % pid):
        if line.startswith(('VmRSS:', 'VmHWM:')):
            values[line.split(':')[0]] = int(line.split()[1]) / 1024
    return values


def measure(args, renderer, work):
    w, h = (int(v) for v in args.screen.split('x'))
    xvfb, display = start_xvfb(w, h)
    bus_dir = os.path.join(work, 'bus-' + (renderer or 'own'))
    os.makedirs(os.path.join(bus_dir, 'services'))
    shutil.copy('/usr/share/dbus-1/services/org.a11y.Bus.service', os.path.join(bus_dir, 'services'))
    with open(os.path.join(bus_dir, 'session.conf'), 'w') as f:
        f.write('<busconfig><type>session</type><listen>unix:dir=%s</listen><servicedir>%s</servicedir>'
                '<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>'
                '<allow own="*"/></policy></busconfig>\n' % (bus_dir, os.path.join(bus_dir, 'services')))
    bus = subprocess.Popen(['dbus-daemon', '--config-file=' + os.path.join(bus_dir, 'session.conf'), '--nofork',
                            '--print-address=1'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    log = os.path.join(work, 'frames-' + (renderer or 'own'))
    open(log, 'w').close()
    config = os.path.join(work, 'config-' + (renderer or 'own'))
    env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip(),
               XDG_CONFIG_HOME=config, QUELLORA_FRAME_LOG=log)
    for name in ('WAYLAND_DISPLAY', 'WAYLAND_SOCKET', 'GSK_RENDERER'):
        env.pop(name, None)
    if renderer:
        env['GSK_RENDERER'] = renderer
    window = subprocess.Popen([args.settings], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(args.warmup)
        f0, t0 = frames(log)
        c0, x0, w0 = cpu_seconds(window.pid), cpu_seconds(xvfb.pid), time.monotonic()
        time.sleep(args.seconds)
        f1, t1 = frames(log)
        c1, x1, w1 = cpu_seconds(window.pid), cpu_seconds(xvfb.pid), time.monotonic()
        mem = memory(window.pid)
    finally:
        stop(window)
        stop(bus)
        stop(xvfb)
    wall = w1 - w0
    fps = (f1 - f0) * 1000.0 / (t1 - t0) if t1 > t0 else 0.0
    print('%-28s %6.1f fps   window %5.1f %% of a core   X server %5.1f %%   RSS %5.1f MiB (peak %5.1f)' % (
        renderer and 'GSK_RENDERER=' + renderer or 'its own choice (cairo)', fps, 100 * (c1 - c0) / wall,
        100 * (x1 - x0) / wall, mem.get('VmRSS', 0), mem.get('VmHWM', 0)))


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--seconds', type=float, default=20)
    p.add_argument('--warmup', type=float, default=5)
    p.add_argument('--screen', default='1280x1024')
    p.add_argument('--settings', default=os.path.join(HERE, '..', 'build', 'native', 'quellora-settings'))
    args = p.parse_args()
    print('quellora-settings at its default size on a %s Xvfb, %g s after %g s of warm-up:' % (
        args.screen, args.seconds, args.warmup))
    with tempfile.TemporaryDirectory(prefix='quellora-settings-bench-') as work:
        for renderer in (None, 'gl'):
            measure(args, renderer, work)


if __name__ == '__main__':
    main()
