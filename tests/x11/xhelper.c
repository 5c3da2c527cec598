/* A small X client for the end-to-end tests: makes a window the way a host
 * would (and resizes or destroys it on request), grabs screen pixels, finds
 * windows by name, reads their properties and asks them to close.
 *
 *   xhelper window W H [--active] [--input-only] [--at=X,Y]
 *                                  map a W x H window (made the active one, an
 *                                  input-only one, at X,Y rather than 0,0),
 *                                  print its id, then obey stdin lines:
 *                                  "resize W H", "destroy"
 *   xhelper grab FILE.ppm [ID]     the root window (or window ID) as a PPM
 *   xhelper find NAME              the id of a mapped window named NAME
 *   xhelper info ID                "W H TRANSIENT-FOR-ID X Y" of window ID
 *   xhelper close ID               send WM_DELETE_WINDOW to window ID
 *   xhelper monitors W H X Y [W H X Y]...
 *                                  replace the screen's monitors; the last
 *                                  one given is the primary
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static Display *dpy;

static int ignore_errors(Display *d, XErrorEvent *e) {
    (void)d;
    (void)e;
    return 0;
}

static void wait_for(Window w, int type) {
    XEvent e;
    do XWindowEvent(dpy, w, StructureNotifyMask, &e);
    while (e.type != type);
}

static int cmd_window(int w, int h, int active, int input_only, int x, int y) {
    Window root = DefaultRootWindow(dpy);
    XSetWindowAttributes swa;
    memset(&swa, 0, sizeof swa);
    swa.background_pixel = 0x336699; /* a colour the saver never draws */
    swa.event_mask = StructureNotifyMask;
    Window win = input_only ? XCreateWindow(dpy, root, x, y, (unsigned)w, (unsigned)h, 0, 0, InputOnly,
                                            CopyFromParent, CWEventMask, &swa)
                            : XCreateWindow(dpy, root, x, y, (unsigned)w, (unsigned)h, 0, CopyFromParent,
                                            InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &swa);
    XStoreName(dpy, win, "xhelper host window");
    XMapWindow(dpy, win);
    wait_for(win, MapNotify);
    if (active) {
        XChangeProperty(dpy, root, XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32, PropModeReplace,
                        (unsigned char *)&win, 1);
    }
    XSync(dpy, False);
    printf("0x%lx\n", win);
    fflush(stdout);
    char line[128];
    while (fgets(line, sizeof line, stdin)) {
        int nw, nh;
        if (sscanf(line, "resize %d %d", &nw, &nh) == 2) {
            XResizeWindow(dpy, win, (unsigned)nw, (unsigned)nh);
            wait_for(win, ConfigureNotify);
        } else if (strncmp(line, "destroy", 7) == 0) {
            XDestroyWindow(dpy, win);
            wait_for(win, DestroyNotify);
        }
        XSync(dpy, False);
        printf("ok\n");
        fflush(stdout);
    }
    return 0;
}

static int cmd_grab(const char *file, Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy, w, &a)) return 1;
    XImage *img = XGetImage(dpy, w, 0, 0, (unsigned)a.width, (unsigned)a.height, AllPlanes, ZPixmap);
    if (!img) return 1;
    FILE *f = fopen(file, "wb");
    if (!f) return 1;
    fprintf(f, "P6\n%d %d\n255\n", a.width, a.height);
    unsigned char *row = malloc((size_t)a.width * 3);
    const Visual *v = a.visual;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            unsigned long p = img->bits_per_pixel == 32 && img->byte_order == LSBFirst && *(const uint8_t *)&(uint16_t){1}
                                  ? ((const uint32_t *)(img->data + (size_t)y * img->bytes_per_line))[x]
                                  : XGetPixel(img, x, y);
            unsigned long m[3] = {v->red_mask, v->green_mask, v->blue_mask};
            for (int c = 0; c < 3; ++c) {
                unsigned long mask = m[c];
                int shift = 0;
                while (mask && !((mask >> shift) & 1)) ++shift;
                unsigned long max = mask >> shift;
                row[x * 3 + c] = (unsigned char)(max ? ((p & mask) >> shift) * 255 / max : 0);
            }
        }
        fwrite(row, 3, (size_t)a.width, f);
    }
    free(row);
    fclose(f);
    XDestroyImage(img);
    return 0;
}

static Window find_named(Window w, const char *name) {
    char *wm = NULL;
    XWindowAttributes a;
    if (XGetWindowAttributes(dpy, w, &a) && a.map_state == IsViewable && XFetchName(dpy, w, &wm) && wm) {
        int same = strcmp(wm, name) == 0;
        XFree(wm);
        if (same) return w;
    }
    Window root, parent, *kids = NULL;
    unsigned int n = 0;
    Window found = 0;
    if (XQueryTree(dpy, w, &root, &parent, &kids, &n)) {
        for (unsigned int i = 0; i < n && !found; ++i) found = find_named(kids[i], name);
        if (kids) XFree(kids);
    }
    return found;
}

static int cmd_info(Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy, w, &a)) return 1;
    Window owner = 0, child;
    int x = 0, y = 0;
    XGetTransientForHint(dpy, w, &owner);
    XTranslateCoordinates(dpy, w, a.root, 0, 0, &x, &y, &child);
    printf("%d %d 0x%lx %d %d\n", a.width, a.height, owner, x, y);
    return 0;
}

static int cmd_close(Window w) {
    XEvent e;
    memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, w, False, NoEventMask, &e);
    XSync(dpy, False);
    return 0;
}

static int cmd_monitors(int argc, char **argv) {
    Window root = DefaultRootWindow(dpy);
    int n = 0;
    XRRMonitorInfo *old = XRRGetMonitors(dpy, root, False, &n);
    for (int i = 0; i < n; ++i) XRRDeleteMonitor(dpy, root, old[i].name);
    if (old) XRRFreeMonitors(old);
    for (int i = 0; i + 3 < argc; i += 4) {
        XRRMonitorInfo *m = XRRAllocateMonitor(dpy, 0);
        char name[32];
        snprintf(name, sizeof name, "TEST-%d", i / 4);
        m->name = XInternAtom(dpy, name, False);
        m->width = atoi(argv[i]);
        m->height = atoi(argv[i + 1]);
        m->x = atoi(argv[i + 2]);
        m->y = atoi(argv[i + 3]);
        m->mwidth = m->width / 4;
        m->mheight = m->height / 4;
        m->primary = i + 4 >= argc;
        XRRSetMonitor(dpy, root, m);
        XRRFreeMonitors(m);
    }
    XSync(dpy, False);
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 2 || !(dpy = XOpenDisplay(NULL))) {
        fprintf(stderr, "xhelper: needs a command and a display\n");
        return 2;
    }
    XSetErrorHandler(ignore_errors);
    const char *cmd = argv[1];
    if (!strcmp(cmd, "window") && argc >= 4) {
        int active = 0, input_only = 0, x = 0, y = 0;
        for (int i = 4; i < argc; ++i) {
            if (!strcmp(argv[i], "--active"))
                active = 1;
            else if (!strcmp(argv[i], "--input-only"))
                input_only = 1;
            else if (sscanf(argv[i], "--at=%d,%d", &x, &y) != 2)
                return 2;
        }
        return cmd_window(atoi(argv[2]), atoi(argv[3]), active, input_only, x, y);
    }
    if (!strcmp(cmd, "grab") && argc >= 3)
        return cmd_grab(argv[2], argc > 3 ? strtoul(argv[3], NULL, 0) : DefaultRootWindow(dpy));
    if (!strcmp(cmd, "find") && argc >= 3) {
        Window w = find_named(DefaultRootWindow(dpy), argv[2]);
        if (!w) return 1;
        printf("0x%lx\n", w);
        return 0;
    }
    if (!strcmp(cmd, "info") && argc >= 3) return cmd_info(strtoul(argv[2], NULL, 0));
    if (!strcmp(cmd, "close") && argc >= 3) return cmd_close(strtoul(argv[2], NULL, 0));
    if (!strcmp(cmd, "monitors") && argc >= 6) return cmd_monitors(argc - 2, argv + 2);
    fprintf(stderr, "xhelper: unknown command %s\n", cmd);
    return 2;
}
