// A pointer for tests on a wlroots compositor: reads commands on stdin
// ("move X Y", "down", "up", one a line), sends each through the
// compositor's virtual-pointer protocol as a real device would, and answers
// "ok" once the compositor has taken it.
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <time.h>

#include <linux/input-event-codes.h>
#include <wayland-client.h>

namespace {

constexpr unsigned kScreenWidth = 1920, kScreenHeight = 1080;

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void announce(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0)
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        globals->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}

void withdraw(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {announce, withdraw};

uint32_t milliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

} // namespace

int main()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no Wayland display\n");
        return 1;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    wl_display_roundtrip(display);
    if (!globals.manager) {
        std::fprintf(stderr, "the compositor has no virtual pointers\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.manager, globals.seat);
    wl_display_roundtrip(display);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("ok\n");

    // The compositor maps absolute motion onto its whole layout: "layout W H"
    // says how large that is once outputs are added or taken away.
    unsigned layoutWidth = kScreenWidth, layoutHeight = kScreenHeight;
    char line[128];
    while (std::fgets(line, sizeof line, stdin)) {
        unsigned x = 0, y = 0;
        if (std::sscanf(line, "layout %u %u", &x, &y) == 2 && x > 0 && y > 0) {
            layoutWidth = x;
            layoutHeight = y;
            std::printf("ok\n");
            continue;
        }
        if (std::sscanf(line, "move %u %u", &x, &y) == 2)
            zwlr_virtual_pointer_v1_motion_absolute(pointer, milliseconds(), x, y, layoutWidth, layoutHeight);
        else if (std::strncmp(line, "down", 4) == 0)
            zwlr_virtual_pointer_v1_button(pointer, milliseconds(), BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
        else if (std::strncmp(line, "up", 2) == 0)
            zwlr_virtual_pointer_v1_button(pointer, milliseconds(), BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
        else
            continue;
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0)
            return 1;
        std::printf("ok\n");
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_disconnect(display);
    return 0;
}
