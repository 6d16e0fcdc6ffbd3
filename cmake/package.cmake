# Packaging: on Windows, a ZIP holding reskeeper.exe beside a Data folder with an empty
# Pref.txt, the file the program reads and writes in its current folder.
if(NOT WIN32)
  return()
endif()

set(RESKEEPER_EMPTY_PREFERENCES ${CMAKE_BINARY_DIR}/package/Pref.txt)
file(WRITE ${RESKEEPER_EMPTY_PREFERENCES} "")
install(FILES ${RESKEEPER_EMPTY_PREFERENCES} DESTINATION ${CMAKE_INSTALL_BINDIR}/Data)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME reskeeper)
set(CPACK_PACKAGE_VENDOR reskeeper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps a screen resolution per user")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
