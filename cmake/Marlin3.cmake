# Shared build settings and helpers.

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(MARLIN3_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# marlin3_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l] [LOCK resource])
# LOCK: tests that must not run beside others holding it (devwatch_process: some start DEVWATCH,
# others expect none running). SANITIZER_ENV: one VAR=value for the program's tests in sanitizer builds.
# One GoogleTest program per module; every case becomes a CTest test. tests/common/TestMain.cpp is its
# main: run by hand from the checkout, it works in its build folder as under ctest.
function(marlin3_test name)
  cmake_parse_arguments(T "" "LOCK;SANITIZER_ENV" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/common/TestMain.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    MARLIN3_SOURCE_DIR="${CMAKE_SOURCE_DIR}" MARLIN3_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/tests/common/TestMain.cpp PROPERTIES COMPILE_DEFINITIONS
    "MARLIN3_BUILD_DIR=\"${CMAKE_BINARY_DIR}\";MARLIN3_TEST_WORK_DIR=\"${CMAKE_CURRENT_BINARY_DIR}\"")
  set(props LABELS "${T_LABELS}")
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK "${T_LOCK}")
  endif()
  if(T_SANITIZER_ENV AND MARLIN3_SANITIZE)
    list(APPEND props ENVIRONMENT "${T_SANITIZER_ENV}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# Fuzzing: every object gets libFuzzer's coverage instrumentation; only the fuzz targets link its driver.
if(MARLIN3_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
