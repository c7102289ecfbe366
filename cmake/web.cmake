# The WebAssembly build of the page (`make web`), with emscripten:
#   emcmake cmake -S . -B build-wasm -C cmake/web.cmake
# Only the page's module is built from it (target vendrak_web); exceptions
# are WebAssembly's own, which every current browser runs.
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
set(CMAKE_CXX_FLAGS "-fwasm-exceptions" CACHE STRING "")
set(CMAKE_EXE_LINKER_FLAGS "-fwasm-exceptions" CACHE STRING "")
set(VENDRAK_TESTS OFF CACHE BOOL "")
