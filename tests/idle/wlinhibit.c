/* A test client that plays a video player: a 320 x 240 grey window (an
 * xdg_toplevel, so sway tiles it on the visible workspace) holding a
 * zwp_idle_inhibitor_v1 on its surface. It prints "ready" once the
 * compositor has shown the surface with the inhibitor, then keeps both until
 * stdin closes.
 */
#define _GNU_SOURCE
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

enum { W = 320, H = 240 };

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm_base;
static struct zwp_idle_inhibit_manager_v1 *inhibit_manager;
static int configured;

static void global(void *data, struct wl_registry *r, uint32_t name, const char *iface, uint32_t version) {
    (void)data;
    (void)version;
    if (!strcmp(iface, wl_compositor_interface.name))
        compositor = wl_registry_bind(r, name, &wl_compositor_interface, 1);
    else if (!strcmp(iface, wl_shm_interface.name))
        shm = wl_registry_bind(r, name, &wl_shm_interface, 1);
    else if (!strcmp(iface, xdg_wm_base_interface.name))
        wm_base = wl_registry_bind(r, name, &xdg_wm_base_interface, 1);
    else if (!strcmp(iface, zwp_idle_inhibit_manager_v1_interface.name))
        inhibit_manager = wl_registry_bind(r, name, &zwp_idle_inhibit_manager_v1_interface, 1);
}
static void global_remove(void *data, struct wl_registry *r, uint32_t name) {
    (void)data;
    (void)r;
    (void)name;
}
static const struct wl_registry_listener registry_listener = {global, global_remove};

static void ping(void *data, struct xdg_wm_base *base, uint32_t serial) {
    (void)data;
    xdg_wm_base_pong(base, serial);
}
static const struct xdg_wm_base_listener wm_base_listener = {ping};

static void surface_configure(void *data, struct xdg_surface *surface, uint32_t serial) {
    (void)data;
    xdg_surface_ack_configure(surface, serial);
    configured = 1;
}
static const struct xdg_surface_listener surface_listener = {surface_configure};

static void toplevel_configure(void *data, struct xdg_toplevel *t, int32_t w, int32_t h, struct wl_array *states) {
    (void)data, (void)t, (void)w, (void)h, (void)states;
}
static void toplevel_close(void *data, struct xdg_toplevel *t) {
    (void)data, (void)t;
}
static void toplevel_bounds(void *data, struct xdg_toplevel *t, int32_t w, int32_t h) {
    (void)data, (void)t, (void)w, (void)h;
}
static void toplevel_capabilities(void *data, struct xdg_toplevel *t, struct wl_array *caps) {
    (void)data, (void)t, (void)caps;
}
static const struct xdg_toplevel_listener toplevel_listener = {toplevel_configure, toplevel_close, toplevel_bounds,
                                                               toplevel_capabilities};

static struct wl_buffer *grey_buffer(void) {
    const int stride = W * 4, size = stride * H;
    int fd = memfd_create("wlinhibit", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) return NULL;
    void *pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) return NULL;
    memset(pixels, 0x60, size);
    munmap(pixels, size);
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, size);
    struct wl_buffer *buffer = wl_shm_pool_create_buffer(pool, 0, W, H, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

int main(void) {
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "wlinhibit: no compositor\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !wm_base || !inhibit_manager) {
        fprintf(stderr, "wlinhibit: the compositor lacks a global it needs\n");
        return 1;
    }
    xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    struct wl_surface *surface = wl_compositor_create_surface(compositor);
    struct xdg_surface *xsurface = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(xsurface, &surface_listener, NULL);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(xsurface);
    xdg_toplevel_add_listener(toplevel, &toplevel_listener, NULL);
    xdg_toplevel_set_title(toplevel, "wlinhibit");
    wl_surface_commit(surface);
    while (!configured && wl_display_dispatch(display) >= 0) {
    }
    struct wl_buffer *buffer = grey_buffer();
    if (!buffer) {
        fprintf(stderr, "wlinhibit: no buffer\n");
        return 1;
    }
    struct zwp_idle_inhibitor_v1 *inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(inhibit_manager, surface);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, W, H);
    wl_surface_commit(surface);
    wl_display_roundtrip(display);
    printf("ready\n");
    fflush(stdout);
    /* Answers the compositor's pings until stdin closes. */
    struct pollfd fds[2] = {{0, POLLIN, 0}, {wl_display_get_fd(display), POLLIN, 0}};
    for (;;) {
        wl_display_flush(display);
        if (poll(fds, 2, -1) < 0) break;
        if (fds[0].revents) {
            char buf[64];
            if (read(0, buf, sizeof buf) <= 0) break;
        }
        if (fds[1].revents && wl_display_dispatch(display) < 0) break;
    }
    zwp_idle_inhibitor_v1_destroy(inhibitor);
    xdg_toplevel_destroy(toplevel);
    xdg_surface_destroy(xsurface);
    wl_surface_destroy(surface);
    wl_display_disconnect(display);
    return 0;
}
