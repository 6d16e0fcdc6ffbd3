# The Debian package (cpack -G DEB in the release build): the programs in /usr/bin with their
# manual pages, and an autostart entry that starts the keeper for every user of an X11 desktop
# in ~/.local/share/reskeeper, through a session script that prepares that folder.
set(deb ${PROJECT_SOURCE_DIR}/packaging/debian)
set(docdir share/doc/reskeeper)

# The keeper's manual page, the changelog and the autostart entry carry the project's version
# and description; reskeeperctl and its page come from ctl/. CPack's pre-build script
# compresses the pages and the changelog.
set(generated ${PROJECT_BINARY_DIR}/debian)
foreach(file reskeeper.1 changelog reskeeper.desktop)
  configure_file(${deb}/${file}.in ${generated}/${file} @ONLY)
endforeach()
install(FILES ${generated}/reskeeper.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${generated}/changelog DESTINATION ${docdir} RENAME changelog.Debian)
install(FILES ${deb}/copyright DESTINATION ${docdir})
install(PROGRAMS ${deb}/reskeeper-session DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/reskeeper)
install(FILES ${generated}/reskeeper.desktop DESTINATION /etc/xdg/autostart)
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
# Debian's synopsis starts in lower case.
string(SUBSTRING "${PROJECT_DESCRIPTION}" 0 1 first)
string(SUBSTRING "${PROJECT_DESCRIPTION}" 1 -1 rest)
string(TOLOWER "${first}" first)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${first}${rest}")
# The synopsis above; CPack indents these lines and writes the empty one as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "reskeeper is a small background program that switches the X display to the
resolution stored for the user who runs it, and records the present one for a
user seen for the first time, in a plain text file that any editor can change.

The package starts it at the start of every user's X11 desktop session, in
~/.local/share/reskeeper; it does nothing in a Wayland session.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${deb}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${deb}/compress.cmake)
include(CPack)
