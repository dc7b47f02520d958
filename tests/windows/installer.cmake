# The Windows installer (app/install/windows/) under Wine: a silent install
# into a prefix of its own, the installed demo started from another folder,
# the Start-menu and login entries, the login, a silent uninstall and what is
# left. Alone: it looks at the notification area of the screen.
if(NOT TARGET kestrolune_installer)
  message(FATAL_ERROR "No installer (app/install/windows/) for the installer's test")
endif()
set(KESTROLUNE_INSTALLED_PROGRAMS kestrolune-demo)
if(TARGET kestrolune)
  list(APPEND KESTROLUNE_INSTALLED_PROGRAMS kestrolune)
endif()
add_test(NAME windows_installer
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/installer-test
                 ${CMAKE_BINARY_DIR}/kestrolune-${PROJECT_VERSION}-setup.exe ${CMAKE_BINARY_DIR}/stage
                 ${CMAKE_BINARY_DIR}/qml/resource ${CMAKE_BINARY_DIR}/wineprefix-installer
                 ${CMAKE_BINARY_DIR}/windows-installer ${KESTROLUNE_INSTALLED_PROGRAMS})
set_tests_properties(windows_installer PROPERTIES LABELS "windows installer" RUN_SERIAL TRUE TIMEOUT 600
                     FAIL_REGULAR_EXPRESSION "installer: FAIL")
