# quorrel_add_test(<name> SOURCES ... LIBS ... [QT] [PREFIX <prefix>])
# GoogleTest targets are discovered case by case, named <prefix><Suite>.<Case>;
# Qt Test targets (QT) run as one test each on the offscreen platform, so they
# need no display.
find_package(GTest REQUIRED)
include(GoogleTest)

function(quorrel_add_test name)
  cmake_parse_arguments(arg "QT" "PREFIX" "SOURCES;LIBS" ${ARGN})
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
    gtest_discover_tests(${name} TEST_PREFIX "${arg_PREFIX}" DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
