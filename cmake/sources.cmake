# The source files of the libraries, relative to the top folder: one list for the main build
# and the fuzz build alike.
set(RESKEEPER_PLATFORM_SOURCES platform/memory.cpp platform/file_${RESKEEPER_OS}.cpp
  platform/start_${RESKEEPER_OS}.cpp)
set(RESKEEPER_PREFS_SOURCES
  prefs/document.cpp prefs/arena.cpp prefs/parser.cpp prefs/writeback.cpp
  prefs/access.cpp prefs/group_index.cpp prefs/name_index.cpp prefs/textconv.cpp)
set(RESKEEPER_KEEPER_SOURCES keeper/keeper.cpp keeper/table.cpp keeper/steady_pass.cpp)
# Environment, display, time, the keeper's presence and the tools' calls: the real ones.
if(RESKEEPER_OS STREQUAL windows)
  set(RESKEEPER_SYSTEM_SOURCES platform/system_windows.cpp platform/display_windows.cpp
    platform/presence_windows.cpp platform/tools_windows.cpp)
else()
  set(RESKEEPER_SYSTEM_SOURCES platform/system_posix.cpp platform/display_x11.cpp
    platform/x11_connection.cpp platform/x11_output.cpp platform/presence_posix.cpp
    platform/tools_posix.cpp platform/modes_x11.cpp)
endif()
# The library reskeeperctl shares with reskeeper Settings, and reskeeperctl's command line.
set(RESKEEPER_CTL_SOURCES
  ctl/folder.cpp ctl/size.cpp ctl/names.cpp ctl/file.cpp ctl/modes.cpp ctl/status.cpp
  ctl/set.cpp)
set(RESKEEPER_CLI_SOURCES ctl/command_line.cpp ctl/exits.cpp ctl/verbs.cpp ctl/json.cpp)
