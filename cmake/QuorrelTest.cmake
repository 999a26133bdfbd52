# quorrel_add_test(<name> SOURCES ... LIBS ... [QT] [PREFIX <prefix>] [NOT_ON_WINDOWS case...])
# GoogleTest targets are discovered case by case, named <prefix><Suite>.<Case>;
# Qt Test targets (QT) run as one test each on the offscreen platform, so they
# need no display.
if(CMAKE_CROSSCOMPILING)
  # No GoogleTest is packaged for the target: build Debian's sources with the
  # cross compiler. Cases are listed when ctest runs, through the emulator,
  # not as a build step.
  set(QUORREL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for a cross build")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUORREL_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(quorrel_discovery_mode PRE_TEST)
else()
  find_package(GTest REQUIRED)
  set(quorrel_discovery_mode POST_BUILD)
endif()
include(GoogleTest)

function(quorrel_add_test name)
  cmake_parse_arguments(arg "QT" "PREFIX" "SOURCES;LIBS;NOT_ON_WINDOWS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_compile_definitions(${name} PRIVATE
    QUORREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUORREL_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(arg_QT)
    find_package(Qt6 REQUIRED COMPONENTS Test)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE ${arg_LIBS} Qt6::Test)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest_main)
    set(filter)
    if(WIN32 AND arg_NOT_ON_WINDOWS)
      list(JOIN arg_NOT_ON_WINDOWS ":" excluded)
      set(filter TEST_FILTER "-${excluded}")
    endif()
    gtest_discover_tests(${name} TEST_PREFIX "${arg_PREFIX}" DISCOVERY_TIMEOUT 60 DISCOVERY_MODE ${quorrel_discovery_mode} ${filter})
  endif()
endfunction()
