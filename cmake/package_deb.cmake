# The Debian package (cpack -G DEB in the release build): the programs in /usr/bin with their
# manual pages, and an autostart entry that starts the keeper for every user of an X11 desktop
# in ~/.local/share/reskeeper, through a session script that prepares that folder.
set(deb ${PROJECT_SOURCE_DIR}/packaging/debian)
set(docdir share/doc/reskeeper)

# The programs for people, where this tree has them, with their manual pages (their own
# folder may install them too: the same files). CPack's pre-build script compresses the pages
# and the changelog.
set(manuals ${deb}/reskeeper.1)
if(TARGET reskeeperctl)
  install(TARGETS reskeeperctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(EXISTS ${PROJECT_SOURCE_DIR}/ctl/reskeeperctl.1)
    list(APPEND manuals ${PROJECT_SOURCE_DIR}/ctl/reskeeperctl.1)
  endif()
endif()
install(FILES ${manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${deb}/changelog DESTINATION ${docdir} RENAME changelog.Debian)
install(FILES ${deb}/copyright DESTINATION ${docdir})
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
set(CPACK_PRE_BUILD_SCRIPTS ${deb}/compress.cmake)
include(CPack)
