# The whole-process figures of the patcher (bench/patcher_process_bench.sh): the minimal GLX program
# they are compared with, and the preloaded probe that times the first frame of either.
if(KILN_WINDOW_SYSTEM STREQUAL "x11")
  add_executable(minimal_glx minimal_glx.cpp)
  target_link_libraries(minimal_glx PRIVATE OpenGL::GL OpenGL::GLX X11::X11)
  add_library(frame_probe MODULE frame_probe.cpp)
  target_link_libraries(frame_probe PRIVATE X11::X11 ${CMAKE_DL_LIBS})
endif()
