# kestro_add_test(NAME <name> LABEL <subsystem> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>])
# Builds one GoogleTest program into <build>/bin and registers it with ctest under the
# subsystem label, so that `ctest -L serial` runs one subsystem's tests.
include(GoogleTest)
function(kestro_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT TARGET kestro_test_state_guard)
    # Every test program runs with a state folder of its own (see the file).
    add_library(kestro_test_state_guard OBJECT ${PROJECT_SOURCE_DIR}/tests/StateFolderGuard.cpp)
    target_link_libraries(kestro_test_state_guard PRIVATE kestro_core GTest::gtest kestro_warnings)
  endif()
  add_executable(${T_NAME} ${T_SOURCES} $<TARGET_OBJECTS:kestro_test_state_guard>)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} kestro_core GTest::gtest GTest::gtest_main kestro_warnings)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
