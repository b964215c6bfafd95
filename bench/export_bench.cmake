# The export benchmark runs the real embedded payload.
if(TARGET export_bench AND TARGET zunto_payload)
  get_property(zunto_payload_root GLOBAL PROPERTY ZUNTO_PAYLOAD_ROOT)
  target_link_libraries(export_bench PRIVATE zunto_payload zunto_patch)
  target_compile_definitions(export_bench PRIVATE ZUNTO_PAYLOAD_ROOT="${zunto_payload_root}")
endif()
