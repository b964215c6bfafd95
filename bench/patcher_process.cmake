# The whole-process figures of the patcher (bench/patcher_process_bench.sh): the minimal GLX program
# and the raw-GL status screen they are compared with, and the preloaded probe that times the first
# frame of each.
if(KILN_WINDOW_SYSTEM STREQUAL "x11")
  add_executable(minimal_glx minimal_glx.cpp)
  target_link_libraries(minimal_glx PRIVATE OpenGL::GL OpenGL::GLX X11::X11)
  target_include_directories(minimal_glx PRIVATE ${PROJECT_SOURCE_DIR})
  # The same status screen drawn with libjpeg, FreeType and GL called directly.
  add_executable(raw_gl_screen raw_gl_screen.cpp)
  target_link_libraries(raw_gl_screen PRIVATE JPEG::JPEG Freetype::Freetype OpenGL::GL OpenGL::GLX X11::X11)
  target_include_directories(raw_gl_screen PRIVATE ${PROJECT_SOURCE_DIR})
  add_library(frame_probe MODULE frame_probe.cpp)
  target_link_libraries(frame_probe PRIVATE X11::X11 ${CMAKE_DL_LIBS})
endif()
