# The loader benchmark decodes the same bytes with libjpeg and libpng directly as its reference.
if(TARGET loader_bench)
  target_link_libraries(loader_bench PRIVATE JPEG::JPEG PNG::PNG)
endif()
