# Office conversion throughput of quorvel-server (warm LibreOffice engines);
# scripts/bench runs it.
if(TARGET quorvel_server_lib)
  add_executable(convert_bench ${CMAKE_CURRENT_LIST_DIR}/convert_bench.cpp)
  set_target_properties(convert_bench PROPERTIES AUTOMOC OFF)
  target_link_libraries(convert_bench PRIVATE quorvel_server_lib)
  target_compile_definitions(convert_bench PRIVATE
    QUORVEL_SERVER_BINARY="$<TARGET_FILE:quorvel-server>")
  add_dependencies(convert_bench quorvel-server)
endif()
