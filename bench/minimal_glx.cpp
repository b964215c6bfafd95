// The reference for the patcher's whole-process figures: the least a program needs to show the same
// screen. It opens a 640 x 480 window with a GLX context, uploads one 1024 x 512 texture and presents
// one textured quad per frame, paced to 60 frames a second with clock_nanosleep on absolute
// deadlines. Runs until its window is closed or the process is ended.
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "minimal_glx: no X display\n");
    return 1;
  }
  int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, None};
  XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
  if (visual == nullptr) {
    std::fprintf(stderr, "minimal_glx: no GLX visual\n");
    return 1;
  }
  const Window root = RootWindow(display, visual->screen);
  XSetWindowAttributes set{};
  set.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
  set.event_mask = StructureNotifyMask | KeyPressMask;
  const Window window = XCreateWindow(display, root, 0, 0, 640, 480, 0, visual->depth, InputOutput, visual->visual,
                                      CWColormap | CWEventMask, &set);
  XStoreName(display, window, "minimal GLX");
  XMapWindow(display, window);
  for (XEvent event;;) {
    XNextEvent(display, &event);
    if (event.type == MapNotify) break;
  }
  GLXContext context = glXCreateContext(display, visual, nullptr, True);
  glXMakeCurrent(display, window, context);

  std::vector<uint32_t> texels(1024 * 512);
  for (size_t i = 0; i < texels.size(); ++i) texels[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 512, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  glEnable(GL_TEXTURE_2D);
  glViewport(0, 0, 640, 480);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 640, 480, 0, -1, 1);

  const long framePeriod = 1000000000L / 60;
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == DestroyNotify || event.type == KeyPress) return 0;
    }
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex2f(0, 0);
    glTexCoord2f(0.625f, 0), glVertex2f(640, 0);
    glTexCoord2f(0.625f, 0.9375f), glVertex2f(640, 480);
    glTexCoord2f(0, 0.9375f), glVertex2f(0, 480);
    glEnd();
    glXSwapBuffers(display, window);
    deadline.tv_nsec += framePeriod;
    if (deadline.tv_nsec >= 1000000000L) deadline.tv_nsec -= 1000000000L, ++deadline.tv_sec;
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
  }
}
