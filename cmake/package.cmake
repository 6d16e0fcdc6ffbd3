# Packaging. On Linux, the Debian package (package_deb.cmake). On Windows, a ZIP to unpack
# into a folder of its own, holding reskeeper.exe beside a Data folder with an empty Pref.txt,
# the file the program reads and writes in its current folder; the Windows Installer package
# with its helper, and the winget manifests.
if(NOT WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/package_deb.cmake)
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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# The package's helper, which the Windows Installer package installs beside the programs and
# runs for the shared layout's folder (packaging/windows/setuphelper).
set(helper ${PROJECT_SOURCE_DIR}/packaging/windows/setuphelper)
add_executable(reskeeper_setuphelper WIN32 ${helper}/main.cpp ${helper}/held.cpp
  ${helper}/shared.cpp)
set_target_properties(reskeeper_setuphelper PROPERTIES OUTPUT_NAME setuphelper)
reskeeper_system_code(reskeeper_setuphelper)
target_link_libraries(reskeeper_setuphelper PRIVATE reskeeper_trust reskeeper_platform ntdll)
target_link_options(reskeeper_setuphelper PRIVATE -municode)
reskeeper_windows_program(reskeeper_setuphelper DESCRIPTION "reskeeper package helper"
  ADMINISTRATOR)

# The Windows Installer package (msitools' wixl and msibuild):
# build/windows/reskeeper-<version>.msi, part of the build when msitools are there.
find_program(RESKEEPER_WIXL wixl)
find_program(RESKEEPER_MSIBUILD msibuild)
set(RESKEEPER_MSI ${CMAKE_BINARY_DIR}/reskeeper-${PROJECT_VERSION}.msi)
set(msi_script ${PROJECT_SOURCE_DIR}/packaging/windows/msi.cmake)
# Every program the package installs, and its icon.
set(msi_programs reskeeper reskeeper_session reskeeper_setuphelper reskeeperctl
  reskeeper_settings)
set(icon ${PROJECT_SOURCE_DIR}/platform/reskeeper.ico)
set(msi_inputs -DPROGRAM=$<TARGET_FILE:reskeeper> -DSESSION=$<TARGET_FILE:reskeeper_session>
  -DHELPER=$<TARGET_FILE:reskeeper_setuphelper> -DCTL=$<TARGET_FILE:reskeeperctl>
  -DSETTINGS=$<TARGET_FILE:reskeeper_settings> -DICON=${icon})
set(msi_files ${PROJECT_SOURCE_DIR}/packaging/windows/reskeeper.wxs
  ${PROJECT_SOURCE_DIR}/packaging/windows/reskeeper-logon.xml.in
  ${PROJECT_SOURCE_DIR}/packaging/product.cmake ${icon})
# With signing on, the MSI is signed like the programs (COMMAND ... or nothing).
reskeeper_sign_file_command(msi_sign ${RESKEEPER_MSI})
if(RESKEEPER_WIXL AND RESKEEPER_MSIBUILD)
  add_custom_command(OUTPUT ${RESKEEPER_MSI}
    COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION} -DOUTPUT=${RESKEEPER_MSI}
            ${msi_inputs} -DWORK=${CMAKE_BINARY_DIR}/msi -DWIXL=${RESKEEPER_WIXL}
            -DMSIBUILD=${RESKEEPER_MSIBUILD} -P ${msi_script}
    ${msi_sign}
    DEPENDS ${msi_programs} ${msi_script} ${msi_files}
    COMMENT "Building the Windows Installer package reskeeper-${PROJECT_VERSION}.msi"
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${RESKEEPER_MSI})
else()
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E echo "wixl or msibuild not found: apt-get install wixl msitools"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()

# The winget manifest set of the release, beside the package it names:
# build/windows/winget/manifests/r/reskeeper/reskeeper/<version>/.
set(RESKEEPER_RELEASE_URL "https://example.org/reskeeper/${PROJECT_VERSION}" CACHE STRING
    "Where the release's package is published (the winget manifest's InstallerUrl)")
set(RESKEEPER_LICENSE "Proprietary" CACHE STRING "The license named in the winget manifest")
find_program(RESKEEPER_MSIINFO msiinfo)
set(RESKEEPER_WINGET ${CMAKE_BINARY_DIR}/winget/manifests/r/reskeeper/reskeeper/${PROJECT_VERSION})
set(winget_script ${PROJECT_SOURCE_DIR}/packaging/windows/winget.cmake)
if(RESKEEPER_WIXL AND RESKEEPER_MSIBUILD AND RESKEEPER_MSIINFO)
  add_custom_command(OUTPUT ${RESKEEPER_WINGET}/reskeeper.reskeeper.installer.yaml
    COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION} -DMSI=${RESKEEPER_MSI}
            -DURL=${RESKEEPER_RELEASE_URL} -DLICENSE=${RESKEEPER_LICENSE}
            -DOUTPUT=${RESKEEPER_WINGET} -DMSIINFO=${RESKEEPER_MSIINFO} -P ${winget_script}
    DEPENDS ${RESKEEPER_MSI} ${winget_script}
    COMMENT "Writing the winget manifests of reskeeper ${PROJECT_VERSION}"
    VERBATIM)
  add_custom_target(winget ALL DEPENDS ${RESKEEPER_WINGET}/reskeeper.reskeeper.installer.yaml)
  add_dependencies(winget msi)
endif()
