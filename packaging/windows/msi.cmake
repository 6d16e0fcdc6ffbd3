# Builds the Windows Installer package: cmake -P msi.cmake with
#   VERSION (x.y.z), OUTPUT (the .msi), PROGRAM (reskeeper.exe), SESSION (reskeeper-session.exe),
#   HELPER (setuphelper.exe), CTL (reskeeperctl.exe), SETTINGS (reskeeper-settings.exe), ICON
#   (.ico), WORK (a folder for intermediate files), and optionally WIXL and MSIBUILD.
# wixl makes the package from reskeeper.wxs; msibuild then adds what wixl cannot express.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../product.cmake)
foreach(required VERSION OUTPUT PROGRAM SESSION HELPER CTL SETTINGS ICON WORK)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "msi.cmake: define ${required}")
  endif()
endforeach()
if(NOT WIXL)
  find_program(WIXL wixl REQUIRED)
endif()
if(NOT MSIBUILD)
  find_program(MSIBUILD msibuild REQUIRED)
endif()

# The UpgradeCode (in reskeeper.wxs) stays for ever; each version is a product of its own,
# whose code follows from the version alone, so that building a version again gives it the
# same code.
string(UUID product_code NAMESPACE 633500E0-6CBE-4A5E-ACB4-D1D183434A67 NAME "${VERSION}"
       TYPE SHA1 UPPER)

set(key "${RESKEEPER_REGISTRY_KEY}")
set(user "${RESKEEPER_LAYOUT_USER}")
set(shared "${RESKEEPER_LAYOUT_SHARED}")

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
# wixl takes the files by paths relative to where it runs.
set(defines -D Version=${VERSION} -D ProductCode=${product_code})
# The product's facts the package script names.
foreach(fact Description=DESCRIPTION KeeperProgram=KEEPER_PROGRAM SessionProgram=SESSION_PROGRAM CtlProgram=CTL_PROGRAM
             SettingsProgram=SETTINGS_PROGRAM HelperProgram=HELPER_PROGRAM
             TaskDefinition=TASK_DEFINITION StartupShortcut=STARTUP_SHORTCUT
             SettingsShortcut=SETTINGS_SHORTCUT
             FolderName=FOLDER_NAME RegistryKey=REGISTRY_KEY
             InstallLocationValue=INSTALL_LOCATION_VALUE LayoutValue=LAYOUT_VALUE
             DataFolderValue=DATA_FOLDER_VALUE LayoutUser=LAYOUT_USER LayoutShared=LAYOUT_SHARED)
  string(REPLACE "=" ";" fact "${fact}")
  list(GET fact 0 variable)
  list(GET fact 1 name)
  list(APPEND defines -D "${variable}=${RESKEEPER_${name}}")
endforeach()
foreach(input Program Session Helper Ctl Settings Icon)
  string(TOUPPER ${input} variable)
  get_filename_component(name "${${variable}}" NAME)
  configure_file("${${variable}}" "${WORK}/${input}/${name}" COPYONLY)
  list(APPEND defines -D ${input}=${input}/${name})
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "msi.cmake: ${ARGN} failed (${status}):\n${out}")
  endif()
endfunction()

# The logon task's definition, from its template with the product's facts, in UTF-16 (what the
# Task Scheduler's own exports are in).
configure_file(${CMAKE_CURRENT_LIST_DIR}/reskeeper-logon.xml.in ${WORK}/Task/definition.utf8 @ONLY)
find_program(ICONV iconv REQUIRED)
run(${ICONV} -f UTF-8 -t UTF-16 -o ${WORK}/Task/${RESKEEPER_TASK_DEFINITION}
    ${WORK}/Task/definition.utf8)
list(APPEND defines -D Task=Task/${RESKEEPER_TASK_DEFINITION})

file(REMOVE "${OUTPUT}")
run(${WIXL} -a x64 ${defines} -o ${OUTPUT} ${CMAKE_CURRENT_LIST_DIR}/reskeeper.wxs)

# The installed layout, read before anything else (AppSearch; 2: the value as it is, 16: the
# 64-bit view).
file(WRITE "${WORK}/AppSearch.idt"
  "Property\tSignature_\ns72\ts72\nAppSearch\tProperty\tSignature_\n"
  "INSTALLEDLAYOUT\tInstalledLayout\n")
file(WRITE "${WORK}/RegLocator.idt"
  "Signature_\tRoot\tKey\tName\tType\ns72\ti2\ts255\tS255\tI2\nRegLocator\tSignature_\n"
  "InstalledLayout\t2\t${key}\t${RESKEEPER_LAYOUT_VALUE}\t18\n")
# DataFolder is the shared layout's alone: installing the per-user layout deletes it, also where
# a shared install is changed into this one.
file(WRITE "${WORK}/RemoveRegistry.idt"
  "RemoveRegistry\tRoot\tKey\tName\tComponent_\ns72\ti2\tl255\tL255\ts72\n"
  "RemoveRegistry\tRemoveRegistry\n"
  "UserLayoutDataFolder\t2\t${key}\t${RESKEEPER_DATA_FOLDER_VALUE}\tUserLayout\n")
file(WRITE "${WORK}/MsiLockPermissionsEx.idt"
  "MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition\n"
  "s72\ts72\ts32\tS0\tS255\n"
  "MsiLockPermissionsEx\tMsiLockPermissionsEx\n"
  "ProgramFolderRights\tProgramFolder\tCreateFolder\t${RESKEEPER_FOLDER_RIGHTS}\t\n")

set(queries)
# A custom action: name, type, source, target.
function(action name type source target)
  list(APPEND queries -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${name}', ${type}, '${source}', '${target}')")
  set(queries "${queries}" PARENT_SCOPE)
endfunction()
# Schedules an action in `tables` at `sequence` when `condition` holds.
function(schedule name condition sequence)
  foreach(table ${ARGN})
    list(APPEND queries -q "INSERT INTO `${table}` (`Action`, `Condition`, `Sequence`) VALUES ('${name}', '${condition}', ${sequence})")
  endforeach()
  set(queries "${queries}" PARENT_SCOPE)
endfunction()
set(both InstallExecuteSequence InstallUISequence)

# Custom action types: 51 sets a property, 19 fails the install with a message, 34 runs a
# program in a folder, 18 runs a program the package installs; 64 its exit code ignored, 1024
# deferred (in the transaction), 2048 as SYSTEM, 256 (with 1024) only when rolling back.

# The layout: LAYOUT as an administrator's command line or a transform's Property row gives it,
# else the installed one, else user; one named otherwise is refused. The same in both
# sequences, before the conditions are evaluated (CostFinalize). LAYOUT is no secure property:
# a standard user's command line never reaches the installation's server side, which keeps
# the installed layout; and a layout change asks for a real administrator (AdminUser, told
# from the user's actual rights: MSIUSEREALADMINDETECTION), so that a standard user's repair of
# an assigned package changes nothing.
schedule(AppSearch "" 50 ${both})
action(SetInstalledLayout 51 LAYOUT "[INSTALLEDLAYOUT]")
schedule(SetInstalledLayout "NOT LAYOUT AND INSTALLEDLAYOUT" 52 ${both})
action(SetDefaultLayout 51 LAYOUT ${RESKEEPER_DEFAULT_LAYOUT})
schedule(SetDefaultLayout "NOT LAYOUT" 54 ${both})
action(RefuseLayout 19 ""
  "LAYOUT must be ${user} (a file for each user) or ${shared} (one file for everyone).")
schedule(RefuseLayout "LAYOUT<>\"${user}\" AND LAYOUT<>\"${shared}\"" 55 ${both})
action(RefuseLayoutChange 19 ""
  "Only an administrator can change the layout (LAYOUT) of the installed reskeeper.")
schedule(RefuseLayoutChange
  "INSTALLEDLAYOUT AND LAYOUT<>INSTALLEDLAYOUT AND NOT REMOVE AND NOT AdminUser" 56
  InstallExecuteSequence)
# On a machine where this version is installed, naming the other layout is a reinstall that
# swaps the two layouts' components (transitive, below) and writes the Layout value again.
action(ReinstallForLayout 51 REINSTALL ALL)
schedule(ReinstallForLayout
  "Installed AND INSTALLEDLAYOUT AND LAYOUT<>INSTALLEDLAYOUT AND NOT REINSTALL AND NOT REMOVE"
  57 ${both})

# Apps & Features shows the program folder.
action(SetInstallLocation 51 ARPINSTALLLOCATION "[ProgramFiles64Folder]${RESKEEPER_FOLDER_NAME}")
schedule(SetInstallLocation "" 1001 InstallExecuteSequence)

# A running program's file can be neither replaced nor removed without a restart: on an
# install, an upgrade and a removal, every session's reskeeper programs end first (taskkill
# fails when none runs: ignored). Not on a repair, which a standard user can start: a file in
# use is then replaced at the next restart.
set(end_keepers "\"[System64Folder]taskkill.exe\" /F")
foreach(program IN LISTS RESKEEPER_RUNNING_PROGRAMS)
  string(APPEND end_keepers " /IM ${program}")
endforeach()
action(EndKeepers 3170 System64Folder "${end_keepers}")
schedule(EndKeepers "NOT Installed OR REMOVE~=\"ALL\"" 1501 InstallExecuteSequence)

# The shared folder: made by the installed helper, as SYSTEM, once the files are in place
# (any exit code but 0 fails the install, and the transaction rolls back). In the per-user
# layout the helper closes the package's own shared Pref.txt to Users' writes (its exit code
# ignored: in this layout nothing depends on that file, and the session starter relies on it
# only once it is closed).
set(folder "\"[CommonAppDataFolder]${RESKEEPER_FOLDER_NAME}\"")
action(PrepareSharedFolder 3090 HelperExe "shared ${folder}")
schedule(PrepareSharedFolder "LAYOUT=\"${shared}\" AND NOT REMOVE~=\"ALL\"" 4001
  InstallExecuteSequence)
action(CloseSharedFile 3154 HelperExe "close ${folder}")
schedule(CloseSharedFile "LAYOUT=\"${user}\" AND NOT REMOVE~=\"ALL\"" 4002
  InstallExecuteSequence)

# The logon task, registered by Windows' own tool as SYSTEM from the installed definition at
# every install, upgrade and repair (replacing what is there; after an upgrade's removal of the
# older version, below), deleted at removal (not the removal of an older version that an
# upgrade makes), each undone if the transaction rolls back. The exit codes are ignored: where
# the Task Scheduler does not run, the Startup shortcut starts the session starter all the
# same.
set(schtasks "\"[System64Folder]schtasks.exe\"")
set(create "${schtasks} /Create /XML \"[#TaskDefinition]\" /TN ${RESKEEPER_TASK_NAME} /F")
set(delete "${schtasks} /Delete /TN ${RESKEEPER_TASK_NAME} /F")
set(installing "NOT REMOVE~=\"ALL\"")
set(removing "REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE")
action(RollbackRegisterTask 3426 System64Folder "${delete}")
schedule(RollbackRegisterTask "${installing}" 6560 InstallExecuteSequence)
action(RegisterTask 3170 System64Folder "${create}")
schedule(RegisterTask "${installing}" 6570 InstallExecuteSequence)
action(RollbackUnregisterTask 3426 System64Folder "${create}")
schedule(RollbackUnregisterTask "${removing}" 3490 InstallExecuteSequence)
action(UnregisterTask 3170 System64Folder "${delete}")
schedule(UnregisterTask "${removing}" 3491 InstallExecuteSequence)

# The older version is removed inside the transaction, once the newer one's files, task and
# registry values are in place: an install that fails rolls back before the older version is
# touched, and a removal that fails rolls both back. The two versions' components that hold the
# same resources share their codes, so that removing the older one leaves them to the newer.
schedule(InstallExecute "" 6500 InstallExecuteSequence)

run(${MSIBUILD} ${OUTPUT} -i ${WORK}/MsiLockPermissionsEx.idt
  -i ${WORK}/AppSearch.idt -i ${WORK}/RegLocator.idt -i ${WORK}/RemoveRegistry.idt
  ${queries}
  -q "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED\\;WIX_UPGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'"
  -q "INSERT INTO `Property` (`Property`, `Value`) VALUES ('MSIUSEREALADMINDETECTION', '1')"
  -q "UPDATE `InstallExecuteSequence` SET `Sequence` = 6550 WHERE `Action` = 'RemoveExistingProducts'"
  # Each layout's component, transitive (64 + 256 64-bit, + 4 for a registry key path): a
  # reinstall that names the other layout removes one and installs the other.
  -q "UPDATE `Component` SET `Attributes` = 324, `Condition` = 'LAYOUT=\"${shared}\"' WHERE `Component` = 'SharedLayout'"
  -q "UPDATE `Component` SET `Attributes` = 320, `Condition` = 'LAYOUT=\"${user}\"' WHERE `Component` = 'UserLayout'"
  # The programs' version resources (wixl does not read them), so that Windows Installer
  # compares versions as it does for any program.
  -q "UPDATE `File` SET `Version` = '${VERSION}.0'"
  # HKLM\Software\reskeeper goes as a whole at removal ('-': the key).
  -q "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('ProductKey', 2, '${key}', '-', 'Registration')")
