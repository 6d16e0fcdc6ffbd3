# The product's facts, written once: the programs, the folder and file names, the registry key
# and its values, the layouts, the rights the installers give and the setup's exit codes.
# Included by the build (which generates from them a header for C and C++, an include file for
# NSIS and a JSON file for the tests: reskeeper_write_product_facts) and by the Windows Installer
# package's script (packaging/windows/msi.cmake), which takes them as they are.

# The programs, installed side by side in the program folder: the keeper, the session starter
# of the per-user layout, the programs for people, and the setup's registered uninstall command
# (the helper) with the uninstaller it runs.
set(RESKEEPER_KEEPER_PROGRAM reskeeper.exe)
set(RESKEEPER_SESSION_PROGRAM reskeeper-session.exe)
set(RESKEEPER_CTL_PROGRAM reskeeperctl.exe)
set(RESKEEPER_SETTINGS_PROGRAM reskeeper-settings.exe)
set(RESKEEPER_UNINSTALL_PROGRAM uninstall.exe)
set(RESKEEPER_UNINSTALL_DATA uninstall.dat)
# The shortcuts: the all-users Startup folder's, and reskeeper Settings in the Start menu.
set(RESKEEPER_STARTUP_SHORTCUT reskeeper.lnk)
set(RESKEEPER_SETTINGS_SHORTCUT "reskeeper Settings.lnk")
# Every reskeeper program that can be running, which an install or uninstall ends first.
set(RESKEEPER_RUNNING_PROGRAMS ${RESKEEPER_KEEPER_PROGRAM} ${RESKEEPER_CTL_PROGRAM}
    ${RESKEEPER_SETTINGS_PROGRAM} ${RESKEEPER_SESSION_PROGRAM})
# Everything the program folder may hold.
set(RESKEEPER_PROGRAM_FILES ${RESKEEPER_RUNNING_PROGRAMS} ${RESKEEPER_UNINSTALL_PROGRAM}
    ${RESKEEPER_UNINSTALL_DATA})

# The folder of reskeeper's own in %ProgramFiles%, %ProgramData% (the shared layout) and each
# user's %APPDATA% (the per-user layout), and the keeper's file below its working folder.
set(RESKEEPER_FOLDER_NAME reskeeper)
set(RESKEEPER_DATA_FOLDER Data)
set(RESKEEPER_PREFERENCE_FILE Pref.txt)

# HKLM\Software\reskeeper (64-bit view): InstallLocation always, Layout (user or shared) always,
# DataFolder in the shared layout alone; an install with DataFolder and no Layout predates the
# choice, and had the shared file.
set(RESKEEPER_REGISTRY_KEY "Software\\reskeeper")
set(RESKEEPER_INSTALL_LOCATION_VALUE InstallLocation)
set(RESKEEPER_LAYOUT_VALUE Layout)
set(RESKEEPER_DATA_FOLDER_VALUE DataFolder)
set(RESKEEPER_UNINSTALL_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\reskeeper")
set(RESKEEPER_LAYOUT_USER user)
set(RESKEEPER_LAYOUT_SHARED shared)
set(RESKEEPER_DEFAULT_LAYOUT ${RESKEEPER_LAYOUT_USER})

# Rights (SDDL). Administrators and SYSTEM own and control every folder and file the installers
# make; Users read and run what is in the folders, and read and write the bytes of the shared
# Pref.txt (FILE_GENERIC_READ | FILE_WRITE_DATA: what every program opens it with), nothing
# more; inherited rights removed. What a locked folder holds gets the rights it would inherit.
set(RESKEEPER_FOLDER_RIGHTS "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)")
set(RESKEEPER_FILE_RIGHTS "O:BAG:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12008b;;;BU)")
set(RESKEEPER_INHERITED_FOLDER_RIGHTS
    "O:BAG:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)")
set(RESKEEPER_INHERITED_FILE_RIGHTS
    "O:BAG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)")
# The most an earlier version gave Users on Pref.txt (FILE_GENERIC_READ | FILE_GENERIC_WRITE):
# a file with these rights can only be an installer's.
set(RESKEEPER_EARLIER_USERS_FILE_ACCESS 0x12019F)

# The exit codes of the setup and its uninstall command, each as NAME CODE; the README's table
# lists exactly these. 20 to 26 are the helper's refusals, which the setup passes on.
set(RESKEEPER_SETUP_EXITS
  OK 0
  CANCELLED 1
  REFUSED_LINK 20
  REFUSED_OWNER 21
  REFUSED_HARD_LINKS 22
  REFUSED_FOREIGN 23
  REFUSED_KIND 24
  REFUSED_MOVABLE 25
  REFUSED_HELD 26
  NOT_ADMIN 740
  FAILED 1603
  NOT_INSTALLED 1605
  RETRY 1618
  UNSUPPORTED 1633
  USAGE 1639
  RESTART 3010)
# The helper's own code for a path it could not examine or lock, which the setup turns into
# FAILED.
set(RESKEEPER_HELPER_UNKNOWN 3)

# The facts' names in the generated files: every variable above but the lists.
set(RESKEEPER_PRODUCT_STRINGS
  KEEPER_PROGRAM SESSION_PROGRAM CTL_PROGRAM SETTINGS_PROGRAM UNINSTALL_PROGRAM UNINSTALL_DATA
  STARTUP_SHORTCUT SETTINGS_SHORTCUT FOLDER_NAME DATA_FOLDER PREFERENCE_FILE REGISTRY_KEY INSTALL_LOCATION_VALUE LAYOUT_VALUE
  DATA_FOLDER_VALUE UNINSTALL_KEY LAYOUT_USER LAYOUT_SHARED DEFAULT_LAYOUT FOLDER_RIGHTS
  FILE_RIGHTS INHERITED_FOLDER_RIGHTS INHERITED_FILE_RIGHTS)
set(RESKEEPER_PRODUCT_NUMBERS EARLIER_USERS_FILE_ACCESS HELPER_UNKNOWN)

# Writes the facts into FOLDER: product_facts.h (C and C++: RESKEEPER_<NAME> as a string, and
# RESKEEPER_<NAME>_W as a wide one; RESKEEPER_EXIT_<NAME> as a number; the lists as
# initialisers), product.nsh (NSIS: !define <NAME>, EXIT_<NAME>) and product.json (the tests).
# Each is rewritten only when it changes.
function(reskeeper_write_product_facts folder)
  set(header "// The product's facts, generated from packaging/product.cmake: do not edit.\n")
  string(APPEND header "#ifndef RESKEEPER_PRODUCT_FACTS_H\n#define RESKEEPER_PRODUCT_FACTS_H\n\n")
  set(nsis "; The product's facts, generated from packaging/product.cmake: do not edit.\n")
  set(json "{\n")
  foreach(name IN LISTS RESKEEPER_PRODUCT_STRINGS)
    set(value "${RESKEEPER_${name}}")
    string(REPLACE "\\" "\\\\" escaped "${value}")
    string(APPEND header "#define RESKEEPER_${name} \"${escaped}\"\n")
    string(APPEND header "#define RESKEEPER_${name}_W L\"${escaped}\"\n")
    string(APPEND nsis "!define ${name} \"${value}\"\n")
    string(APPEND json "  \"${name}\": \"${escaped}\",\n")
  endforeach()
  foreach(name IN LISTS RESKEEPER_PRODUCT_NUMBERS)
    string(APPEND header "#define RESKEEPER_${name} ${RESKEEPER_${name}}\n")
    string(APPEND nsis "!define ${name} ${RESKEEPER_${name}}\n")
    math(EXPR decimal "${RESKEEPER_${name}}")
    string(APPEND json "  \"${name}\": ${decimal},\n")
  endforeach()
  foreach(list PROGRAM_FILES RUNNING_PROGRAMS)
    set(wide)
    set(quoted)
    foreach(program IN LISTS RESKEEPER_${list})
      list(APPEND wide "L\"${program}\"")
      list(APPEND quoted "\"${program}\"")
    endforeach()
    list(JOIN wide ", " wide)
    list(JOIN quoted ", " quoted)
    list(JOIN RESKEEPER_${list} " " spaced)
    string(APPEND header "#define RESKEEPER_${list}_W ${wide}\n")
    string(APPEND nsis "!define ${list} \"${spaced}\"\n")
    string(APPEND json "  \"${list}\": [${quoted}],\n")
  endforeach()
  string(APPEND header "\n")
  set(exits)
  set(pairs ${RESKEEPER_SETUP_EXITS})
  while(pairs)
    list(POP_FRONT pairs name code)
    string(APPEND header "#define RESKEEPER_EXIT_${name} ${code}\n")
    string(APPEND nsis "!define EXIT_${name} ${code}\n")
    list(APPEND exits "\"${name}\": ${code}")
  endwhile()
  list(JOIN exits ", " exits)
  string(APPEND json "  \"SETUP_EXITS\": {${exits}}\n}\n")
  string(APPEND header "\n#endif\n")
  file(CONFIGURE OUTPUT ${folder}/product_facts.h CONTENT "${header}" @ONLY)
  file(CONFIGURE OUTPUT ${folder}/product.nsh CONTENT "${nsis}" @ONLY)
  file(CONFIGURE OUTPUT ${folder}/product.json CONTENT "${json}" @ONLY)
endfunction()
