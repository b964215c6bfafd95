// GL state shared by the GL 2D driver and its texture frames: caches of what GL already holds, so
// that no call repeats a state GL is in, and the queue of textures waiting to be deleted.
#pragma once

#include <GL/gl.h>

#include <vector>

// The GL headers of Windows stop at GL 1.1; the drivers there have every later enumerant all the same.
#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

namespace kiln::gl2d {

// Not "DrawState": <windows.h>, which the GL headers need on Windows, defines that name as a macro.
struct GLDrawState {
  int blend = 0;  // 0 after a reset, so the next blend mode always applies
  GLuint boundTexture = 0;
  bool textureEnabled = false;
  GLubyte color[4] = {255, 255, 255, 255};
  float ix = 1, iy = 0, jx = 0, jy = 1;
  int contextWidth = 0;
  int contextHeight = 0;
  // The logical resolution the projection maps onto the context.
  float resolutionWidth = 0;
  float resolutionHeight = 0;
  // Names of released frames, each with the texture space it lives in; deleted while a context of
  // that space is current, dropped once the space has no context left.
  struct DeadTexture {
    int space;
    GLuint name;
  };
  std::vector<DeadTexture> deadTextures;
  // The texture space the frames of the current graphics generation are built in.
  int frameSpace = 0;
};

// Never destroyed: frames are released by other objects' destructors while the process ends.
inline GLDrawState& State() {
  static GLDrawState& state = *new GLDrawState;
  return state;
}

inline void BindTexture(GLuint name) {
  GLDrawState& s = State();
  if (s.boundTexture != name) {
    glBindTexture(GL_TEXTURE_2D, name);
    s.boundTexture = name;
  }
}

inline void EnableTexture(bool on) {
  GLDrawState& s = State();
  if (s.textureEnabled == on) return;
  if (on) {
    glEnable(GL_TEXTURE_2D);
  } else {
    glDisable(GL_TEXTURE_2D);
  }
  s.textureEnabled = on;
}

}  // namespace kiln::gl2d
