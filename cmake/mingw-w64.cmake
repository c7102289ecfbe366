# Cross-compiles vendrak for 64-bit Windows with MinGW-w64 (POSIX thread
# model), from Debian's g++-mingw-w64-x86-64-posix:
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF -DVENDRAK_TOOLS=OFF
#   cmake --build build-windows --target vendrak
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One self-contained .exe: the C++ runtime, libgcc and winpthreads linked in,
# so nothing but system DLLs has to travel with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
