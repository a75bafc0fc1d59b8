/* Moves the pointer of a Wayland session, through a virtual pointer device of the
 * compositor's (zwlr_virtual_pointer_v1, which sway offers), for sessions that have no
 * pointer of their own:
 *   pointer_move DX DY [DX DY ...]
 * Each step moves the pointer by DX, DY after a pause of 300 ms, so that the clients
 * have taken the new pointer device before the first step and each step arrives alone. */
#define _POSIX_C_SOURCE 199309L
#include "virtual-pointer-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static struct zwlr_virtual_pointer_manager_v1 *manager;

static void announced(void *data, struct wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
}

static void removed(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static void pause300(void)
{
    const struct timespec wait = {0, 300 * 1000 * 1000};
    nanosleep(&wait, NULL);
}

static uint32_t nowMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

int main(int argc, char **argv)
{
    if (argc < 3 || argc % 2 == 0) {
        fprintf(stderr, "usage: pointer_move DX DY [DX DY ...]\n");
        return 2;
    }
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "pointer_move: no Wayland display\n");
        return 1;
    }
    static const struct wl_registry_listener listener = {announced, removed};
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, NULL);
    wl_display_roundtrip(display);
    if (!manager) {
        fprintf(stderr, "pointer_move: the compositor offers no virtual pointer\n");
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return 1;
    }
    struct zwlr_virtual_pointer_v1 *pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, NULL);
    wl_display_roundtrip(display);
    for (int i = 1; i + 1 < argc; i += 2) {
        pause300();
        zwlr_virtual_pointer_v1_motion(pointer, nowMs(), wl_fixed_from_int(atoi(argv[i])),
                                       wl_fixed_from_int(atoi(argv[i + 1])));
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
    }
    pause300();
    // Only the client's side of each object goes: the connection's end removes the
    // device from the compositor.
    wl_proxy_destroy((struct wl_proxy *)pointer);
    wl_proxy_destroy((struct wl_proxy *)manager);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
