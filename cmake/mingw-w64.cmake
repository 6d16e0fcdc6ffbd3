# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix thread model). Programs are
# linked statically against the C, C++ and thread runtimes so they need no DLLs besides
# Windows' own, and test programs run under wine in a prefix private to the build folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RESKEEPER_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RESKEEPER_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RESKEEPER_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RESKEEPER_MINGW_TRIPLE}-windres)

# Headers, libraries and packages come from the target's root only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${RESKEEPER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC 12 raises a false -Wrestrict inside libstdc++ when optimising std::string concatenation
# (GCC bug 105329), which -Werror would turn into a failed test build.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

# The oldest Windows the program runs on is Windows 7 SP1: the headers then declare nothing that
# came later, so no newer call can be taken by mistake.
string(APPEND CMAKE_C_FLAGS_INIT " -D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
string(APPEND CMAKE_CXX_FLAGS_INIT " -D_WIN32_WINNT=0x0601 -DWINVER=0x0601")

# No libgcc_s, libstdc++ or libwinpthread DLLs next to the executables.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest (and any try_run) start Windows programs through wine. The wrapper creates the private
# prefix on first use and waits for the wine server to leave before handing back the exit code.
set(CMAKE_CROSSCOMPILING_EMULATOR
    /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
