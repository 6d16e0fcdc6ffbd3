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
# It carries setuphelper.exe, which examines every path before rights are granted on it. The
# programs for people go in beside the keeper when this build has them.
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/setuphelper.rc.in
  ${CMAKE_BINARY_DIR}/setuphelper.rc @ONLY)
add_executable(reskeeper_setuphelper ${PROJECT_SOURCE_DIR}/packaging/windows/setuphelper.c
  ${CMAKE_BINARY_DIR}/setuphelper.rc)
set_target_properties(reskeeper_setuphelper PROPERTIES OUTPUT_NAME setuphelper)
target_include_directories(reskeeper_setuphelper PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(reskeeper_setuphelper PRIVATE -municode -mwindows -s)
target_link_libraries(reskeeper_setuphelper PRIVATE ole32 oleaut32 uuid advapi32 shell32 user32)
reskeeper_sign_target(reskeeper_setuphelper)

find_program(RESKEEPER_MAKENSIS makensis)
set(RESKEEPER_INSTALLER_TARGET amd64-unicode CACHE STRING "makensis target of the installer")
set(RESKEEPER_INSTALLER ${CMAKE_BINARY_DIR}/reskeeper-setup.exe)
set(script ${PROJECT_SOURCE_DIR}/packaging/windows/reskeeper.nsi)
set(icon ${PROJECT_SOURCE_DIR}/platform/reskeeper.ico)
set(programs reskeeper reskeeper_setuphelper)
set(defines)
if(TARGET reskeeperctl)
  list(APPEND defines -DCTL=$<TARGET_FILE:reskeeperctl>)
  list(APPEND programs reskeeperctl)
endif()
if(TARGET reskeeper_settings)
  list(APPEND defines -DSETTINGS=$<TARGET_FILE:reskeeper_settings>)
  list(APPEND programs reskeeper_settings)
endif()
if(RESKEEPER_SIGN_SCRIPT)
  # makensis signs the uninstaller before it goes into the setup, and then the setup.
  list(APPEND defines -DCMAKE=${CMAKE_COMMAND} -DSIGN_SCRIPT=${RESKEEPER_SIGN_SCRIPT})
endif()
if(RESKEEPER_MAKENSIS)
  add_custom_command(OUTPUT ${RESKEEPER_INSTALLER}
    COMMAND ${RESKEEPER_MAKENSIS} -V2 -WX -DVERSION=${PROJECT_VERSION}
            -DPROGRAM=$<TARGET_FILE:reskeeper> -DHELPER=$<TARGET_FILE:reskeeper_setuphelper>
            -DICON=${icon} -DOUTFILE=${RESKEEPER_INSTALLER}
            -DTARGET=${RESKEEPER_INSTALLER_TARGET} ${defines} ${script}
    DEPENDS ${programs} ${script} ${icon} ${PROJECT_SOURCE_DIR}/packaging/windows/wizard.bmp
    COMMENT "Building the installer reskeeper-setup.exe"
    VERBATIM)
  add_custom_target(installer ALL DEPENDS ${RESKEEPER_INSTALLER})
else()
  add_custom_target(installer
    COMMAND ${CMAKE_COMMAND} -E echo "makensis not found: apt-get install nsis"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
