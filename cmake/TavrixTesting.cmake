# Helpers for tests and benchmarks.
#
# tavrix_add_test(NAME name SOURCES a.cpp b.cpp [LABELS unit|integration ...] [LIBS extra ...])
#   Builds one GoogleTest executable linked with the core library and registers its tests with
#   CTest. Tests labelled "unit" also run in the sanitizer builds (make test-asan / test-tsan);
#   the sanitizer builds do not build the others.
# tavrix_add_bench(NAME name SOURCES a.cpp [LIBS extra ...])
#   Builds one Google Benchmark executable; `make bench` runs every one of them.

if(TAVRIX_BUILD_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

set_property(GLOBAL PROPERTY TAVRIX_BENCHMARKS "")

function(tavrix_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LABELS;LIBS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT TAVRIX_BUILD_TESTS OR (TAVRIX_SANITIZE AND NOT "unit" IN_LIST T_LABELS))
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_compile_options(${T_NAME} PRIVATE ${TAVRIX_WARNINGS})
  target_link_libraries(${T_NAME} PRIVATE tavrix_core GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()

function(tavrix_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT TAVRIX_BUILD_BENCH)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${B_NAME} ${B_SOURCES})
  target_compile_options(${B_NAME} PRIVATE ${TAVRIX_WARNINGS})
  target_link_libraries(${B_NAME} PRIVATE tavrix_core benchmark::benchmark ${B_LIBS})
  set_property(GLOBAL APPEND PROPERTY TAVRIX_BENCHMARKS ${B_NAME})
endfunction()
