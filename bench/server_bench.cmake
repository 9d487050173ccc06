# quorvel-server benchmarks; bench/server_load.sh runs them.
if(TARGET quorvel_server_lib)
  add_executable(server_bench ${CMAKE_CURRENT_LIST_DIR}/server_bench.cpp)
  set_target_properties(server_bench PROPERTIES AUTOMOC OFF)
  target_link_libraries(server_bench PRIVATE quorvel_server_lib)
endif()

# The job queue's claim and completion, SQLite against PostgreSQL (bench/cluster_bench).
if(TARGET quorvel_server_lib)
  add_executable(claim_bench ${CMAKE_CURRENT_LIST_DIR}/claim_bench.cpp)
  set_target_properties(claim_bench PROPERTIES AUTOMOC OFF)
  target_link_libraries(claim_bench PRIVATE quorvel_server_lib)
endif()

# libpq against Qt's QPSQL driver on the service's most frequent reads.
if(TARGET quorvel_server_lib)
  add_executable(pg_client_bench ${CMAKE_CURRENT_LIST_DIR}/pg_client_bench.cpp)
  set_target_properties(pg_client_bench PROPERTIES AUTOMOC OFF)
  target_link_libraries(pg_client_bench PRIVATE quorvel_server_lib)
endif()
