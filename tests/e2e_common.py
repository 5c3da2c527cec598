"""What the end-to-end scripts under Xvfb and Wine (and the measuring scripts
beside them) share: failing with a message, polling, an Xvfb of their own
found with -displayfd, ending processes, their CPU time, and reading screens.

The scripts put this folder on sys.path and import it.
"""
import ctypes
import os
import select
import signal
import subprocess
import time

import numpy as np


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def poll(fn, timeout, interval=0.05):
    """fn() until it returns something other than None or False; None after
    `timeout` seconds."""
    end = time.monotonic() + timeout
    while True:
        value = fn()
        if value is not None and value is not False:
            return value
        if time.monotonic() >= end:
            return None
        time.sleep(interval)


def die_with_parent():
    """Run in a child before exec: it gets SIGKILL when the script dies, so a
    test stopped by its timeout leaves no display or program behind."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def start_xvfb(width, height, log=subprocess.DEVNULL):
    """An Xvfb of its own: (process, display name). -displayfd picks a free
    display number; -noreset keeps the server (and its monitors and pointer)
    when the last client leaves."""
    r, w = os.pipe()
    proc = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-screen', '0', '%dx%dx24' % (width, height),
                             '-nolisten', 'tcp', '-noreset'], pass_fds=[w], stdout=log, stderr=log,
                            preexec_fn=die_with_parent)
    os.close(w)
    text = b''
    end = time.monotonic() + 30
    while not text.endswith(b'\n') and time.monotonic() < end:
        if select.select([r], [], [], 1)[0]:
            chunk = os.read(r, 64)
            if not chunk:
                break
            text += chunk
    os.close(r)
    if not text.strip().isdigit():
        proc.kill()
        proc.wait()
        raise Failure('Xvfb did not start')
    return proc, ':' + text.decode().strip()


def stop(proc, sig=signal.SIGTERM):
    """Ends a process we started, by its id."""
    if proc.poll() is None:
        proc.send_signal(sig)
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def wait_end(proc, seconds):
    """Whether the process ends within `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return True
        time.sleep(0.02)
    return proc.poll() is not None


def alive_after(proc, seconds):
    time.sleep(seconds)
    return proc.poll() is None


def cpu_seconds(pid):
    """User and system time of a process so far, in seconds."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def black_mask(img):
    """True where an RGB picture is black (darker than mid grey)."""
    return img.max(axis=-1) < 128


def only_black_and_white(img):
    return bool(((img == 0) | (img == 255)).all())


SKIP = 77  # the status of a case that cannot run here


class Skip(Exception):
    """A case that cannot run here, with why."""


def run_case(make, case):
    """Makes what the case runs in (make() may give None), runs the case on
    it and closes it: the exit status, with the failure or the reason to skip
    in one line."""
    world = None
    try:
        world = make()
        case(world)
    except Skip as e:
        print('%s; skipped' % e)
        return SKIP
    except Failure as e:
        print('FAILED: %s' % e)
        return 1
    finally:
        if world is not None:
            world.close()
    return 0


def files_under(root):
    """Every file and link under root, by its path relative to root."""
    return {os.path.relpath(os.path.join(folder, name), root)
            for folder, _, names in os.walk(root) for name in names}


__all__ = ['Failure', 'check', 'poll', 'die_with_parent', 'start_xvfb', 'stop', 'wait_end', 'alive_after',
           'cpu_seconds', 'black_mask', 'only_black_and_white', 'files_under', 'np', 'SKIP', 'Skip', 'run_case']
