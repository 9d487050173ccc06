# Desktop integration against stand-ins on a private D-Bus session bus (needs dbus-daemon).
find_package(Qt6 6.4 REQUIRED COMPONENTS DBus)

quorvel_add_test(tst_desktopintegration ${CMAKE_CURRENT_LIST_DIR}/tst_desktopintegration.cpp)
target_link_libraries(tst_desktopintegration PRIVATE quorvel_desktop Qt6::DBus)

# Desktops skip a launcher entry they cannot parse, so its validity is checked like code.
add_test(NAME desktop_entry_valid
         COMMAND desktop-file-validate ${PROJECT_SOURCE_DIR}/src/app/quorvel.desktop)
