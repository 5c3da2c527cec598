"""A socket in front of a Wayland compositor: the clients that connect to it
talk to the compositor through it, and it reads the wire protocol as it
passes. It can hide globals (their wl_registry.global events are dropped),
rewrite the compositor's events (a stand-in for a compositor that reports
its outputs otherwise), send a protocol error, and it keeps a log of what
matters to the saver's tests: the outputs, the surfaces and their roles,
subsurfaces and configures, the buffers made (their sizes), every attach
and commit, frame callbacks and their answers, buffer releases, the frames
the compositor says it presented, pointer enters and set_cursor. Where no
capture of the screen can be taken, the tests judge the saver from this log.

Only the messages below are decoded; every other byte passes unchanged.
"""
import os
import select
import socket
import struct
import threading
import time

# Arguments on the wire: i int, u uint, f fixed, s string, o object, n new_id
# (typed by the table), N new_id of wl_registry.bind (interface string,
# version, id), a array. File descriptors travel beside the bytes.
# (interface, opcode): (name, arguments, interface of the new_id or None)
REQUESTS = {
    ('wl_display', 0): ('sync', 'n', 'wl_callback'),
    ('wl_display', 1): ('get_registry', 'n', 'wl_registry'),
    ('wl_registry', 0): ('bind', 'uN', None),
    ('wl_compositor', 0): ('create_surface', 'n', 'wl_surface'),
    ('wl_compositor', 1): ('create_region', 'n', 'wl_region'),
    ('wl_subcompositor', 1): ('get_subsurface', 'noo', 'wl_subsurface'),
    ('wl_subsurface', 1): ('set_position', 'ii', None),
    ('wl_shm', 0): ('create_pool', 'ni', 'wl_shm_pool'),
    ('wl_shm_pool', 0): ('create_buffer', 'niiiiu', 'wl_buffer'),
    ('wl_buffer', 0): ('destroy', '', None),
    ('wl_surface', 0): ('destroy', '', None),
    ('wl_surface', 1): ('attach', 'oii', None),
    ('wl_surface', 2): ('damage', 'iiii', None),
    ('wl_surface', 3): ('frame', 'n', 'wl_callback'),
    ('wl_surface', 6): ('commit', '', None),
    ('wl_surface', 8): ('set_buffer_scale', 'i', None),
    ('wl_surface', 9): ('damage_buffer', 'iiii', None),
    ('wl_seat', 0): ('get_pointer', 'n', 'wl_pointer'),
    ('wl_seat', 1): ('get_keyboard', 'n', 'wl_keyboard'),
    ('wl_pointer', 0): ('set_cursor', 'uoii', None),
    ('xdg_wm_base', 2): ('get_xdg_surface', 'no', 'xdg_surface'),
    ('xdg_surface', 1): ('get_toplevel', 'n', 'xdg_toplevel'),
    ('xdg_surface', 4): ('ack_configure', 'u', None),
    ('xdg_toplevel', 11): ('set_fullscreen', 'o', None),
    ('zwlr_layer_shell_v1', 0): ('get_layer_surface', 'noous', 'zwlr_layer_surface_v1'),
    ('zwlr_layer_surface_v1', 4): ('set_keyboard_interactivity', 'u', None),
    ('wp_viewporter', 1): ('get_viewport', 'no', 'wp_viewport'),
    ('wp_viewport', 1): ('set_source', 'ffff', None),
    ('wp_viewport', 2): ('set_destination', 'ii', None),
    ('wp_presentation', 1): ('feedback', 'on', 'wp_presentation_feedback'),
    ('zxdg_output_manager_v1', 1): ('get_xdg_output', 'no', 'zxdg_output_v1'),
    ('wp_fractional_scale_manager_v1', 1): ('get_fractional_scale', 'no', 'wp_fractional_scale_v1'),
    ('zwlr_output_power_manager_v1', 0): ('get_output_power', 'no', 'zwlr_output_power_v1'),
}
EVENTS = {
    ('wl_display', 0): ('error', 'ous'),
    ('wl_display', 1): ('delete_id', 'u'),
    ('wl_registry', 0): ('global', 'usu'),
    ('wl_buffer', 0): ('release', ''),
    ('wl_callback', 0): ('done', 'u'),
    ('wp_presentation_feedback', 1): ('presented', 'uuuuuuu'),
    ('wp_presentation_feedback', 2): ('discarded', ''),
    ('wl_output', 0): ('geometry', 'iiiiissi'),
    ('wl_output', 1): ('mode', 'uiii'),
    ('wl_output', 2): ('done', ''),
    ('wl_output', 3): ('scale', 'i'),
    ('wl_output', 4): ('name', 's'),
    ('wl_surface', 0): ('enter', 'o'),
    ('wl_surface', 1): ('leave', 'o'),
    ('wl_pointer', 0): ('enter', 'uoff'),
    ('wl_pointer', 1): ('leave', 'uo'),
    ('wl_keyboard', 1): ('enter', 'uoa'),
    ('xdg_surface', 0): ('configure', 'u'),
    ('xdg_toplevel', 0): ('configure', 'iia'),
    ('xdg_toplevel', 1): ('close', ''),
    ('zwlr_layer_surface_v1', 0): ('configure', 'uuu'),
    ('zwlr_layer_surface_v1', 1): ('closed', ''),
    ('zxdg_output_v1', 0): ('logical_position', 'ii'),
    ('zxdg_output_v1', 1): ('logical_size', 'ii'),
    ('zxdg_output_v1', 3): ('name', 's'),
    ('wp_fractional_scale_v1', 0): ('preferred_scale', 'u'),
    ('wl_seat', 0): ('capabilities', 'u'),
    ('zwlr_output_power_v1', 0): ('mode', 'u'),
}


def decode(sig, msg):
    """The arguments of one message after its 8-byte header."""
    args, at = [], 8
    for kind in sig:
        if kind in 'iuonf':
            v = struct.unpack_from('<i' if kind in 'if' else '<I', msg, at)[0]
            args.append(v / 256.0 if kind == 'f' else v)
            at += 4
        elif kind in 'sa':
            length = struct.unpack_from('<I', msg, at)[0]
            raw = msg[at + 4:at + 4 + length]
            args.append(raw[:-1].decode(errors='replace') if kind == 's' else raw)
            at += 4 + (length + 3) // 4 * 4
        elif kind == 'N':  # interface, version, id
            length = struct.unpack_from('<I', msg, at)[0]
            iface = msg[at + 4:at + 4 + length - 1].decode(errors='replace')
            at += 4 + (length + 3) // 4 * 4
            version, new = struct.unpack_from('<II', msg, at)
            args += [iface, version, new]
            at += 8
    return args


class Connection:
    """One client's objects and what happened to them, in order: a list of
    (time, interface, object id, message name, arguments, 'req' or 'ev')."""

    def __init__(self):
        self.objects = {1: 'wl_display'}
        self.log = []
        self.lock = threading.Lock()

    def request(self, msg):
        obj, word = struct.unpack_from('<II', msg)
        iface = self.objects.get(obj)
        entry = REQUESTS.get((iface, word & 0xffff))
        if not entry:
            return
        name, sig, new_iface = entry
        args = decode(sig, msg)
        if name == 'bind':
            self.objects[args[3]] = args[1]
        elif new_iface:
            self.objects[args[sig.index('n')]] = new_iface
        with self.lock:
            self.log.append((time.monotonic(), iface, obj, name, args, 'req'))

    def event(self, msg):
        obj, word = struct.unpack_from('<II', msg)
        iface = self.objects.get(obj)
        entry = EVENTS.get((iface, word & 0xffff))
        if not entry:
            return
        name, sig = entry
        with self.lock:
            self.log.append((time.monotonic(), iface, obj, name, decode(sig, msg), 'ev'))

    def entries(self):
        with self.lock:
            return list(self.log)


class WireProxy:
    """The socket `name` in `runtime`, in front of the compositor's socket
    `upstream` (a path); `owner`: the (uid, gid) the socket is given;
    `hide`: the globals its clients never see; `rewrite(interface, name,
    message)`: an event as its clients get it (the same length), or None
    where they get none."""

    def __init__(self, runtime, upstream, name, owner=None, hide=(), rewrite=None):
        self.upstream, self.hide, self.rewrite = upstream, set(hide), rewrite
        self.name = name
        self.path = os.path.join(runtime, name)
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(self.path)
        os.chmod(self.path, 0o777)
        if owner:
            os.chown(self.path, *owner)
        self.listener.listen(4)
        self.clients = []
        self.connections = []  # in the order of self.clients
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            server.connect(self.upstream)
            conn = Connection()
            self.clients.append(client)
            self.connections.append(conn)
            threading.Thread(target=self.pump, args=(client, server, conn), daemon=True).start()

    def pump(self, client, server, conn):
        registries = set()
        pending = {client: b'', server: b''}
        while True:
            ready, _, _ = select.select([client, server], [], [])
            for src in ready:
                dst = server if src is client else client
                try:
                    data, anc, _, _ = src.recvmsg(65536, socket.CMSG_SPACE(28 * 4))
                except OSError:
                    data = b''
                if not data:
                    client.close()
                    server.close()
                    return
                fds = []
                for level, kind, payload in anc:
                    if level == socket.SOL_SOCKET and kind == socket.SCM_RIGHTS:
                        fds += list(struct.unpack('%di' % (len(payload) // 4), payload[:len(payload) // 4 * 4]))
                buf = pending[src] + data
                out = b''
                while len(buf) >= 8:
                    obj, word = struct.unpack_from('<II', buf)
                    size, opcode = word >> 16, word & 0xffff
                    if len(buf) < size:
                        break
                    msg, buf = buf[:size], buf[size:]
                    if src is client and obj == 1 and opcode == 1:  # wl_display.get_registry
                        registries.add(struct.unpack_from('<I', msg, 8)[0])
                    if src is server and obj in registries and opcode == 0:  # wl_registry.global
                        length = struct.unpack_from('<I', msg, 12)[0]
                        if msg[16:16 + length - 1].decode() in self.hide:
                            continue
                    if src is server and self.rewrite:
                        entry = EVENTS.get((conn.objects.get(obj), opcode))
                        if entry:
                            msg = self.rewrite(conn.objects.get(obj), entry[0], msg)
                            if msg is None:  # dropped
                                continue
                    try:
                        (conn.request if src is client else conn.event)(msg)
                    except struct.error:
                        pass
                    out += msg
                pending[src] = buf
                # Any descriptors go with the first bytes passed on, never after their message.
                with self.lock:
                    try:
                        dst.sendmsg([out], [(socket.SOL_SOCKET, socket.SCM_RIGHTS,
                                             struct.pack('%di' % len(fds), *fds))] if fds else [])
                    except OSError:
                        pass
                for fd in fds:
                    os.close(fd)

    def send_event(self, conn, obj, opcode, body):
        """Sends the client of `conn` an event of the compositor's: `body`,
        the arguments on the wire, on object `obj`."""
        with self.lock:
            client = self.clients[self.connections.index(conn)]
            msg = struct.pack('<II', obj, (8 + len(body)) << 16 | opcode) + body
            conn.event(msg)
            client.sendall(msg)

    def protocol_error(self, code, text):
        """Sends every client the compositor's wl_display.error on wl_display."""
        raw = text.encode() + b'\0'
        raw += b'\0' * (-len(raw) % 4)
        body = struct.pack('<III', 1, code, len(text) + 1) + raw
        with self.lock:
            for c in self.clients:
                c.sendall(struct.pack('<II', 1, (8 + len(body)) << 16) + body)

    def close(self):
        self.listener.close()
        os.unlink(self.path)

    # --- what the log says ----------------------------------------------------

    def saver(self):
        """The connection that made surfaces (the saver's; the last one's
        when several did), or None."""
        for c in reversed(self.connections):
            if any(e[3] == 'create_surface' for e in c.entries()):
                return c
        return None


class Summary:
    """A connection's log read as outputs and surfaces."""

    def __init__(self, conn):
        self.outputs = {}    # wl_output id -> {'name', 'mode', 'scale'}
        self.surfaces = {}   # wl_surface id -> {'role', 'output', 'configures', 'commits', 'entered', ...}
        self.buffers = {}    # wl_buffer id -> (width, height) (the latest made with that id)
        self.see_through = set()  # wl_buffer ids made with an alpha channel (ARGB8888)
        self.cursor = []     # (time, surface id or 0) of every set_cursor
        self.pointer_enters = []  # (time, surface id)
        self.releases = []   # (time, buffer id)
        self.unmade = []     # (time, buffer id) of every wl_buffer.destroy
        self.keyboard_interactivity = []
        roles = {}           # role object id -> surface id
        callbacks = {}       # wl_callback id of a frame -> surface id
        feedbacks = {}       # wp_presentation_feedback id -> surface id
        attached = {}        # surface id -> (buffer id, size) pending until commit
        outputs_by_xdg = {}
        for t, iface, obj, name, args, way in (conn.entries() if conn else []):
            if iface == 'wl_registry' and name == 'bind' and args[1] == 'wl_output':
                self.outputs[args[3]] = {'name': None, 'mode': None, 'scale': 1}
            elif iface == 'wl_output' and obj in self.outputs:
                if name == 'mode' and args[0] & 1:  # the current mode
                    self.outputs[obj]['mode'] = (args[1], args[2])
                elif name == 'scale':
                    self.outputs[obj]['scale'] = args[0]
                elif name == 'name':
                    self.outputs[obj]['name'] = args[0]
            elif name == 'get_xdg_output':
                outputs_by_xdg[args[0]] = args[1]
            elif iface == 'zxdg_output_v1' and name == 'name' and outputs_by_xdg.get(obj) in self.outputs:
                self.outputs[outputs_by_xdg[obj]]['name'] = self.outputs[outputs_by_xdg[obj]]['name'] or args[0]
            elif name == 'create_surface':
                self.surfaces[args[0]] = {'role': None, 'output': None, 'configures': [], 'commits': [],
                                          'entered': [], 'destination': None, 'source': None, 'made': t,
                                          'children': [], 'position': None, 'frames': [], 'done': [],
                                          'presented': []}
            elif name == 'create_buffer':
                self.buffers[args[0]] = (args[2], args[3])
                if args[5] == 0:  # WL_SHM_FORMAT_ARGB8888: the transparent placeholder
                    self.see_through.add(args[0])
                else:
                    self.see_through.discard(args[0])
            elif name == 'get_layer_surface' and args[1] in self.surfaces:
                roles[args[0]] = args[1]
                self.surfaces[args[1]].update(role='layer', output=args[2])
            elif name == 'get_subsurface' and args[1] in self.surfaces:
                roles[args[0]] = args[1]
                self.surfaces[args[1]].update(role='subsurface', parent=args[2])
                if args[2] in self.surfaces:
                    self.surfaces[args[2]]['children'].append(args[1])
            elif name == 'set_position' and obj in roles:
                self.surfaces[roles[obj]]['position'] = (args[0], args[1])
            elif name == 'get_xdg_surface' and args[1] in self.surfaces:
                roles[args[0]] = args[1]
                self.surfaces[args[1]]['role'] = 'xdg'
            elif name == 'get_toplevel' and obj in roles:
                roles[args[0]] = roles[obj]
                self.surfaces[roles[obj]]['role'] = 'toplevel'
            elif name == 'set_fullscreen' and obj in roles:
                self.surfaces[roles[obj]]['output'] = args[0]
            elif name == 'get_viewport' and args[1] in self.surfaces:
                roles[args[0]] = args[1]
            elif name == 'set_destination' and obj in roles:
                self.surfaces[roles[obj]]['destination'] = (args[0], args[1])
            elif name == 'set_source' and obj in roles:
                self.surfaces[roles[obj]]['source'] = None if args[0] == -1 else tuple(args)
            elif name == 'frame' and iface == 'wl_surface' and obj in self.surfaces:
                callbacks[args[0]] = obj
                self.surfaces[obj]['frames'].append(t)
            elif iface == 'wl_callback' and name == 'done' and callbacks.get(obj) in self.surfaces:
                self.surfaces[callbacks.pop(obj)]['done'].append(t)
            elif name == 'feedback' and args[0] in self.surfaces:
                feedbacks[args[1]] = args[0]
            elif iface == 'wp_presentation_feedback' and name == 'presented' and feedbacks.get(obj) in self.surfaces:
                self.surfaces[feedbacks.pop(obj)]['presented'].append(t)
            elif name == 'configure' and iface in ('xdg_toplevel', 'zwlr_layer_surface_v1') and obj in roles:
                size = (args[0], args[1]) if iface == 'xdg_toplevel' else (args[1], args[2])
                self.surfaces[roles[obj]]['configures'].append((t, size))
            elif name == 'set_keyboard_interactivity':
                self.keyboard_interactivity.append(args[0])
            elif iface == 'wl_surface' and obj in self.surfaces:
                s = self.surfaces[obj]
                if name == 'attach':
                    attached[obj] = (args[0], self.buffers.get(args[0]))
                elif name == 'commit' and obj in attached:
                    buffer, size = attached.pop(obj)
                    s['commits'].append((t, buffer, size))
                elif name == 'enter':
                    s['entered'].append(args[0])
            elif iface == 'wl_buffer' and name == 'release':
                self.releases.append((t, obj))
            elif iface == 'wl_buffer' and name == 'destroy':
                self.unmade.append((t, obj))
            elif iface == 'wl_pointer' and name == 'enter':
                self.pointer_enters.append((t, args[1]))
            elif iface == 'wl_pointer' and name == 'set_cursor':
                self.cursor.append((t, args[1]))

    def output_name(self, oid):
        o = self.outputs.get(oid)
        return o and o['name']

    def shown(self):
        """The surfaces showing a picture, each as (surface id, its output's
        name or None, the last buffer's size, the last configure's size); a
        subsurface is part of its parent's picture, not one of its own, and a
        transparent placeholder is no picture."""
        return [(sid, self.output_name(s['output'] or (s['entered'][-1] if s['entered'] else None)),
                 s['commits'][-1][2], s['configures'][-1][1] if s['configures'] else None)
                for sid, s in sorted(self.surfaces.items())
                if s['commits'] and s['commits'][-1][1] and s['commits'][-1][1] not in self.see_through and
                s['role'] != 'subsurface']

    def tree(self, sid):
        """A surface and its subsurfaces that show something (not the
        transparent placeholder or marker)."""
        return [t for t in [sid] + self.surfaces[sid]['children']
                if t in self.surfaces and self.surfaces[t]['commits'] and self.surfaces[t]['commits'][-1][1] and
                self.surfaces[t]['commits'][-1][1] not in self.see_through]

    def picture(self, sid):
        """The surface that carries a surface's frames: of it and its
        subsurfaces (its tiles), the one committed most."""
        return max(self.tree(sid) or [sid], key=lambda t: len(self.surfaces[t]['commits']))

    def stretched(self, sid):
        """Whether a surface shows a buffer smaller than itself stretched
        over it (a black tile)."""
        s = self.surfaces[sid]
        return bool(s['commits'] and s['commits'][-1][2] and s['source'] and s['destination'] and
                    s['commits'][-1][2][0] < s['destination'][0])

    def presented_per_second(self, sid, since, until):
        """The frames the compositor says it presented of a surface, per
        second between two times (wp_presentation); None where it gave none."""
        s = self.surfaces[sid]
        if not s['presented']:
            return None
        return sum(1 for t in s['presented'] if since <= t <= until) / (until - since)

    def pacing(self, sid, since, until, interval=0.04):
        """How a surface's commits followed its frame callbacks between two
        times: (commits of a buffer while an earlier commit's frame callback
        was still unanswered, seconds during which the saver could commit
        nothing: a frame callback or all three buffers outstanding for longer
        than one frame `interval`, and for each answer, the seconds until the
        next commit of a buffer)."""
        s = self.surfaces[sid]
        events = sorted([(t, 0) for t in s['frames']] + [(t, 1) for t in s['done']] +
                        [(t, 2) for t, b, _ in s['commits'] if b])
        early, outstanding, asked_now, waited_from, stalled = 0, 0, False, None, 0.0
        gaps, answered = [], None
        for t, kind in events:
            if kind == 0:
                outstanding += 1
                asked_now = True  # the frame of the commit that follows
            elif kind == 1:
                outstanding = max(0, outstanding - 1)
                if outstanding == 0 and waited_from is not None:
                    stalled += max(0.0, min(t, until) - max(waited_from, since) - interval)
                    waited_from = None
                if outstanding == 0 and since <= t <= until:
                    answered = t
            else:
                if outstanding - (1 if asked_now else 0) > 0 and since <= t <= until:
                    early += 1
                asked_now = False
                if answered is not None:
                    gaps.append(t - answered)
                    answered = None
                if outstanding and waited_from is None:
                    waited_from = t
        if waited_from is not None:
            stalled += max(0.0, until - max(waited_from, since) - interval)
        if answered is not None:
            gaps.append(until - answered)
        return early, stalled + self.holds(sid, since, until)[0], gaps

    def buffers_per_second(self, sid, since, until):
        """Commits of a new buffer on a surface per second between two times."""
        n = sum(1 for t, b, _ in self.surfaces[sid]['commits'] if b and since <= t <= until)
        return n / (until - since)

    def waits(self, sid):
        """The times a surface waited on its frame callbacks: (asked, answered
        or None)."""
        s = self.surfaces[sid]
        done = sorted(s['done'])
        out = []
        for f in sorted(s['frames']):
            answer = next((d for d in done if d >= f), None)
            out.append((f, answer))
            if answer is not None:
                done.remove(answer)
        return out

    def holds(self, sid, since, until, most_buffers=3):
        """How the compositor held a surface's buffers between two times:
        (seconds during which it held `most_buffers` of them, the most it held
        at once, the longest it held every buffer the surface had while
        there were fewer than `most_buffers` and no frame callback was
        unanswered: a paced saver has nothing to commit meanwhile)."""
        mine = {b for _, b, _ in self.surfaces[sid]['commits'] if b}
        events = sorted([(t, 2, b) for t, b, _ in self.surfaces[sid]['commits'] if b] +
                        [(t, 1, b) for t, b in self.releases if b in mine] +
                        [(t, 0, b) for t, b in self.unmade if b in mine] +
                        [(t, 3, +1) for t, _ in self.waits(sid)] +
                        [(t, 3, -1) for _, t in self.waits(sid) if t is not None])
        waiting = 0
        held, made = set(), set()
        full, most, starved, since_all = 0.0, 0, 0.0, None
        last = since
        for t, kind, b in events + [(until, -1, None)]:
            if len(held) >= most_buffers:
                full += max(0.0, min(t, until) - max(last, since))
            last = t
            if kind == 3:
                waiting += b
            elif kind == 2:
                held.add(b)
                made.add(b)
            elif kind == 1:
                held.discard(b)
            elif kind == 0:
                held.discard(b)
                made.discard(b)
            if since <= t <= until:
                most = max(most, len(held))
            every = bool(made) and held == made and len(made) < most_buffers and waiting <= 0
            if every and since_all is None:
                since_all = t
            elif not every and since_all is not None:
                if t >= since:
                    starved = max(starved, min(t, until) - max(since_all, since))
                since_all = None
        return full, most, starved

    def hold_times(self):
        """How long the compositor held each buffer: commit to release, in s."""
        out, held = [], {}
        events = sorted([(t, 'c', b) for s in self.surfaces.values() for t, b, _ in s['commits'] if b] +
                        [(t, 'r', b) for t, b in self.releases])
        for t, kind, b in events:
            if kind == 'c':
                held.setdefault(b, t)
            elif b in held:
                out.append(t - held.pop(b))
        return out
