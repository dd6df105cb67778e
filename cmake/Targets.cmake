# Helpers that keep each folder's CMakeLists short: a library folder holds
# thing.h / thing.cpp / thing_test.cpp trios; every .cpp that is not a test,
# a fuzz target or a main goes into the folder's library, every _test.cpp
# into one test program registered with CTest.

# zp_folder_library(NAME [SHARED] [EXCLUDE files...])
function(zp_folder_library name)
  cmake_parse_arguments(ARG "SHARED" "" "EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "(_test|_fuzz|/main)\\.cpp$")
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(ARG_SHARED)
    add_library(${name} SHARED ${sources})
  else()
    add_library(${name} STATIC ${sources})
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE zp_build_flags)
endfunction()

# zp_folder_tests(NAME LIBS...): NAME_tests from the folder's *_test.cpp.
function(zp_folder_tests name)
  if(NOT BUILD_TESTING)
    return()
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT tests)
    return()
  endif()
  add_executable(${name}_tests ${tests})
  target_link_libraries(${name}_tests PRIVATE ${ARGN} GTest::gtest GTest::gtest_main
                        GTest::gmock zp_build_flags)
  # Labelled with the folder's name, so that `ctest -L NAME` runs them alone.
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "ZP_TEST_BUILD_DIR=${CMAKE_BINARY_DIR}"
                                  LABELS ${name})
endfunction()

# zp_fuzz_target(NAME LIB): the libFuzzer program NAME from NAME.cpp, linked
# with LIB, when ZP_FUZZ is on (clang only).
function(zp_fuzz_target name lib)
  if(NOT ZP_FUZZ)
    return()
  endif()
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE ${lib} zp_build_flags)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
