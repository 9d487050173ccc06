# quorvel_desktop: the app's hooks into the desktop session (file manager, notifications).
find_package(Qt6 6.4 REQUIRED COMPONENTS DBus Gui Qml)

add_library(quorvel_desktop STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FileRevealer.cpp ${CMAKE_CURRENT_LIST_DIR}/FileRevealer.h
  ${CMAKE_CURRENT_LIST_DIR}/DesktopNotifier.cpp ${CMAKE_CURRENT_LIST_DIR}/DesktopNotifier.h
  ${CMAKE_CURRENT_LIST_DIR}/DBusCall.h)
set_target_properties(quorvel_desktop PROPERTIES AUTOMOC ON)
target_include_directories(quorvel_desktop PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quorvel_desktop PUBLIC Qt6::Core Qt6::DBus Qt6::Gui Qt6::Qml)
