# The source files of the libraries, relative to the top folder: one list for the main build
# and the fuzz build alike.
set(RESKEEPER_PLATFORM_SOURCES platform/memory.cpp platform/file_${RESKEEPER_OS}.cpp)
set(RESKEEPER_PREFS_SOURCES
  prefs/document.cpp prefs/arena.cpp prefs/parser.cpp prefs/writeback.cpp
  prefs/access.cpp prefs/group_index.cpp prefs/name_index.cpp prefs/textconv.cpp)
set(RESKEEPER_KEEPER_SOURCES keeper/keeper.cpp keeper/table.cpp keeper/steady_pass.cpp)
