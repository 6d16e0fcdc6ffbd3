# The product's facts, written once: the programs, the folder and file names, the registry key
# and its values, the layouts, the rights the package gives and its helper's exit codes.
# Included by the build (which generates from them a header for C and C++ and a JSON file for
# the tests: reskeeper_write_product_facts) and by the Windows Installer package's script
# (packaging/windows/msi.cmake), which takes them as they are.

# What reskeeper is, in the few words every package, program and manifest carries.
set(RESKEEPER_DESCRIPTION "Keeps a screen resolution per user")

# The programs, installed side by side in the program folder: the keeper, the session starter
# that starts it at each logon, the programs for people, and the package's helper, which only
# the package runs.
set(RESKEEPER_KEEPER_PROGRAM reskeeper.exe)
set(RESKEEPER_SESSION_PROGRAM reskeeper-session.exe)
set(RESKEEPER_CTL_PROGRAM reskeeperctl.exe)
set(RESKEEPER_SETTINGS_PROGRAM reskeeper-settings.exe)
set(RESKEEPER_HELPER_PROGRAM setuphelper.exe)
# The logon task that starts the session starter as every user logs on, and its definition,
# installed beside the programs.
set(RESKEEPER_TASK_NAME reskeeper)
set(RESKEEPER_TASK_DEFINITION reskeeper-logon.xml)
# The shortcuts: the all-users Startup folder's (where the Task Scheduler does not run the
# task), and reskeeper Settings in the Start menu.
set(RESKEEPER_STARTUP_SHORTCUT reskeeper.lnk)
set(RESKEEPER_SETTINGS_SHORTCUT "reskeeper Settings.lnk")
# Every reskeeper program that can be running, which an install, upgrade or removal ends first.
set(RESKEEPER_RUNNING_PROGRAMS ${RESKEEPER_KEEPER_PROGRAM} ${RESKEEPER_CTL_PROGRAM}
    ${RESKEEPER_SETTINGS_PROGRAM} ${RESKEEPER_SESSION_PROGRAM})

# The folder of reskeeper's own in %ProgramFiles%, %ProgramData% (the shared layout) and each
# user's %APPDATA% (the per-user layout), and the keeper's file below its working folder.
set(RESKEEPER_FOLDER_NAME reskeeper)
set(RESKEEPER_DATA_FOLDER Data)
set(RESKEEPER_PREFERENCE_FILE Pref.txt)

# HKLM\Software\reskeeper (64-bit view): InstallLocation and Layout (user or shared) always,
# DataFolder in the shared layout alone.
set(RESKEEPER_REGISTRY_KEY "Software\\reskeeper")
set(RESKEEPER_INSTALL_LOCATION_VALUE InstallLocation)
set(RESKEEPER_LAYOUT_VALUE Layout)
set(RESKEEPER_DATA_FOLDER_VALUE DataFolder)
set(RESKEEPER_LAYOUT_USER user)
set(RESKEEPER_LAYOUT_SHARED shared)
set(RESKEEPER_DEFAULT_LAYOUT ${RESKEEPER_LAYOUT_USER})

# Rights (SDDL). Administrators and SYSTEM own and control every folder and file the package
# makes; Users read and run what is in the folders, and read and write the bytes of the shared
# Pref.txt (FILE_GENERIC_READ | FILE_WRITE_DATA: what every program opens it with), nothing
# more; inherited rights removed. Once the machine has moved to files per user, Users may only
# read the old shared Pref.txt (FILE_GENERIC_READ), the record each user's own file starts from.
set(RESKEEPER_FOLDER_RIGHTS "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)")
set(RESKEEPER_FILE_RIGHTS "O:BAG:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12008b;;;BU)")
set(RESKEEPER_CLOSED_FILE_RIGHTS "O:BAG:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x120089;;;BU)")

# The exit codes of the package's helper, each as NAME CODE, which the Windows Installer log
# shows for a failed install; docs/windows.md's table lists exactly these.
set(RESKEEPER_HELPER_EXITS
  OK 0
  FAILED 3
  REFUSED_LINK 20
  REFUSED_OWNER 21
  REFUSED_HARD_LINKS 22
  REFUSED_KIND 23
  REFUSED_CHANGEABLE 24
  REFUSED_HELD 25
  REFUSED_OWN_FOLDER 26)

# The facts' names in the generated files: every variable above but the lists.
set(RESKEEPER_PRODUCT_STRINGS
  DESCRIPTION KEEPER_PROGRAM SESSION_PROGRAM CTL_PROGRAM SETTINGS_PROGRAM HELPER_PROGRAM TASK_NAME
  TASK_DEFINITION STARTUP_SHORTCUT SETTINGS_SHORTCUT FOLDER_NAME DATA_FOLDER PREFERENCE_FILE REGISTRY_KEY INSTALL_LOCATION_VALUE
  LAYOUT_VALUE DATA_FOLDER_VALUE LAYOUT_USER LAYOUT_SHARED DEFAULT_LAYOUT FOLDER_RIGHTS
  FILE_RIGHTS CLOSED_FILE_RIGHTS)

# Writes the facts into FOLDER: product_facts.h (C and C++: RESKEEPER_<NAME> as a string, and
# RESKEEPER_<NAME>_W as a wide one; RESKEEPER_EXIT_<NAME> as a number) and product.json (the
# tests). Each is rewritten only when it changes.
function(reskeeper_write_product_facts folder)
  set(header "// The product's facts, generated from packaging/product.cmake: do not edit.\n")
  string(APPEND header "#ifndef RESKEEPER_PRODUCT_FACTS_H\n#define RESKEEPER_PRODUCT_FACTS_H\n\n")
  set(json "{\n")
  foreach(name IN LISTS RESKEEPER_PRODUCT_STRINGS)
    set(value "${RESKEEPER_${name}}")
    string(REPLACE "\\" "\\\\" escaped "${value}")
    string(APPEND header "#define RESKEEPER_${name} \"${escaped}\"\n")
    string(APPEND header "#define RESKEEPER_${name}_W L\"${escaped}\"\n")
    string(APPEND json "  \"${name}\": \"${escaped}\",\n")
  endforeach()
  set(quoted)
  foreach(program IN LISTS RESKEEPER_RUNNING_PROGRAMS)
    list(APPEND quoted "\"${program}\"")
  endforeach()
  list(JOIN quoted ", " quoted)
  string(APPEND header "\n")
  string(APPEND json "  \"RUNNING_PROGRAMS\": [${quoted}],\n")
  set(exits)
  set(pairs ${RESKEEPER_HELPER_EXITS})
  while(pairs)
    list(POP_FRONT pairs name code)
    string(APPEND header "#define RESKEEPER_EXIT_${name} ${code}\n")
    list(APPEND exits "\"${name}\": ${code}")
  endwhile()
  list(JOIN exits ", " exits)
  string(APPEND json "  \"HELPER_EXITS\": {${exits}}\n}\n")
  string(APPEND header "\n#endif\n")
  file(CONFIGURE OUTPUT ${folder}/product_facts.h CONTENT "${header}" @ONLY)
  file(CONFIGURE OUTPUT ${folder}/product.json CONTENT "${json}" @ONLY)
endfunction()
