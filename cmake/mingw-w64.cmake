# Toolchain: 64-bit Windows programs cross-built on Debian with MinGW-w64
# (g++-mingw-w64-x86-64-posix: the posix thread model, the only one with
# std::thread in GCC 12), linked statically so an .exe imports system DLLs
# only, and run by ctest under wine.
#
# ICU comes from the cache tools/windows/build-icu.sh fills, found through
# QUORREL_ICU_ROOT (environment or cache variable).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(quorrel_triple x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${quorrel_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${quorrel_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${quorrel_triple}-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

if(NOT QUORREL_ICU_ROOT)
  if(DEFINED ENV{QUORREL_ICU_ROOT})
    set(QUORREL_ICU_ROOT "$ENV{QUORREL_ICU_ROOT}")
  else()
    # The newest that build-icu.sh made.
    file(GLOB quorrel_icu_roots /var/cache/quorrel/icu-*-mingw64)
    list(SORT quorrel_icu_roots COMPARE NATURAL)
    list(POP_BACK quorrel_icu_roots QUORREL_ICU_ROOT)
  endif()
endif()
set(QUORREL_ICU_ROOT "${QUORREL_ICU_ROOT}" CACHE PATH "Static ICU for MinGW-w64 (tools/windows/build-icu.sh)")
set(ICU_ROOT "${QUORREL_ICU_ROOT}")

# Headers and libraries from the MinGW sysroot and the ICU cache only, never
# the build machine's; programs (ICU's tools, wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${quorrel_triple} "${QUORREL_ICU_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every test and test discovery runs the .exe under wine, in a prefix of the
# build's own (tools/windows/wine.sh keeps wine's helpers off ctest's pipes).
get_filename_component(quorrel_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${quorrel_source_dir}/tools/windows/wine.sh;${CMAKE_BINARY_DIR}/wine")
