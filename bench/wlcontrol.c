/* The control of the compositor bench: a plain Wayland client that puts a
 * full-screen toplevel on every output and commits a new buffer of the
 * output's device size there, damaged whole, 25 times a second by the clock
 * (a buffer the compositor still holds is skipped, never waited for), and
 * counts the frames the compositor says it presented (wp_presentation).
 * What a compositor presents of it is what it can present: the saver is
 * judged against that, in the same run.
 *
 * usage: wlcontrol SECONDS     prints "OUTPUT presented N/s committed N/s" per output
 */
#define _GNU_SOURCE
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include "presentation-time-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#define MAX_OUTPUTS 8
#define BUFFERS 3

struct buffer {
    struct wl_buffer *buffer;
    uint32_t *pixels;
    int busy;
};

struct output {
    struct wl_output *output;
    char name[64];
    int width, height, scale;
    struct wl_surface *surface;
    struct xdg_surface *xdg;
    struct xdg_toplevel *toplevel;
    int configured;
    struct buffer buffers[BUFFERS];
    int made;
    long committed, presented;
};

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm;
static struct wp_presentation *presentation;
static struct zxdg_output_manager_v1 *xdg_outputs;
static struct output outputs[MAX_OUTPUTS];
static int n_outputs;
static int counting;

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static void release(void *data, struct wl_buffer *b) {
    (void)b;
    ((struct buffer *)data)->busy = 0;
}
static const struct wl_buffer_listener release_listener = {release};

static void presented(void *data, struct wp_presentation_feedback *f, uint32_t a, uint32_t b, uint32_t c, uint32_t d,
                      uint32_t e, uint32_t g, uint32_t h) {
    (void)a, (void)b, (void)c, (void)d, (void)e, (void)g, (void)h;
    if (counting) ((struct output *)data)->presented++;
    wp_presentation_feedback_destroy(f);
}
static void discarded(void *data, struct wp_presentation_feedback *f) {
    (void)data;
    wp_presentation_feedback_destroy(f);
}
static void sync_output(void *data, struct wp_presentation_feedback *f, struct wl_output *o) {
    (void)data, (void)f, (void)o;
}
static const struct wp_presentation_feedback_listener feedback_listener = {sync_output, presented, discarded};

static void geometry(void *d, struct wl_output *o, int32_t x, int32_t y, int32_t pw, int32_t ph, int32_t sp,
                     const char *make, const char *model, int32_t t) {
    (void)d, (void)o, (void)x, (void)y, (void)pw, (void)ph, (void)sp, (void)make, (void)model, (void)t;
}
static void mode(void *data, struct wl_output *o, uint32_t flags, int32_t w, int32_t h, int32_t r) {
    struct output *out = data;
    (void)o, (void)r;
    if (flags & WL_OUTPUT_MODE_CURRENT) out->width = w, out->height = h;
}
static void output_done(void *d, struct wl_output *o) { (void)d, (void)o; }
static void scale(void *data, struct wl_output *o, int32_t s) {
    (void)o;
    ((struct output *)data)->scale = s;
}
static void name(void *data, struct wl_output *o, const char *n) {
    (void)o;
    snprintf(((struct output *)data)->name, sizeof ((struct output *)data)->name, "%s", n);
}
static void description(void *d, struct wl_output *o, const char *s) { (void)d, (void)o, (void)s; }
static const struct wl_output_listener output_listener = {geometry, mode, output_done, scale, name, description};

/* An output's name from xdg-output, where wl_output gives none (Mutter's). */
static void xdg_position(void *d, struct zxdg_output_v1 *x, int32_t a, int32_t b) { (void)d, (void)x, (void)a, (void)b; }
static void xdg_size(void *d, struct zxdg_output_v1 *x, int32_t a, int32_t b) { (void)d, (void)x, (void)a, (void)b; }
static void xdg_done(void *d, struct zxdg_output_v1 *x) { (void)d, (void)x; }
static void xdg_name(void *data, struct zxdg_output_v1 *x, const char *n) {
    struct output *o = data;
    (void)x;
    if (!o->name[0]) snprintf(o->name, sizeof o->name, "%s", n);
}
static void xdg_description(void *d, struct zxdg_output_v1 *x, const char *s) { (void)d, (void)x, (void)s; }
static const struct zxdg_output_v1_listener xdg_output_listener = {xdg_position, xdg_size, xdg_done, xdg_name,
                                                                   xdg_description};

static void ping(void *d, struct xdg_wm_base *b, uint32_t serial) {
    (void)d;
    xdg_wm_base_pong(b, serial);
}
static const struct xdg_wm_base_listener wm_listener = {ping};

static void global(void *d, struct wl_registry *r, uint32_t id, const char *iface, uint32_t version) {
    (void)d;
    if (!strcmp(iface, wl_compositor_interface.name))
        compositor = wl_registry_bind(r, id, &wl_compositor_interface, 4);
    else if (!strcmp(iface, wl_shm_interface.name))
        shm = wl_registry_bind(r, id, &wl_shm_interface, 1);
    else if (!strcmp(iface, xdg_wm_base_interface.name)) {
        wm = wl_registry_bind(r, id, &xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wm, &wm_listener, NULL);
    } else if (!strcmp(iface, wp_presentation_interface.name))
        presentation = wl_registry_bind(r, id, &wp_presentation_interface, 1);
    else if (!strcmp(iface, zxdg_output_manager_v1_interface.name))
        xdg_outputs = wl_registry_bind(r, id, &zxdg_output_manager_v1_interface, 2);
    else if (!strcmp(iface, wl_output_interface.name) && n_outputs < MAX_OUTPUTS) {
        struct output *o = &outputs[n_outputs++];
        o->scale = 1;
        o->output = wl_registry_bind(r, id, &wl_output_interface, version < 4 ? version : 4);
        wl_output_add_listener(o->output, &output_listener, o);
    }
}
static void global_remove(void *d, struct wl_registry *r, uint32_t id) { (void)d, (void)r, (void)id; }
static const struct wl_registry_listener registry_listener = {global, global_remove};

static void toplevel_configure(void *d, struct xdg_toplevel *t, int32_t w, int32_t h, struct wl_array *s) {
    (void)d, (void)t, (void)w, (void)h, (void)s;
}
static void toplevel_close(void *d, struct xdg_toplevel *t) { (void)d, (void)t; }
static void toplevel_bounds(void *d, struct xdg_toplevel *t, int32_t w, int32_t h) { (void)d, (void)t, (void)w, (void)h; }
static void toplevel_caps(void *d, struct xdg_toplevel *t, struct wl_array *c) { (void)d, (void)t, (void)c; }
static const struct xdg_toplevel_listener toplevel_listener = {toplevel_configure, toplevel_close, toplevel_bounds,
                                                               toplevel_caps};

static void xdg_configure(void *data, struct xdg_surface *x, uint32_t serial) {
    xdg_surface_ack_configure(x, serial);
    ((struct output *)data)->configured = 1;
}
static const struct xdg_surface_listener xdg_listener = {xdg_configure};

static int make_buffer(struct output *o, struct buffer *b) {
    const int stride = o->width * 4;
    const size_t bytes = (size_t)stride * o->height;
    int fd = memfd_create("wlcontrol", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)bytes) < 0) return 0;
    b->pixels = mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (b->pixels == MAP_FAILED) return 0;
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, (int32_t)bytes);
    b->buffer = wl_shm_pool_create_buffer(pool, 0, o->width, o->height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(b->buffer, &release_listener, b);
    /* Each buffer another picture, every pixel of it, so that every commit
     * changes the whole surface; written once, so that the control's own
     * work takes nothing from the compositor's. */
    const uint32_t pixel = 0xff000000u | (o->made * 0x555555u);
    for (size_t i = 0; i < bytes / 4; ++i) b->pixels[i] = (i + o->made) & 1 ? pixel : 0xff000000u | ~pixel;
    return 1;
}

static void commit(struct output *o) {
    struct buffer *b = NULL;
    for (int i = 0; i < BUFFERS && !b; ++i)
        if (!o->buffers[i].busy && o->buffers[i].buffer) b = &o->buffers[i];
    if (!b && o->made < BUFFERS && make_buffer(o, &o->buffers[o->made])) b = &o->buffers[o->made++];
    if (!b) return;
    wl_surface_attach(o->surface, b->buffer, 0, 0);
    wl_surface_damage_buffer(o->surface, 0, 0, o->width, o->height);
    if (presentation)
        wp_presentation_feedback_add_listener(wp_presentation_feedback(presentation, o->surface), &feedback_listener, o);
    wl_surface_commit(o->surface);
    b->busy = 1;
    if (counting) o->committed++;
}

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? atof(argv[1]) : 10;
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fputs("wlcontrol: no Wayland compositor\n", stderr);
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (xdg_outputs)
        for (int i = 0; i < n_outputs; ++i)
            zxdg_output_v1_add_listener(zxdg_output_manager_v1_get_xdg_output(xdg_outputs, outputs[i].output),
                                        &xdg_output_listener, &outputs[i]);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !wm) {
        fputs("wlcontrol: no wl_compositor, wl_shm or xdg_wm_base\n", stderr);
        return 1;
    }
    for (int i = 0; i < n_outputs; ++i) {
        struct output *o = &outputs[i];
        o->surface = wl_compositor_create_surface(compositor);
        o->xdg = xdg_wm_base_get_xdg_surface(wm, o->surface);
        xdg_surface_add_listener(o->xdg, &xdg_listener, o);
        o->toplevel = xdg_surface_get_toplevel(o->xdg);
        xdg_toplevel_add_listener(o->toplevel, &toplevel_listener, o);
        xdg_toplevel_set_fullscreen(o->toplevel, o->output);
        wl_surface_set_buffer_scale(o->surface, o->scale);
        wl_surface_commit(o->surface);
    }
    const double warmup = 2, start = now();
    double next = start, counted_from = 0;
    for (;;) {
        const double t = now();
        if (!counting && t - start >= warmup) counting = 1, counted_from = t;
        if (counting && t - counted_from >= seconds) break;
        if (t >= next) {
            for (int i = 0; i < n_outputs; ++i)
                if (outputs[i].configured) commit(&outputs[i]);
            next += 0.04;
            if (next < t) next = t + 0.04;
        }
        wl_display_flush(display);
        struct pollfd fd = {wl_display_get_fd(display), POLLIN, 0};
        const int wait = (int)((next - now()) * 1000);
        if (poll(&fd, 1, wait > 0 ? wait : 0) > 0 && wl_display_dispatch(display) < 0) {
            fputs("wlcontrol: lost the compositor\n", stderr);
            return 1;
        }
        wl_display_dispatch_pending(display);
    }
    const double span = now() - counted_from;
    for (int i = 0; i < n_outputs; ++i)
        printf("%s presented %.1f/s committed %.1f/s\n", outputs[i].name[0] ? outputs[i].name : "?",
               outputs[i].presented / span, outputs[i].committed / span);
    return 0;
}
