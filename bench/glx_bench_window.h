// The window of the GL reference programs: 640 x 480 with a GLX context, an orthographic pixel
// projection, and frames paced to 60 a second with clock_nanosleep on absolute deadlines.
#pragma once

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace bench {

struct GlxWindow {
  Display* display;
  Window window;
};

// Maps the window, makes its context current and sets the projection; ends the process when it
// cannot.
inline GlxWindow OpenGlxWindow(const char* caption) {
  Display* display = XOpenDisplay(nullptr);
  int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, None};
  XVisualInfo* visual = display != nullptr ? glXChooseVisual(display, DefaultScreen(display), attributes) : nullptr;
  if (visual == nullptr) {
    std::fprintf(stderr, "%s: no X display with a GLX visual\n", caption);
    std::exit(1);
  }
  const Window root = RootWindow(display, visual->screen);
  XSetWindowAttributes set{};
  set.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
  set.event_mask = StructureNotifyMask | KeyPressMask;
  const Window window = XCreateWindow(display, root, 0, 0, 640, 480, 0, visual->depth, InputOutput, visual->visual,
                                      CWColormap | CWEventMask, &set);
  XStoreName(display, window, caption);
  XMapWindow(display, window);
  for (XEvent event;;) {
    XNextEvent(display, &event);
    if (event.type == MapNotify) break;
  }
  GLXContext context = glXCreateContext(display, visual, nullptr, True);
  glXMakeCurrent(display, window, context);
  glViewport(0, 0, 640, 480);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 640, 480, 0, -1, 1);
  return {display, window};
}

// Draws and presents frames until the window is closed or a key is pressed.
template <class DrawFrame>
int RunPaced(const GlxWindow& w, DrawFrame draw) {
  const long framePeriod = 1000000000L / 60;
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  for (;;) {
    while (XPending(w.display) > 0) {
      XEvent event;
      XNextEvent(w.display, &event);
      if (event.type == DestroyNotify || event.type == KeyPress) return 0;
    }
    draw();
    glXSwapBuffers(w.display, w.window);
    deadline.tv_nsec += framePeriod;
    if (deadline.tv_nsec >= 1000000000L) deadline.tv_nsec -= 1000000000L, ++deadline.tv_sec;
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
  }
}

}  // namespace bench
