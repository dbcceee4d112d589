/* X11 chores for the end-to-end test of the window, which runs without a
   window manager:
     x_test_helper hold-atoms    interns the window-manager atoms that JUCE only
                                 looks up (a bare X server has none of them, and
                                 then the window ignores close requests), prints
                                 "ready" and keeps them alive until killed
     x_test_helper close WINDOW  asks the window to close, as a window manager's
                                 close button does (WM_DELETE_WINDOW) */

#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char* const windowManagerAtoms[] = {
    "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING", "WM_CHANGE_STATE",
    "WM_STATE", "_NET_WM_USER_TIME", "_NET_ACTIVE_WINDOW", "_NET_WM_PID", "_NET_WM_WINDOW_TYPE",
    "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
};

static int holdAtoms(Display* display)
{
    for (size_t i = 0; i < sizeof windowManagerAtoms / sizeof windowManagerAtoms[0]; ++i)
        XInternAtom(display, windowManagerAtoms[i], False);
    XSync(display, False);
    printf("ready\n");
    fflush(stdout);
    /* The atoms live while a client is connected: stay until killed. */
    for (;;)
        pause();
    return 0;
}

static int requestClose(Display* display, const char* windowId)
{
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = (Window) strtoul(windowId, NULL, 0);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long) XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XSync(display, False);
    return 0;
}

int main(int argc, char** argv)
{
    const int hold = argc == 2 && strcmp(argv[1], "hold-atoms") == 0;
    const int close = argc == 3 && strcmp(argv[1], "close") == 0;
    if (!hold && !close)
    {
        fprintf(stderr, "usage: %s hold-atoms | close WINDOW-ID\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL)
    {
        fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const int result = hold ? holdAtoms(display) : requestClose(display, argv[2]);
    XCloseDisplay(display);
    return result;
}
