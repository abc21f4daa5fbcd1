"""Closes a window the way a window manager does when its close box is clicked.

The window manager does not destroy the window or kill its owner: it sends the window a
WM_PROTOCOLS client message with WM_DELETE_WINDOW and leaves the rest to the program. xdotool's
windowclose destroys the window and windowkill ends the client, so neither goes through the
program's own close handling. Only the standard library and libX11 are needed.

Usage: python3 close_window.py <window id>   (DISPLAY names the display)
"""

import ctypes
import ctypes.util
import sys

CLIENT_MESSAGE = 33
NO_EVENT_MASK = 0
CURRENT_TIME = 0


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("data", ctypes.c_long * 5),
    ]


class XEvent(ctypes.Union):
    # Xlib sizes every event as 24 longs; XSendEvent copies that much.
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: close_window.py <window id>")
    window = int(sys.argv[1], 0)

    xlib = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                ctypes.POINTER(XEvent)]
    xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]

    display = xlib.XOpenDisplay(None)
    if not display:
        sys.exit("close_window.py: cannot open the display")
    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = window
    event.xclient.message_type = xlib.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = xlib.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.xclient.data[1] = CURRENT_TIME
    if not xlib.XSendEvent(display, window, 0, NO_EVENT_MASK, ctypes.byref(event)):
        sys.exit("close_window.py: the close request could not be sent")
    xlib.XSync(display, 0)
    xlib.XCloseDisplay(display)


if __name__ == "__main__":
    main()
