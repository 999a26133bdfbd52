# What a Windows build needs beyond the common settings (preset windows,
# toolchain cmake/mingw-w64.cmake).

# ICU is the static one from tools/windows/build-icu.sh. Its headers declare
# DLL imports unless told otherwise, and static archives must be linked in
# order: i18n before uc before the data.
find_package(ICU 60 REQUIRED COMPONENTS uc i18n data)
set_property(TARGET ICU::uc APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS U_STATIC_IMPLEMENTATION)
set_property(TARGET ICU::uc APPEND PROPERTY INTERFACE_LINK_LIBRARIES ICU::data)
set_property(TARGET ICU::i18n APPEND PROPERTY INTERFACE_LINK_LIBRARIES ICU::uc)

# windres, for the icons in resources/quorrel.rc.
enable_language(RC)

# Wide ("W") Windows entry points only: paths and text are UTF-16 at every
# system call, never the ANSI code page.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
# Shipped programs carry no symbols.
add_link_options($<$<CONFIG:Release,MinSizeRel>:-s>)
# Programs and test programs side by side, as they are shipped: a test finds
# quorrel-split.exe next to itself.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# The portable zip and the installer, in the build folder:
#   cmake --build --preset windows --target package-windows
add_custom_target(package-windows
  COMMAND sh ${PROJECT_SOURCE_DIR}/tools/windows/package.sh ${PROJECT_BINARY_DIR} ${PROJECT_VERSION}
  DEPENDS quorrel-split
  COMMENT "Packing quorrel-${PROJECT_VERSION}-windows-x64.zip and -setup.exe"
  USES_TERMINAL)
