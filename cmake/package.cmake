# Packaging: on Windows, a ZIP to unpack into a folder of its own, holding reskeeper.exe beside
# a Data folder with an empty Pref.txt, the file the program reads and writes in its current
# folder.
if(NOT WIN32)
  return()
endif()

set(RESKEEPER_EMPTY_PREFERENCES ${CMAKE_BINARY_DIR}/package/Pref.txt)
file(WRITE ${RESKEEPER_EMPTY_PREFERENCES} "")
# An existing Data/Pref.txt holds the users' resolutions: installing again must not empty it.
install(CODE "
  set(data \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/Data\")
  if(NOT EXISTS \"\$ENV{DESTDIR}\${data}/Pref.txt\")
    file(INSTALL \"${RESKEEPER_EMPTY_PREFERENCES}\" DESTINATION \"\${data}\")
  endif()")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME reskeeper)
set(CPACK_PACKAGE_VENDOR reskeeper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps a screen resolution per user")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
