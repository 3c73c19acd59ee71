#include "tests/support/x11_driver.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>

#include <chrono>
#include <initializer_list>
#include <thread>

namespace zqr::test {

namespace {

std::string WindowName(Display* d, Window w) {
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom net_name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(d, w, net_name, 0, 1024, False, utf8, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    name.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
    return name;
  }
  char* plain = nullptr;
  if (XFetchName(d, w, &plain) && plain != nullptr) {
    name = plain;
    XFree(plain);
  }
  return name;
}

bool Viewable(Display* d, Window w) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(d, w, &attributes) && attributes.map_state == IsViewable;
}

bool HasWindowType(Display* d, Window w, Atom wanted) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), 0, 16, False, XA_ATOM,
                         &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    const Atom* types = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < count; ++i) found = found || types[i] == wanted;
    XFree(data);
  }
  return found;
}

Window FindByName(Display* d, Window root, const std::string& caption, Window except = 0) {
  Window parent = 0, root_return = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, root, &root_return, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && found == 0; ++i) {
    if (children[i] != except && WindowName(d, children[i]) == caption &&
        Viewable(d, children[i])) {
      found = children[i];
    } else {
      found = FindByName(d, children[i], caption, except);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

// Windows come and go while they are searched: a window destroyed between listing and
// reading it is not an error of the test.
int IgnoreErrors(Display*, XErrorEvent*) {
  return 0;
}

}  // namespace

X11Driver::X11Driver() : display_(XOpenDisplay(nullptr)) {
  XSetErrorHandler(IgnoreErrors);
}

X11Driver::~X11Driver() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

void X11Driver::Sync() {
  XSync(display_, False);
}

bool X11Driver::WindowExists(const std::string& caption) {
  return ok() && FindByName(display_, DefaultRootWindow(display_), caption) != 0;
}

unsigned long X11Driver::WaitForWindow(const std::string& caption, int timeout_ms,
                                       unsigned long except) {
  if (!ok()) return 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    Window w = FindByName(display_, DefaultRootWindow(display_), caption, except);
    if (w != 0) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

namespace {
// The topmost mapped child of the root of one of the window types (a submenu stands above
// its menu); tooltips and menus are override-redirect windows, children of the root.
Window MappedOfType(Display* d, std::initializer_list<const char*> type_names) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  Window found = 0;
  if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count; ++i) {
      for (const char* name : type_names) {
        if (HasWindowType(d, children[i], XInternAtom(d, name, False)) &&
            Viewable(d, children[i])) {
          found = children[i];
        }
      }
    }
    if (children != nullptr) XFree(children);
  }
  return found;
}
}  // namespace

unsigned long X11Driver::Tooltip() {
  return ok() ? MappedOfType(display_, {"_NET_WM_WINDOW_TYPE_TOOLTIP"}) : 0;
}

unsigned long X11Driver::PopupMenu() {
  return ok() ? MappedOfType(display_, {"_NET_WM_WINDOW_TYPE_POPUP_MENU",
                                        "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU"})
              : 0;
}

unsigned long X11Driver::WaitForTooltip(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (unsigned long found = Tooltip()) return found;
    if (std::chrono::steady_clock::now() >= deadline) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool X11Driver::Geometry(unsigned long window, int* x, int* y, int* width, int* height) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display_, window, &attributes)) return false;
  Window child = 0;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, x, y, &child);
  *width = attributes.width;
  *height = attributes.height;
  return true;
}

std::string X11Driver::ActiveCaption() {
  if (!ok()) return std::string();
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  Window active = 0;
  if (XGetWindowProperty(display_, DefaultRootWindow(display_),
                         XInternAtom(display_, "_NET_ACTIVE_WINDOW", False), 0, 1, False, XA_WINDOW,
                         &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    if (count == 1) active = *reinterpret_cast<const Window*>(data);
    XFree(data);
  }
  return active != 0 ? WindowName(display_, active) : std::string();
}

bool X11Driver::WaitForActive(const std::string& caption, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (ActiveCaption() == caption) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void X11Driver::Close(unsigned long window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  Sync();
}

void X11Driver::Focus(unsigned long window) {
  XRaiseWindow(display_, window);
  XSetInputFocus(display_, window, RevertToParent, CurrentTime);
  Sync();
}

void X11Driver::Key(const std::string& keysym, bool ctrl, bool alt) {
  KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(keysym.c_str()));
  KeyCode control = XKeysymToKeycode(display_, XK_Control_L);
  KeyCode alternate = XKeysymToKeycode(display_, XK_Alt_L);
  if (ctrl) XTestFakeKeyEvent(display_, control, True, 0);
  if (alt) XTestFakeKeyEvent(display_, alternate, True, 0);
  XTestFakeKeyEvent(display_, code, True, 0);
  XTestFakeKeyEvent(display_, code, False, 0);
  if (alt) XTestFakeKeyEvent(display_, alternate, False, 0);
  if (ctrl) XTestFakeKeyEvent(display_, control, False, 0);
  Sync();
}

void X11Driver::Type(const std::string& text) {
  KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
  for (char ch : text) {
    KeySym sym = static_cast<KeySym>(static_cast<unsigned char>(ch));  // Latin-1 keysyms
    KeyCode code = XKeysymToKeycode(display_, sym);
    if (code == 0) continue;
    const bool shifted = XkbKeycodeToKeysym(display_, code, 0, 0) != sym;
    if (shifted) XTestFakeKeyEvent(display_, shift, True, 0);
    XTestFakeKeyEvent(display_, code, True, 0);
    XTestFakeKeyEvent(display_, code, False, 0);
    if (shifted) XTestFakeKeyEvent(display_, shift, False, 0);
    Sync();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void X11Driver::MoveTo(int screen_x, int screen_y) {
  XTestFakeMotionEvent(display_, -1, screen_x, screen_y, 0);
  Sync();
}

void X11Driver::Click(int screen_x, int screen_y) {
  MoveTo(screen_x, screen_y);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  XTestFakeButtonEvent(display_, 1, True, 0);
  XTestFakeButtonEvent(display_, 1, False, 0);
  Sync();
}

unsigned long X11Driver::CursorSerial() {
  XFixesCursorImage* cursor = XFixesGetCursorImage(display_);
  if (cursor == nullptr) return 0;
  const unsigned long serial = cursor->cursor_serial;
  XFree(cursor);
  return serial;
}

std::vector<uint8_t> X11Driver::Capture(int x, int y, int width, int height) {
  std::vector<uint8_t> rgb;
  XImage* image =
      XGetImage(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return rgb;
  rgb.reserve(size_t(width) * size_t(height) * 3);
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      unsigned long pixel = XGetPixel(image, col, row);
      rgb.push_back(static_cast<uint8_t>((pixel & image->red_mask) >> 16));
      rgb.push_back(static_cast<uint8_t>((pixel & image->green_mask) >> 8));
      rgb.push_back(static_cast<uint8_t>(pixel & image->blue_mask));
    }
  }
  XDestroyImage(image);
  return rgb;
}

}  // namespace zqr::test
