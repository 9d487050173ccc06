# The launcher entry and the app icon, where desktops look for them under the install prefix.
include(GNUInstallDirs)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorvel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorvel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
