# Shared part of the Windows cross-builds with Debian's mingw-w64 (posix thread model); included
# by mingw-w64-x86_64.cmake and mingw-w64-i686.cmake, which name KV_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC, C++ and thread runtimes are linked into every program and DLL, so nothing but the
# project's own DLLs has to travel beside the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# Tests and benchmarks run on the build machine only.
set(BUILD_TESTING OFF CACHE BOOL "Windows cross-build: tests run in the native build")
set(KV_BENCH OFF CACHE BOOL "Windows cross-build: benchmarks run in the native build")

# The header-only packages (JSON, CLI11) come from the host. Their CMake packages would add the
# host's /usr/include, whose C headers must not reach the cross-compiler, so each is staged
# with its headers alone in a prefix of its own.
function(kv_stage_host_header_package package header_dir)
  set(prefix ${CMAKE_BINARY_DIR}/host-headers/${package})
  if(NOT EXISTS ${prefix}/include/${header_dir})
    file(MAKE_DIRECTORY ${prefix}/include ${prefix}/share/cmake)
    file(COPY /usr/share/cmake/${package} DESTINATION ${prefix}/share/cmake)
    file(CREATE_LINK /usr/include/${header_dir} ${prefix}/include/${header_dir} SYMBOLIC)
  endif()
  set(${package}_DIR ${prefix}/share/cmake/${package} CACHE PATH "Host header-only package")
endfunction()
kv_stage_host_header_package(nlohmann_json nlohmann)
kv_stage_host_header_package(CLI11 CLI)
