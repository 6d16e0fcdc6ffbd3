# Builds the Windows Installer package: cmake -P msi.cmake with
#   VERSION (x.y.z), OUTPUT (the .msi), PROGRAM (reskeeper.exe), SESSION (reskeeper-session.exe),
#   HELPER (setuphelper.exe, the setup's helper), WORK (a folder for intermediate files), and
#   optionally CTL (reskeeperctl.exe), SETTINGS (reskeeper-settings.exe), ICON (.ico), WIXL,
#   MSIBUILD.
# wixl makes the package from reskeeper.wxs; msibuild then adds what wixl cannot express.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../product.cmake)
foreach(required VERSION OUTPUT PROGRAM SESSION HELPER WORK)
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

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/Binary")
# wixl takes the files by paths relative to where it runs.
set(defines -D Version=${VERSION} -D ProductCode=${product_code})
# The product's facts the package script names.
foreach(fact KeeperProgram=KEEPER_PROGRAM SessionProgram=SESSION_PROGRAM CtlProgram=CTL_PROGRAM
             SettingsProgram=SETTINGS_PROGRAM StartupShortcut=STARTUP_SHORTCUT
             SettingsShortcut=SETTINGS_SHORTCUT FolderName=FOLDER_NAME RegistryKey=REGISTRY_KEY
             InstallLocationValue=INSTALL_LOCATION_VALUE LayoutValue=LAYOUT_VALUE
             DataFolderValue=DATA_FOLDER_VALUE LayoutUser=LAYOUT_USER LayoutShared=LAYOUT_SHARED)
  string(REPLACE "=" ";" fact "${fact}")
  list(GET fact 0 variable)
  list(GET fact 1 name)
  list(APPEND defines -D "${variable}=${RESKEEPER_${name}}")
endforeach()
foreach(input Program Session Ctl Settings Icon)
  string(TOUPPER ${input} variable)
  if(${variable})
    get_filename_component(name "${${variable}}" NAME)
    configure_file("${${variable}}" "${WORK}/${input}/${name}" COPYONLY)
    list(APPEND defines -D ${input}=${input}/${name})
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "msi.cmake: ${ARGN} failed (${status}):\n${out}")
  endif()
endfunction()

file(REMOVE "${OUTPUT}")
run(${WIXL} -a x64 ${defines} -o ${OUTPUT} ${CMAKE_CURRENT_LIST_DIR}/reskeeper.wxs)

# The setup's helper, which prepares the shared folder by the setup's own rules; stored in the
# package, not installed.
configure_file(${HELPER} ${WORK}/Binary/SetupHelperExe.ibd COPYONLY)
file(WRITE "${WORK}/Binary.idt"
  "Name\tData\ns72\tv0\nBinary\tName\nSetupHelperExe\tSetupHelperExe.ibd\n")
# The installed layout, read before anything else (AppSearch): Layout, and DataFolder, which an
# install that predates the choice recorded alone (2: the value as it is, 16: the 64-bit view).
file(WRITE "${WORK}/AppSearch.idt"
  "Property\tSignature_\ns72\ts72\nAppSearch\tProperty\tSignature_\n"
  "INSTALLEDLAYOUT\tInstalledLayout\nINSTALLEDDATAFOLDER\tInstalledDataFolder\n")
file(WRITE "${WORK}/RegLocator.idt"
  "Signature_\tRoot\tKey\tName\tType\ns72\ti2\ts255\tS255\tI2\nRegLocator\tSignature_\n"
  "InstalledLayout\t2\t${key}\t${RESKEEPER_LAYOUT_VALUE}\t18\n"
  "InstalledDataFolder\t2\t${key}\t${RESKEEPER_DATA_FOLDER_VALUE}\t18\n")
# DataFolder is the shared layout's alone: installing the per-user layout removes it, also where
# a shared install (or one that predates the choice) is changed into this one.
file(WRITE "${WORK}/RemoveRegistry.idt"
  "RemoveRegistry\tRoot\tKey\tName\tComponent_\ns72\ti2\tl255\tL255\ts72\n"
  "RemoveRegistry\tRemoveRegistry\n"
  "UserLayoutDataFolder\t2\t${key}\t${RESKEEPER_DATA_FOLDER_VALUE}\tUserLayout\n")
file(WRITE "${WORK}/MsiLockPermissionsEx.idt"
  "MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition\n"
  "s72\ts72\ts32\tS0\tS255\n"
  "MsiLockPermissionsEx\tMsiLockPermissionsEx\n"
  "ProgramFolderRights\tProgramFolder\tCreateFolder\t${RESKEEPER_FOLDER_RIGHTS}\t\n")

# Custom action types: 34 a program in a folder, 2 a program stored in the package; 64 its
# exit status ignored, 1024 deferred, 2048 as SYSTEM (not impersonating the user).
# A running program's file can be neither replaced nor removed: every program of the package
# ends first, whoever runs it, as with the setup (taskkill fails when none runs: ignored). In
# a major upgrade the older version, removed first, ends them with its own copy of the action.
set(end_keepers "\"[System64Folder]taskkill.exe\" /F")
foreach(program IN LISTS RESKEEPER_RUNNING_PROGRAMS)
  string(APPEND end_keepers " /IM ${program}")
endforeach()
set(shared "\"[CommonAppDataFolder]${RESKEEPER_FOLDER_NAME}\"")
set(when_shared "LAYOUT=\"${RESKEEPER_LAYOUT_SHARED}\" AND NOT REMOVE~=\"ALL\"")

# The layout: the property LAYOUT as the command line (or a transform's Property row) gives it,
# else the installed one, else shared for an install that predates the choice, else user; one
# named otherwise is refused (19: an error, which fails the install). The same in both
# sequences, before the conditions are evaluated (CostFinalize); secure, so that the
# installation's server side takes it from the client.
set(layout_queries)
# A custom action run in both sequences at `sequence` when `condition` holds.
function(layout_action name type source target condition sequence)
  list(APPEND layout_queries -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${name}', ${type}, '${source}', '${target}')")
  foreach(table InstallExecuteSequence InstallUISequence)
    list(APPEND layout_queries -q "INSERT INTO `${table}` (`Action`, `Condition`, `Sequence`) VALUES ('${name}', '${condition}', ${sequence})")
  endforeach()
  set(layout_queries "${layout_queries}" PARENT_SCOPE)
endfunction()
layout_action(SetInstalledLayout 51 LAYOUT "[INSTALLEDLAYOUT]" "NOT LAYOUT AND INSTALLEDLAYOUT" 52)
layout_action(SetPredatingLayout 51 LAYOUT ${RESKEEPER_LAYOUT_SHARED}
  "NOT LAYOUT AND INSTALLEDDATAFOLDER" 53)
layout_action(SetDefaultLayout 51 LAYOUT ${RESKEEPER_DEFAULT_LAYOUT} "NOT LAYOUT" 54)
# On a machine where this version is installed, naming the other layout is a reinstall that
# swaps the two layouts' components (transitive, below).
layout_action(ReinstallForLayout 51 REINSTALL ALL
  "Installed AND INSTALLEDLAYOUT AND LAYOUT<>INSTALLEDLAYOUT AND NOT REINSTALL AND NOT REMOVE" 56)
layout_action(RefuseLayout 19 ""
  "LAYOUT must be ${RESKEEPER_LAYOUT_USER} (a file for each user) or ${RESKEEPER_LAYOUT_SHARED} (one file for everyone)."
  "LAYOUT<>\"${RESKEEPER_LAYOUT_USER}\" AND LAYOUT<>\"${RESKEEPER_LAYOUT_SHARED}\"" 55)
foreach(table InstallExecuteSequence InstallUISequence)
  list(APPEND layout_queries -q "INSERT INTO `${table}` (`Action`, `Sequence`) VALUES ('AppSearch', 50)")
endforeach()

run(${MSIBUILD} ${OUTPUT} -i ${WORK}/Binary.idt -i ${WORK}/MsiLockPermissionsEx.idt
  -i ${WORK}/AppSearch.idt -i ${WORK}/RegLocator.idt -i ${WORK}/RemoveRegistry.idt
  ${layout_queries}
  -q "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED\\;WIX_UPGRADE_DETECTED\\;LAYOUT' WHERE `Property` = 'SecureCustomProperties'"
  # Each layout's component (its shortcut and registry values), transitive (64 + 256 64-bit +
  # 4 registry key path): a reinstall that names the other layout removes one and installs the
  # other.
  -q "UPDATE `Component` SET `Attributes` = 324, `Condition` = 'LAYOUT=\"${RESKEEPER_LAYOUT_USER}\"' WHERE `Component` = 'UserLayout'"
  -q "UPDATE `Component` SET `Attributes` = 324, `Condition` = 'LAYOUT=\"${RESKEEPER_LAYOUT_SHARED}\"' WHERE `Component` = 'SharedLayout'"
  # The programs' version resources (wixl does not read them), so that Windows Installer
  # compares versions as it does for any program.
  -q "UPDATE `File` SET `Version` = '${VERSION}.0'"
  # HKLM\Software\reskeeper goes as a whole at uninstall, as with the setup ('-': the key).
  -q "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('ProductKey', 2, '${key}', '-', 'Registration')"
  # Apps & Features shows the program folder, as the setup's entry does (51: set a property).
  -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetInstallLocation', 51, 'ARPINSTALLLOCATION', '[ProgramFiles64Folder]${RESKEEPER_FOLDER_NAME}')"
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('SetInstallLocation', 1001)"
  -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('EndKeepers', 3170, 'System64Folder', '${end_keepers}')"
  # The helper's examination of the shared folder, before anything is removed or changed: run
  # at once (2), as the installing user, whom the folders let read them, ahead of
  # RemoveExistingProducts, so that an upgrade it refuses leaves the installed version as it
  # is. Then, inside the transaction, as SYSTEM, the folders made or locked by the same helper
  # (any code but 0 fails the install, before anything is granted).
  -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('CheckSharedFolder', 2, 'SetupHelperExe', 'check shared ${shared}')"
  -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('PrepareSharedFolder', 3074, 'SetupHelperExe', 'shared ${shared}')"
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('CheckSharedFolder', '${when_shared}', 1390)"
  # Inside the transaction, before anything is removed or created: on install, repair and
  # uninstall the programs end; on install and repair the shared folder is made safe.
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('EndKeepers', 1501)"
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('PrepareSharedFolder', '${when_shared}', 1502)")
