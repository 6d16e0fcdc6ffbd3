# Builds the Windows Installer package: cmake -P msi.cmake with
#   VERSION (x.y.z), OUTPUT (the .msi), PROGRAM (reskeeper.exe), HELPER (setuphelper.exe, the
#   setup's helper), WORK (a folder for intermediate files), and optionally CTL
#   (reskeeperctl.exe), SETTINGS (reskeeper-settings.exe), ICON (.ico), WIXL, MSIBUILD.
# wixl makes the package from reskeeper.wxs; msibuild then adds what wixl cannot express.
foreach(required VERSION OUTPUT PROGRAM HELPER WORK)
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

# The program folder's rights, as the setup's: Administrators and SYSTEM own and control it;
# Users read and run what it holds.
set(folder_rights "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)")

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/Binary")
# wixl takes the files by paths relative to where it runs.
set(defines -D Version=${VERSION} -D ProductCode=${product_code})
foreach(input Program Ctl Settings Icon)
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
file(WRITE "${WORK}/MsiLockPermissionsEx.idt"
  "MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition\n"
  "s72\ts72\ts32\tS0\tS255\n"
  "MsiLockPermissionsEx\tMsiLockPermissionsEx\n"
  "ProgramFolderRights\tProgramFolder\tCreateFolder\t${folder_rights}\t\n")

# Custom action types: 34 a program in a folder, 2 a program stored in the package; 64 its
# exit status ignored, 1024 deferred, 2048 as SYSTEM (not impersonating the user).
# A running program's file can be neither replaced nor removed: every program of the package
# ends first, whoever runs it, as with the setup (taskkill fails when none runs: ignored). In
# a major upgrade the older version, removed first, ends them with its own copy of the action.
set(end_keepers "\"[System64Folder]taskkill.exe\" /F /IM reskeeper.exe")
if(CTL)
  string(APPEND end_keepers " /IM reskeeperctl.exe")
endif()
if(SETTINGS)
  string(APPEND end_keepers " /IM reskeeper-settings.exe")
endif()
set(shared "\"[CommonAppDataFolder]reskeeper\"")
run(${MSIBUILD} ${OUTPUT} -i ${WORK}/Binary.idt -i ${WORK}/MsiLockPermissionsEx.idt
  # The programs' version resources (wixl does not read them), so that Windows Installer
  # compares versions as it does for any program.
  -q "UPDATE `File` SET `Version` = '${VERSION}.0'"
  # HKLM\Software\reskeeper goes as a whole at uninstall, as with the setup ('-': the key).
  -q "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('ProductKey', 2, 'Software\\reskeeper', '-', 'Registration')"
  # Apps & Features shows the program folder, as the setup's entry does (51: set a property).
  -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetInstallLocation', 51, 'ARPINSTALLLOCATION', '[ProgramFiles64Folder]reskeeper')"
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('SetInstallLocation', 1001)"
  -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('EndKeepers', 3170, 'System64Folder', '${end_keepers}')"
  # The helper's examination of the shared folder, before anything is removed or changed: run
  # at once (2), as the installing user, whom the folders let read them, ahead of
  # RemoveExistingProducts, so that an upgrade it refuses leaves the installed version as it
  # is. Then, inside the transaction, as SYSTEM, the folders made or locked by the same helper
  # (any code but 0 fails the install, before anything is granted).
  -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('CheckSharedFolder', 2, 'SetupHelperExe', 'check shared ${shared}')"
  -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('PrepareSharedFolder', 3074, 'SetupHelperExe', 'shared ${shared}')"
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('CheckSharedFolder', 'NOT REMOVE~=\"ALL\"', 1390)"
  # Inside the transaction, before anything is removed or created: on install, repair and
  # uninstall the programs end; on install and repair the shared folder is made safe.
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('EndKeepers', 1501)"
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('PrepareSharedFolder', 'NOT REMOVE~=\"ALL\"', 1502)")
