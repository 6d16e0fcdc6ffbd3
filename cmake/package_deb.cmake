# The Debian package (cpack -G DEB in the release build): the programs in /usr/bin with their
# manual pages, and an autostart entry that starts the keeper for every user of an X11 desktop
# in ~/.local/share/reskeeper, through a session script that prepares that folder.
set(deb ${PROJECT_SOURCE_DIR}/packaging/debian)
set(docdir share/doc/reskeeper)

# The programs besides the keeper, where this tree has them, and their manual pages.
set(RESKEEPER_LINUX_PROGRAMS reskeeper)
if(TARGET reskeeperctl)
  list(APPEND RESKEEPER_LINUX_PROGRAMS reskeeperctl)
endif()
set(manuals ${deb}/reskeeper.1)
if(TARGET reskeeperctl AND EXISTS ${PROJECT_SOURCE_DIR}/ctl/reskeeperctl.1)
  list(APPEND manuals ${PROJECT_SOURCE_DIR}/ctl/reskeeperctl.1)
endif()
if(TARGET reskeeperctl)
  install(TARGETS reskeeperctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Debian wants manual pages and the changelog compressed, reproducibly (gzip -9n).
find_program(RESKEEPER_GZIP gzip)
set(compressed)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
foreach(source ${manuals} ${deb}/changelog)
  get_filename_component(name ${source} NAME)
  if(name STREQUAL "changelog")
    set(name changelog.Debian)
  endif()
  set(output ${CMAKE_BINARY_DIR}/deb/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${RESKEEPER_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(deb_files ALL DEPENDS ${compressed})
list(FILTER compressed INCLUDE REGEX "\\.1\\.gz$")
install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz ${deb}/copyright
        DESTINATION ${docdir})
install(PROGRAMS ${deb}/reskeeper-session DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/reskeeper)
install(FILES ${deb}/reskeeper.desktop DESTINATION /etc/xdg/autostart)
install(FILES ${deb}/lintian-overrides DESTINATION share/lintian/overrides RENAME reskeeper)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME reskeeper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "reskeeper developers <reskeeper@example.org>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a screen resolution per user")
# The synopsis above; CPack indents these lines and writes the empty one as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "reskeeper is a small background program that switches the X display to the
resolution stored for the user who runs it, and records the present one for a
user seen for the first time, in a plain text file that any editor can change.

The package starts it at the start of every user's X11 desktop session, in
~/.local/share/reskeeper; it does nothing in a Wayland session.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${deb}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
