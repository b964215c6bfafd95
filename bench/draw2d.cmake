# The 2D layer benchmark counts GL calls by wrapping the GL entry points at link time.
if(TARGET draw2d_bench)
  target_link_libraries(draw2d_bench PRIVATE OpenGL::GL)
  foreach(fn glBegin glEnd glVertex2f glTexCoord2f glColor4ubv glEnable glDisable glBlendFunc glAlphaFunc glBindTexture)
    target_link_options(draw2d_bench PRIVATE "LINKER:--wrap=${fn}")
  endforeach()
endif()
