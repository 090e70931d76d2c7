// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-test-clipboard-watch: prints one line for every change of the CLIPBOARD selection on
// the X display, with the XFixes subtype, so a test can tell an owner that gave the clipboard up
// (set-owner none) from one whose window or connection went away.
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const char* const kUsage = R"(Usage: zorvik-test-clipboard-watch

Watches the CLIPBOARD selection of the current X display ($DISPLAY) and prints, one line each,
flushed at once:
  ready owner none|some       once the watch is in place, with the owner at that moment
  set-owner none              a client set the owner to None (an explicit clear)
  set-owner some 0xWINDOW     a client took the selection with that window
  window-destroy              the owner's window was destroyed
  client-close                the owner's connection to the display closed
Runs until it is killed or the display goes away (exit 1). Exits 1 when there is no display
or it lacks the XFixes extension.
)";

template <typename T>
struct FreeDeleter {
    void operator()(T* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

void say(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int fail(const char* reason) {
    std::fprintf(stderr, "zorvik-test-clipboard-watch: %s\n", reason);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return fail("cannot open the X display (is DISPLAY set?)");
    }
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (extension == nullptr || extension->present == 0) {
        xcb_disconnect(connection);
        return fail("the X display has no XFixes extension");
    }
    const Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, 0), nullptr));
    if (!version || version->major_version < 1) {
        xcb_disconnect(connection);
        return fail("the X display's XFixes is too old for selection events");
    }

    const Reply<xcb_intern_atom_reply_t> clipboard(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, 9, "CLIPBOARD"), nullptr));
    if (!clipboard) {
        xcb_disconnect(connection);
        return fail("cannot intern the CLIPBOARD atom");
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screens.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_xfixes_select_selection_input(connection, window, clipboard->atom,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // The reply comes after the server has handled the selection request, so every change
    // from here on is reported.
    const Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, clipboard->atom), nullptr));
    if (!owner) {
        xcb_disconnect(connection);
        return fail("cannot ask for the CLIPBOARD owner");
    }
    say(owner->owner == XCB_NONE ? "ready owner none" : "ready owner some");

    const uint8_t selectionNotify = extension->first_event + XCB_XFIXES_SELECTION_NOTIFY;
    while (xcb_generic_event_t* raw = xcb_wait_for_event(connection)) {
        const std::unique_ptr<xcb_generic_event_t, FreeDeleter<xcb_generic_event_t>> event(raw);
        if ((event->response_type & 0x7f) != selectionNotify) {
            continue;
        }
        const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(raw);
        if (notify->selection != clipboard->atom) {
            continue;
        }
        switch (notify->subtype) {
            case XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER:
                if (notify->owner == XCB_NONE) {
                    say("set-owner none");
                } else {
                    char line[64];
                    std::snprintf(line, sizeof line, "set-owner some 0x%x", notify->owner);
                    say(line);
                }
                break;
            case XCB_XFIXES_SELECTION_EVENT_SELECTION_WINDOW_DESTROY:
                say("window-destroy");
                break;
            case XCB_XFIXES_SELECTION_EVENT_SELECTION_CLIENT_CLOSE:
                say("client-close");
                break;
            default: {
                char line[64];
                std::snprintf(line, sizeof line, "other %u", unsigned(notify->subtype));
                say(line);
            }
        }
    }
    xcb_disconnect(connection);
    return fail("the X display went away");
}
