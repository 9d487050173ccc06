# A build with nothing changed must do nothing. Under Makefiles, Qt 6.4 reruns its moc-output
# list extraction on every build and rewrites the list even when it is the same, which
# regenerates the metatypes of every library with QML types and, after them, the type
# registrations and QML caches of every module. The parser is wrapped so that the list is
# replaced only when it changed.
if(TARGET Qt6::cmake_automoc_parser AND NOT CMAKE_GENERATOR MATCHES "Ninja")
  get_target_property(_quorvel_parser Qt6::cmake_automoc_parser LOCATION)
  if(_quorvel_parser AND NOT _quorvel_parser MATCHES "automoc-parser-if-changed")
    set(QUORVEL_AUTOMOC_PARSER ${_quorvel_parser})
    set(_quorvel_wrapper ${CMAKE_BINARY_DIR}/tools/automoc-parser-if-changed)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/automoc-parser-if-changed.in ${_quorvel_wrapper} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    foreach(_config "" _NONE _RELEASE _RELWITHDEBINFO _DEBUG _MINSIZEREL)
      set_property(TARGET Qt6::cmake_automoc_parser PROPERTY IMPORTED_LOCATION${_config}
                                                            ${_quorvel_wrapper})
    endforeach()
  endif()
endif()
