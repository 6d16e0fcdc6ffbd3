# GoogleTest for the Windows build: compiled from Debian's sources with the cross compiler,
# since there is no prebuilt Windows library. Gives GTest::gtest and GTest::gtest_main.
set(RESKEEPER_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${RESKEEPER_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${RESKEEPER_GOOGLETEST_SOURCE} "
                      "(apt-get install googletest)")
endif()

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF)

# SYSTEM: its headers raise no warnings in our tests; EXCLUDE_FROM_ALL: built only when a test
# needs it.
add_subdirectory(${RESKEEPER_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest
                 EXCLUDE_FROM_ALL SYSTEM)

# Its own sources are not ours to keep warning-free, and our -Werror must not stop them.
foreach(target gtest gtest_main)
  target_compile_options(${target} PRIVATE -w)
endforeach()

# GoogleTest names them GTest::gtest and GTest::gtest_main itself; make sure they are there.
foreach(target gtest gtest_main)
  if(NOT TARGET GTest::${target})
    add_library(GTest::${target} ALIAS ${target})
  endif()
endforeach()
