# Writes the winget manifest set of a release: cmake -P winget.cmake with VERSION, MSI
# (reskeeper-<version>.msi), URL (where it is published), LICENSE, OUTPUT (the folder to write
# into), and MSIINFO.
# The files follow the layout of the community repository: manifests/r/reskeeper/reskeeper/
# <version>/ with the version, installer and default-locale manifests.
include(${CMAKE_CURRENT_LIST_DIR}/../product.cmake)
foreach(required VERSION MSI URL LICENSE OUTPUT MSIINFO)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "winget.cmake: define ${required}")
  endif()
endforeach()

set(id reskeeper.reskeeper)
# The schema the community repository accepts now.
set(schema 1.12.0)
set(header "# yaml-language-server: $schema=https://aka.ms/winget-manifest")

file(SHA256 ${MSI} msi_sha)
string(TOUPPER "${msi_sha}" msi_sha)
# The package's own product and upgrade codes, as Windows registers them.
execute_process(COMMAND ${MSIINFO} export ${MSI} Property OUTPUT_VARIABLE properties
                RESULT_VARIABLE status)
string(REGEX MATCH "ProductCode\t({[0-9A-F-]+})" found "${properties}")
set(product_code "${CMAKE_MATCH_1}")
string(REGEX MATCH "UpgradeCode\t({[0-9A-F-]+})" found "${properties}")
set(upgrade_code "${CMAKE_MATCH_1}")
if(NOT status EQUAL 0 OR NOT product_code OR NOT upgrade_code)
  message(FATAL_ERROR "winget.cmake: no ProductCode and UpgradeCode in ${MSI}")
endif()
get_filename_component(msi_name ${MSI} NAME)

file(REMOVE_RECURSE ${OUTPUT})
file(WRITE ${OUTPUT}/${id}.yaml "${header}.version.${schema}.schema.json

PackageIdentifier: ${id}
PackageVersion: ${VERSION}
DefaultLocale: en-US
ManifestType: version
ManifestVersion: ${schema}
")

# The Windows Installer package, the one installer: for every user, with an administrator;
# Windows 7 SP1 is the oldest it runs on. winget passes the silent switches, and knows Windows
# Installer's exit codes.
file(WRITE ${OUTPUT}/${id}.installer.yaml "${header}.installer.${schema}.schema.json

PackageIdentifier: ${id}
PackageVersion: ${VERSION}
MinimumOSVersion: 6.1.7601.0
Scope: machine
InstallModes:
- interactive
- silent
- silentWithProgress
UpgradeBehavior: install
ElevationRequirement: elevatesSelf
Installers:
- Architecture: x64
  InstallerType: msi
  InstallerUrl: ${URL}/${msi_name}
  InstallerSha256: ${msi_sha}
  InstallerSwitches:
    Silent: /qn
    SilentWithProgress: /qb!
  ProductCode: '${product_code}'
  AppsAndFeaturesEntries:
  - DisplayName: reskeeper
    Publisher: reskeeper
    DisplayVersion: ${VERSION}
    ProductCode: '${product_code}'
    UpgradeCode: '${upgrade_code}'
ManifestType: installer
ManifestVersion: ${schema}
")

file(WRITE ${OUTPUT}/${id}.locale.en-US.yaml "${header}.defaultlocale.${schema}.schema.json

PackageIdentifier: ${id}
PackageVersion: ${VERSION}
PackageLocale: en-US
Publisher: reskeeper
PackageName: reskeeper
License: ${LICENSE}
ShortDescription: ${RESKEEPER_DESCRIPTION}
Description: >-
  A small background program for shared PCs that switches the primary display to each user's
  stored resolution at logon and records a first-time user's present one, in a file of each
  user's own (or, installed with the shared layout, in one file for every user of the machine).
Tags:
- display
- resolution
- screen
# The publisher fills in where this release's notes are, e.g.
# ReleaseNotesUrl: https://example.org/reskeeper/releases/${VERSION}
ManifestType: defaultLocale
ManifestVersion: ${schema}
")
