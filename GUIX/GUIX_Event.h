#pragma once
// The toolkit's event record. It is also the wire format of the property
// queue that other clients may append to (an X window property of whole
// records), so its layout is fixed: 19 unsigned 32-bit words, no pointers
// (window ids only).

#include <cstdint>

enum GUIX_EventKind : std::uint32_t {
    EV_NONE = 0,
    EV_REPAINT = 2,
    EV_ENTER = 3,
    EV_LEAVE = 4,
    EV_BUTTON_PRESS = 5,  // payload[0]: button number
    EV_BUTTON_RELEASE = 6,
    EV_KEY = 7,  // payload[0]: GUIX_KeyKind, [1]: character (Unicode), [2]: 1 release / 0 press
    EV_DIALOG_SHOWN = 8,
    EV_DIALOG_CLOSING = 9,
    EV_CLOSE_REQUEST = 10,
    EV_SHOW = 11,
    EV_HIDE = 12,
    EV_RESIZE = 15,    // payload[0], [1]: width, height; [2]: 1 when it comes from the X server
    EV_REPARENT = 16,  // payload[0]: new parent window
    EV_MOVE = 17,      // payload[0], [1]: x, y
    EV_SET_ICON = 19,
    EV_FOCUS_IN = 21,
    EV_FOCUS_OUT = 22,
    EV_REGISTER_DIALOG = 23,    // payload[0]: the dialog's window id
    EV_UNREGISTER_DIALOG = 24,  // payload[0]: the dialog's window id
    EV_QUIT = 25,
};

enum GUIX_KeyKind : std::uint32_t {
    KEY_CHAR = 0,
    KEY_BACKSPACE = 1,
    KEY_DELETE = 2,
    KEY_RETURN = 3,
    KEY_TAB = 4,
};

struct GUIX_Event {
    std::uint32_t kind;
    std::uint32_t source;       // window of the widget that posted it
    std::uint32_t target;       // window of the receiving widget; 0 = the application
    std::uint32_t payload[16];  // words 3..18

    // The payload always starts zeroed.
    explicit GUIX_Event(std::uint32_t kind = EV_NONE, std::uint32_t target = 0, std::uint32_t source = 0);

    // Helpers for EV_KEY records.
    std::uint32_t keyKind() const { return payload[0]; }
    char32_t keyCharacter() const { return static_cast<char32_t>(payload[1]); }
    bool keyRelease() const { return payload[2] != 0; }
};

static_assert(sizeof(GUIX_Event) == 76, "GUIX_Event is a fixed 76-byte wire record");
