// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-test-wm: the parts of a window manager the end-to-end tests need on the session's X
// display, which has none: the work area that panels leave (Qt reads _NET_WORKAREA on the root
// window as every screen's available geometry, also while it runs), and the close button.
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char* const kUsage = R"(Usage: zorvik-test-wm workarea X Y WIDTH HEIGHT
       zorvik-test-wm workarea none
       zorvik-test-wm close WINDOW
       zorvik-test-wm override-redirect WINDOW

On the current X display ($DISPLAY):
  workarea           sets _NET_WORKAREA on the root window to the rectangle given in pixels,
                     as a window manager does for the panels it reserves room for; "none"
                     removes it, leaving the whole screen available
  close              asks the window (a number, as xdotool prints it) to close, as a click on
                     its close button does: a WM_DELETE_WINDOW message
  override-redirect  prints "yes" for a window that no window manager would manage (a popup,
                     a menu) and "no" for an ordinary one
Exits 1 when there is no display or the request fails, 2 on bad usage.
)";

template <typename T>
struct FreeDeleter {
    void operator()(T* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int fail(const char* reason) {
    std::fprintf(stderr, "zorvik-test-wm: %s\n", reason);
    return 1;
}

bool parse(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 0);
    return *text != '\0' && *end == '\0';
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// Sends the requests and waits until the server has taken them, so that a test's next step sees
// their effect; false when the server refused one.
bool finish(xcb_connection_t* connection, xcb_void_cookie_t last) {
    const Reply<xcb_generic_error_t> error(xcb_request_check(connection, last));
    return error == nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string command = argv[1];
    const bool clearArea = command == "workarea" && argc == 3 && std::string(argv[2]) == "none";
    long numbers[4] = {0, 0, 0, 0};
    if (command == "workarea" && !clearArea) {
        if (argc != 6) {
            return usage();
        }
        for (int i = 0; i < 4; ++i) {
            if (!parse(argv[2 + i], numbers[i]) || numbers[i] < 0) {
                return usage();
            }
        }
    } else if (command == "close" || command == "override-redirect") {
        if (argc != 3 || !parse(argv[2], numbers[0])) {
            return usage();
        }
    } else if (!clearArea) {
        return usage();
    }

    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        return fail("cannot open the X display");
    }
    const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> closer(connection,
                                                                                xcb_disconnect);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    const xcb_window_t root = screens.data->root;

    if (command == "workarea") {
        const xcb_atom_t workArea = atom(connection, "_NET_WORKAREA");
        if (clearArea) {
            return finish(connection, xcb_delete_property_checked(connection, root, workArea))
                       ? 0
                       : fail("cannot remove _NET_WORKAREA");
        }
        const std::uint32_t value[4] = {
            static_cast<std::uint32_t>(numbers[0]), static_cast<std::uint32_t>(numbers[1]),
            static_cast<std::uint32_t>(numbers[2]), static_cast<std::uint32_t>(numbers[3])};
        return finish(connection,
                      xcb_change_property_checked(connection, XCB_PROP_MODE_REPLACE, root, workArea,
                                                  XCB_ATOM_CARDINAL, 32, 4, value))
                   ? 0
                   : fail("cannot set _NET_WORKAREA");
    }

    const auto window = static_cast<xcb_window_t>(numbers[0]);
    if (command == "override-redirect") {
        const Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr));
        if (!attributes) {
            return fail("no such window");
        }
        std::puts(attributes->override_redirect != 0 ? "yes" : "no");
        return 0;
    }

    xcb_client_message_event_t message;
    std::memset(&message, 0, sizeof message);
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(connection, "WM_PROTOCOLS");
    message.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    return finish(connection, xcb_send_event_checked(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                                     reinterpret_cast<const char*>(&message)))
               ? 0
               : fail("cannot send WM_DELETE_WINDOW");
}
