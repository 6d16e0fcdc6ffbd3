# Run by CPack on the staged package before it is packed (CPACK_PRE_BUILD_SCRIPTS): Debian
# wants manual pages and changelogs compressed, reproducibly (gzip -9n), whichever install
# rule put them there.
file(GLOB_RECURSE files "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/share/man/*"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/share/doc/*/changelog*")
foreach(file IN LISTS files)
  if(NOT file MATCHES "\\.gz$")
    execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "could not compress ${file}")
    endif()
  endif()
endforeach()
