# Packaging. On Linux, the Debian package (package_deb.cmake). On Windows, a ZIP to unpack
# into a folder of its own, holding reskeeper.exe beside a Data folder with an empty Pref.txt,
# the file the program reads and writes in its current folder; the setup, the Windows
# Installer package and the winget manifests.
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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps a screen resolution per user")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# The installer (NSIS's makensis): build/windows/reskeeper-setup.exe, part of the build when
# makensis is there. RESKEEPER_INSTALLER_TARGET picks the installer's own stub: the 64-bit one
# that wine here runs, or x86-unicode, which still starts on 32-bit Windows to say it is refused.
# It carries setuphelper.exe, which examines every path before rights are granted on it (the
# MSI carries it too, to prepare the shared folder by the same rules). The programs for people
# go in beside the keeper when this build has them.
set(helper ${PROJECT_SOURCE_DIR}/packaging/windows/setuphelper)
configure_file(${helper}/setuphelper.rc.in ${CMAKE_BINARY_DIR}/setuphelper.rc @ONLY)
add_executable(reskeeper_setuphelper ${helper}/main.c ${helper}/hold.c ${helper}/folders.c
  ${helper}/desktop.c ${helper}/uninstall.c ${CMAKE_BINARY_DIR}/setuphelper.rc)
set_target_properties(reskeeper_setuphelper PROPERTIES OUTPUT_NAME setuphelper)
target_include_directories(reskeeper_setuphelper PRIVATE ${PROJECT_SOURCE_DIR}
  ${RESKEEPER_GENERATED})
target_link_options(reskeeper_setuphelper PRIVATE -municode -mwindows -s)
target_link_libraries(reskeeper_setuphelper PRIVATE ole32 oleaut32 uuid advapi32 shell32 user32
  ntdll)
reskeeper_sign_target(reskeeper_setuphelper)

find_program(RESKEEPER_MAKENSIS makensis)
set(RESKEEPER_INSTALLER_TARGET amd64-unicode CACHE STRING "makensis target of the installer")
set(RESKEEPER_INSTALLER ${CMAKE_BINARY_DIR}/reskeeper-setup.exe)
set(script ${PROJECT_SOURCE_DIR}/packaging/windows/reskeeper.nsi)
set(icon ${PROJECT_SOURCE_DIR}/platform/reskeeper.ico)
set(programs reskeeper reskeeper_session reskeeper_setuphelper)
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
    COMMAND ${RESKEEPER_MAKENSIS} -V2 -WX -DFACTS=${RESKEEPER_GENERATED}/product.nsh
            -DVERSION=${PROJECT_VERSION}
            -DPROGRAM=$<TARGET_FILE:reskeeper> -DSESSION=$<TARGET_FILE:reskeeper_session>
            -DHELPER=$<TARGET_FILE:reskeeper_setuphelper>
            -DICON=${icon} -DOUTFILE=${RESKEEPER_INSTALLER}
            -DTARGET=${RESKEEPER_INSTALLER_TARGET} ${defines} ${script}
    DEPENDS ${programs} ${script} ${icon} ${PROJECT_SOURCE_DIR}/packaging/windows/wizard.bmp
            ${RESKEEPER_GENERATED}/product.nsh
    COMMENT "Building the installer reskeeper-setup.exe"
    VERBATIM)
  add_custom_target(installer ALL DEPENDS ${RESKEEPER_INSTALLER})
else()
  add_custom_target(installer
    COMMAND ${CMAKE_COMMAND} -E echo "makensis not found: apt-get install nsis"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()

# ---- Packages for deploying to many machines ----------------------------------------------
if(NOT COMMAND reskeeper_sign_file_command)
  include(${PROJECT_SOURCE_DIR}/cmake/signing.cmake OPTIONAL)
endif()

# The programs every Windows package installs, in one place: the keeper, and the programs for
# people where this tree has them.
set(RESKEEPER_WINDOWS_PROGRAMS reskeeper reskeeper_session)
foreach(target reskeeperctl reskeeper_settings)
  if(TARGET ${target})
    list(APPEND RESKEEPER_WINDOWS_PROGRAMS ${target})
  endif()
endforeach()
set(RESKEEPER_ICON ${PROJECT_SOURCE_DIR}/platform/reskeeper.ico)

# The Windows Installer package (msitools' wixl and msibuild):
# build/windows/reskeeper-<version>.msi, part of the build when msitools are there.
find_program(RESKEEPER_WIXL wixl)
find_program(RESKEEPER_MSIBUILD msibuild)
set(RESKEEPER_MSI ${CMAKE_BINARY_DIR}/reskeeper-${PROJECT_VERSION}.msi)
set(msi_script ${PROJECT_SOURCE_DIR}/packaging/windows/msi.cmake)
set(msi_inputs -DPROGRAM=$<TARGET_FILE:reskeeper> -DSESSION=$<TARGET_FILE:reskeeper_session>)
set(msi_files ${PROJECT_SOURCE_DIR}/packaging/windows/reskeeper.wxs
  ${PROJECT_SOURCE_DIR}/packaging/product.cmake)
if(TARGET reskeeperctl)
  list(APPEND msi_inputs -DCTL=$<TARGET_FILE:reskeeperctl>)
endif()
if(TARGET reskeeper_settings)
  list(APPEND msi_inputs -DSETTINGS=$<TARGET_FILE:reskeeper_settings>)
endif()
if(EXISTS ${RESKEEPER_ICON})
  list(APPEND msi_inputs -DICON=${RESKEEPER_ICON})
  list(APPEND msi_files ${RESKEEPER_ICON})
endif()
# With signing on, the MSI is signed like the setup (COMMAND ... or nothing).
set(msi_sign)
if(COMMAND reskeeper_sign_file_command)
  reskeeper_sign_file_command(msi_sign ${RESKEEPER_MSI})
endif()
if(RESKEEPER_WIXL AND RESKEEPER_MSIBUILD)
  add_custom_command(OUTPUT ${RESKEEPER_MSI}
    COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION} -DOUTPUT=${RESKEEPER_MSI}
            ${msi_inputs} -DHELPER=$<TARGET_FILE:reskeeper_setuphelper>
            -DWORK=${CMAKE_BINARY_DIR}/msi -DWIXL=${RESKEEPER_WIXL}
            -DMSIBUILD=${RESKEEPER_MSIBUILD} -P ${msi_script}
    ${msi_sign}
    DEPENDS ${RESKEEPER_WINDOWS_PROGRAMS} reskeeper_setuphelper ${msi_script} ${msi_files}
    COMMENT "Building the Windows Installer package reskeeper-${PROJECT_VERSION}.msi"
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${RESKEEPER_MSI})
else()
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E echo "wixl or msibuild not found: apt-get install wixl msitools"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()

# The winget manifest set of the release, beside the two installers it names:
# build/windows/winget/manifests/r/reskeeper/reskeeper/<version>/.
set(RESKEEPER_RELEASE_URL "https://example.org/reskeeper/${PROJECT_VERSION}" CACHE STRING
    "Where the release's installers are published (the winget manifest's InstallerUrl)")
set(RESKEEPER_LICENSE "Proprietary" CACHE STRING "The license named in the winget manifest")
find_program(RESKEEPER_MSIINFO msiinfo)
set(RESKEEPER_WINGET ${CMAKE_BINARY_DIR}/winget/manifests/r/reskeeper/reskeeper/${PROJECT_VERSION})
set(winget_script ${PROJECT_SOURCE_DIR}/packaging/windows/winget.cmake)
if(RESKEEPER_MAKENSIS AND RESKEEPER_WIXL AND RESKEEPER_MSIBUILD AND RESKEEPER_MSIINFO)
  add_custom_command(OUTPUT ${RESKEEPER_WINGET}/reskeeper.reskeeper.installer.yaml
    COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION} -DSETUP=${RESKEEPER_INSTALLER}
            -DMSI=${RESKEEPER_MSI} -DURL=${RESKEEPER_RELEASE_URL} -DLICENSE=${RESKEEPER_LICENSE}
            -DOUTPUT=${RESKEEPER_WINGET} -DMSIINFO=${RESKEEPER_MSIINFO} -P ${winget_script}
    DEPENDS ${RESKEEPER_INSTALLER} ${RESKEEPER_MSI} ${winget_script}
    COMMENT "Writing the winget manifests of reskeeper ${PROJECT_VERSION}"
    VERBATIM)
  add_custom_target(winget ALL DEPENDS ${RESKEEPER_WINGET}/reskeeper.reskeeper.installer.yaml)
  add_dependencies(winget installer msi)
endif()
