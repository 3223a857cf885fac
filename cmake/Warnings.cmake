# Warning flags for the project's own targets (not applied to third-party code).
function(tanvork_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TANVORK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A layer library: tanvork_<layer> from the given sources, include root src/.
function(tanvork_layer layer)
  add_library(tanvork_${layer} STATIC ${ARGN})
  target_include_directories(tanvork_${layer} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  tanvork_warnings(tanvork_${layer})
endfunction()

# A GoogleTest executable registered with CTest, one per layer.
function(tanvork_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE TANVORK_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
                                             TANVORK_SHARED_DIR="${PROJECT_SOURCE_DIR}/../shared")
  tanvork_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS ${name})
endfunction()
