# Cross-builds Kestrolune for 64-bit Windows with Debian's mingw-w64 (the
# posix threading variant, which Qt for Windows was built with) against Qt
# for Windows in QT_MINGW_PREFIX (scripts/build-windows sets it). The
# project runs its Windows tests under Wine (see the top CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_SYSTEM_VERSION 10.0) # Windows 10 and later

set(KESTROLUNE_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTROLUNE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTROLUNE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTROLUNE_MINGW}-windres)

if(NOT QT_MINGW_PREFIX)
  set(QT_MINGW_PREFIX "$ENV{QT_MINGW_PREFIX}")
endif()
if(NOT EXISTS "${QT_MINGW_PREFIX}/lib/cmake/Qt5/Qt5Config.cmake")
  message(FATAL_ERROR "QT_MINGW_PREFIX (${QT_MINGW_PREFIX}) is no Qt for Windows: run scripts/build-windows")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QT_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTROLUNE_MINGW} ${QT_MINGW_PREFIX})
set(CMAKE_PREFIX_PATH ${QT_MINGW_PREFIX})
# Qt's host tools (moc, rcc, qmlcachegen) are Linux programs in its bin/.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 10's API level, for the interfaces that need it declared.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
