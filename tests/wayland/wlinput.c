/* A test client that types and moves the pointer on a Wayland compositor
 * through a virtual keyboard and a virtual pointer, both made at its start
 * (so the first key is never lost), or where those are missing (KWin) through
 * KWin's fake input, then does what each line of stdin says
 * and answers "ok" once the compositor has it:
 *   key NAME          press and release the key of the keysym NAME (Escape, a, space)
 *   down NAME, up NAME   press or release it alone
 *   motion DX DY      move the pointer by DX, DY (logical pixels)
 *   to X Y W H        put the pointer at (X, Y) of the W x H box of every output
 *                     (fake input: at (X, Y) of the layout, in logical pixels)
 *   button left|right|middle   press and release a button
 */
#define _GNU_SOURCE
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "fake-input-client-protocol.h"

static struct wl_seat *seat;
static struct zwp_virtual_keyboard_manager_v1 *keyboards;
static struct zwlr_virtual_pointer_manager_v1 *pointers;
static struct org_kde_kwin_fake_input *fake;

static void global(void *data, struct wl_registry *r, uint32_t name, const char *iface, uint32_t version) {
    (void)data;
    if (!strcmp(iface, wl_seat_interface.name) && !seat)
        seat = wl_registry_bind(r, name, &wl_seat_interface, 1);
    else if (!strcmp(iface, zwp_virtual_keyboard_manager_v1_interface.name))
        keyboards = wl_registry_bind(r, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
    else if (!strcmp(iface, zwlr_virtual_pointer_manager_v1_interface.name))
        pointers = wl_registry_bind(r, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (!strcmp(iface, org_kde_kwin_fake_input_interface.name) && version >= 4)
        fake = wl_registry_bind(r, name, &org_kde_kwin_fake_input_interface, 4);
}
static void global_remove(void *data, struct wl_registry *r, uint32_t name) {
    (void)data;
    (void)r;
    (void)name;
}
static const struct wl_registry_listener registry_listener = {global, global_remove};

static uint32_t now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

static struct xkb_keymap *keymap;

/* The evdev code of the key whose unshifted symbol is `sym`; -1 when none. */
static int code_of(xkb_keysym_t sym) {
    for (xkb_keycode_t k = xkb_keymap_min_keycode(keymap); k <= xkb_keymap_max_keycode(keymap); ++k) {
        const xkb_keysym_t *syms;
        int n = xkb_keymap_key_get_syms_by_level(keymap, k, 0, 0, &syms);
        if (n > 0 && syms[0] == sym) return (int)k - 8;
    }
    return -1;
}

/* The devices the commands go through: the virtual keyboard and pointer, or
 * where those are missing, KWin's fake input. */
static struct zwp_virtual_keyboard_v1 *kb;
static struct zwlr_virtual_pointer_v1 *ptr;

static void send_key(uint32_t code, uint32_t state) {
    if (kb)
        zwp_virtual_keyboard_v1_key(kb, now_ms(), code, state);
    else
        org_kde_kwin_fake_input_keyboard_key(fake, code, state);
}

static void send_motion(double dx, double dy) {
    if (!ptr) {
        org_kde_kwin_fake_input_pointer_motion(fake, wl_fixed_from_double(dx), wl_fixed_from_double(dy));
        return;
    }
    zwlr_virtual_pointer_v1_motion(ptr, now_ms(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    zwlr_virtual_pointer_v1_frame(ptr);
}

static void send_to(double x, double y, int w, int h) {
    if (!ptr) {
        org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_double(x), wl_fixed_from_double(y));
        return;
    }
    zwlr_virtual_pointer_v1_motion_absolute(ptr, now_ms(), (uint32_t)x, (uint32_t)y, (uint32_t)w, (uint32_t)h);
    zwlr_virtual_pointer_v1_frame(ptr);
}

static void send_button(uint32_t button, uint32_t state) {
    if (!ptr) {
        org_kde_kwin_fake_input_button(fake, button, state);
        return;
    }
    zwlr_virtual_pointer_v1_button(ptr, now_ms(), button, state);
    zwlr_virtual_pointer_v1_frame(ptr);
}

int main(void) {
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "wlinput: no compositor\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!seat || ((!keyboards || !pointers) && !fake)) {
        fprintf(stderr, "wlinput: the compositor lacks a seat or the virtual keyboard or pointer\n");
        return 1;
    }
    struct xkb_context *ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    struct xkb_rule_names names = {0};
    names.layout = "us";
    keymap = xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keyboards && pointers) {
        char *text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        size_t size = strlen(text) + 1;
        int fd = memfd_create("wlinput-keymap", MFD_CLOEXEC);
        if (fd < 0 || write(fd, text, size) != (ssize_t)size) return 1;
        kb = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
        zwp_virtual_keyboard_v1_keymap(kb, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
        ptr = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat);
    } else {
        org_kde_kwin_fake_input_authenticate(fake, "wlinput", "end-to-end tests");
    }
    wl_display_roundtrip(display);
    printf("ready\n");
    fflush(stdout);

    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        char cmd[32] = "", arg[64] = "";
        double dx = 0, dy = 0;
        int w = 0, h = 0;
        int ok = 1;
        if (sscanf(line, "%31s", cmd) != 1) continue;
        if (!strcmp(cmd, "key") || !strcmp(cmd, "down") || !strcmp(cmd, "up")) {
            int code = -1;
            if (sscanf(line, "%*s %63s", arg) == 1)
                code = code_of(xkb_keysym_from_name(arg, XKB_KEYSYM_NO_FLAGS));
            if (code < 0) {
                ok = 0;
            } else {
                if (strcmp(cmd, "up")) send_key((uint32_t)code, WL_KEYBOARD_KEY_STATE_PRESSED);
                if (strcmp(cmd, "down")) send_key((uint32_t)code, WL_KEYBOARD_KEY_STATE_RELEASED);
            }
        } else if (!strcmp(cmd, "motion") && sscanf(line, "%*s %lf %lf", &dx, &dy) == 2) {
            send_motion(dx, dy);
        } else if (!strcmp(cmd, "to") && sscanf(line, "%*s %lf %lf %d %d", &dx, &dy, &w, &h) == 4) {
            send_to(dx, dy, w, h);
        } else if (!strcmp(cmd, "button") && sscanf(line, "%*s %63s", arg) == 1) {
            uint32_t b = !strcmp(arg, "right") ? BTN_RIGHT : !strcmp(arg, "middle") ? BTN_MIDDLE : BTN_LEFT;
            send_button(b, WL_POINTER_BUTTON_STATE_PRESSED);
            send_button(b, WL_POINTER_BUTTON_STATE_RELEASED);
        } else {
            ok = 0;
        }
        if (wl_display_roundtrip(display) < 0) {
            fprintf(stderr, "wlinput: the compositor went away\n");
            return 1;
        }
        printf(ok ? "ok\n" : "bad\n");
        fflush(stdout);
    }
    wl_display_disconnect(display);
    return 0;
}
