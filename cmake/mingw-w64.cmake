# Cross-compiles vendrak for 64-bit Windows with MinGW-w64 (POSIX thread
# model), from Debian's g++-mingw-w64-x86-64-posix; `make windows` runs
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-windows --target vendrak vendrak-inspect vendrak-check vendrak-lsp
#
# The unit tests cross-build with GoogleTest compiled from its sources
# (-DVENDRAK_GTEST_SOURCE=/usr/src/googletest) and run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# No package of the build machine (its GoogleTest, say) in a Windows build.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Bit-fields laid out as GCC lays them out everywhere else: MinGW's default,
# the Microsoft layout, starts a new unit at every change of type, which
# would make the compiler's statement records larger. The Windows structures
# the platform layer passes to the system give all bit-fields of a group one
# type, so their layout is the same either way.
set(CMAKE_C_FLAGS_INIT "-mno-ms-bitfields")
set(CMAKE_CXX_FLAGS_INIT "-mno-ms-bitfields")

# One self-contained .exe: the C++ runtime, libgcc and winpthreads linked in,
# so nothing but system DLLs has to travel with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Header-only libraries of the build machine that the Windows programs use
# (nlohmann-json, for vendrak-lsp): a root of their own in the build
# directory holds links to their headers and CMake package files only, so
# that no other header of the build machine can be found.
set(vendrak_host_headers ${CMAKE_BINARY_DIR}/host-headers)
if(EXISTS /usr/include/nlohmann/json.hpp AND EXISTS /usr/share/cmake/nlohmann_json)
  file(MAKE_DIRECTORY ${vendrak_host_headers}/include ${vendrak_host_headers}/share/cmake)
  if(NOT EXISTS ${vendrak_host_headers}/include/nlohmann)
    file(CREATE_LINK /usr/include/nlohmann ${vendrak_host_headers}/include/nlohmann SYMBOLIC)
  endif()
  if(NOT EXISTS ${vendrak_host_headers}/share/cmake/nlohmann_json)
    file(CREATE_LINK /usr/share/cmake/nlohmann_json ${vendrak_host_headers}/share/cmake/nlohmann_json SYMBOLIC)
  endif()
  list(APPEND CMAKE_FIND_ROOT_PATH ${vendrak_host_headers})
endif()
