// close_window ID: asks the X window ID to close as a window manager does
// when its frame's close button is pressed (WM_DELETE_WINDOW), which
// xdotool cannot: its windowclose destroys the window instead.
#include <X11/Xlib.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  Display* display = argc == 2 ? XOpenDisplay(NULL) : NULL;
  if (display == NULL) return 2;
  XEvent event = {.xclient = {.type = ClientMessage, .format = 32}};
  event.xclient.window = strtoul(argv[1], NULL, 0);
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
  XCloseDisplay(display);
  return 0;
}
