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

# The installer (NSIS's makensis): build/windows/reskeeper-setup.exe, part of the build when
# makensis is there. RESKEEPER_INSTALLER_TARGET picks the installer's own stub: the 64-bit one
# that wine here runs, or x86-unicode, which still starts on 32-bit Windows to say it is refused.
find_program(RESKEEPER_MAKENSIS makensis)
set(RESKEEPER_INSTALLER_TARGET amd64-unicode CACHE STRING "makensis target of the installer")
set(RESKEEPER_INSTALLER ${CMAKE_BINARY_DIR}/reskeeper-setup.exe)
set(script ${PROJECT_SOURCE_DIR}/packaging/windows/reskeeper.nsi)
if(RESKEEPER_MAKENSIS)
  add_custom_command(OUTPUT ${RESKEEPER_INSTALLER}
    COMMAND ${RESKEEPER_MAKENSIS} -V2 -WX -DVERSION=${PROJECT_VERSION}
            -DPROGRAM=$<TARGET_FILE:reskeeper> -DOUTFILE=${RESKEEPER_INSTALLER}
            -DTARGET=${RESKEEPER_INSTALLER_TARGET} ${script}
    DEPENDS reskeeper ${script}
    COMMENT "Building the installer reskeeper-setup.exe"
    VERBATIM)
  add_custom_target(installer ALL DEPENDS ${RESKEEPER_INSTALLER})
else()
  add_custom_target(installer
    COMMAND ${CMAKE_COMMAND} -E echo "makensis not found: apt-get install nsis"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
