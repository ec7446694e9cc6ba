/* Asks a top-level X11 window to close, as a window manager's close button does
   (WM_DELETE_WINDOW), so that the application's own quit path runs. Usage: xclose WINDOW-ID

   "xclose --intern" creates the window-manager atoms that a desktop always has and a bare test
   display lacks; the framework looks them up once at start and ignores those messages without
   them. Run it before the application starts, on a display started with -noreset. */
#include <string.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        fprintf(stderr, "usage: xclose WINDOW-ID\n");
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL)
    {
        fprintf(stderr, "xclose: cannot open display\n");
        return 1;
    }
    if (strcmp(argv[1], "--intern") == 0)
    {
        const char* names[] = {"WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "_NET_WM_PING",
                               "WM_CHANGE_STATE", "WM_STATE", "_NET_WM_STATE"};
        for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
            XInternAtom(display, names[i], False);
        XSync(display, False);
        XCloseDisplay(display);
        return 0;
    }
    Window window = (Window)strtoul(argv[1], NULL, 0);
    XEvent event = {0};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);
    return 0;
}
