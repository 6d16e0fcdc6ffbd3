# Every Windows program of reskeeper is made the same way: its version resource (the project's
# version, the program's name and description), its application manifest (run as the invoking
# user, or only as an administrator; per-monitor DPI aware; the Windows versions it was made
# for; optionally the themed common controls), the keeper's icon, the C and C++ runtimes linked
# in, no debug sections in a release, and a signature when the build signs.
#
#   reskeeper_windows_program(TARGET DESCRIPTION text [ADMINISTRATOR] [COMMON_CONTROLS])
#
# The target's OUTPUT_NAME, when set, is the program's name.
set(RESKEEPER_WINDOWS_PROGRAM_TEMPLATES ${CMAKE_CURRENT_LIST_DIR})

function(reskeeper_windows_program target)
  cmake_parse_arguments(PARSE_ARGV 1 program "ADMINISTRATOR;COMMON_CONTROLS" "DESCRIPTION" "")
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(PROGRAM_NAME ${name})
  set(PROGRAM_DESCRIPTION "${program_DESCRIPTION}")
  set(PROGRAM_ICON ${PROJECT_SOURCE_DIR}/platform/reskeeper.ico)
  set(PROGRAM_LEVEL asInvoker)
  if(program_ADMINISTRATOR)
    set(PROGRAM_LEVEL requireAdministrator)
  endif()
  set(PROGRAM_DEPENDENCY "")
  if(program_COMMON_CONTROLS)
    string(CONCAT PROGRAM_DEPENDENCY
      "  <dependency>\n    <dependentAssembly>\n"
      "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
      "version=\"6.0.0.0\"\n                        processorArchitecture=\"*\" "
      "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n"
      "    </dependentAssembly>\n  </dependency>\n")
  endif()
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/${name}.resources)
  set(PROGRAM_MANIFEST ${folder}/${name}.manifest)
  configure_file(${RESKEEPER_WINDOWS_PROGRAM_TEMPLATES}/windows_program.manifest.in
    ${PROGRAM_MANIFEST} @ONLY)
  configure_file(${RESKEEPER_WINDOWS_PROGRAM_TEMPLATES}/windows_program.rc.in
    ${folder}/${name}.rc @ONLY)
  set_source_files_properties(${folder}/${name}.rc PROPERTIES
    OBJECT_DEPENDS "${PROGRAM_MANIFEST};${PROGRAM_ICON}")
  target_sources(${target} PRIVATE ${folder}/${name}.rc)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
    $<$<CONFIG:Release,MinSizeRel>:-s>)
  reskeeper_sign_target(${target})
endfunction()
