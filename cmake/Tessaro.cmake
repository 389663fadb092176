# Shared build settings and helpers for every module.

set(TESSARO_WARNINGS -Wall -Wextra -Wno-missing-field-initializers)
# The sanitizer build is CI's: there a warning fails the build.
option(TESSARO_WERROR "Treat warnings as errors" ${TESSARO_SANITIZE})
if(TESSARO_WERROR)
  list(APPEND TESSARO_WARNINGS -Werror)
endif()

if(TESSARO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TESSARO_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(TESSARO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TESSARO_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# tessaro_module(NAME): the library folder src/NAME, which must exist.
macro(tessaro_module module)
  if(NOT EXISTS ${CMAKE_SOURCE_DIR}/src/${module}/CMakeLists.txt)
    message(FATAL_ERROR "module src/${module} is missing (no src/${module}/CMakeLists.txt)")
  endif()
  add_subdirectory(src/${module})
endmacro()

# tessaro_library(NAME DIR <dir> [DEPS ...]): a static library of every .cpp directly in <dir>.
function(tessaro_library name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  if(NOT sources)
    message(FATAL_ERROR "library ${name}: no sources in ${ARG_DIR}")
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${TESSARO_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# tessaro_tests(NAME DIR <dir> | FILES <file>... [DEPS ...]): one GoogleTest program of every
# .cpp in <dir>, or of the files given.
function(tessaro_tests name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;FILES" ${ARGN})
  set(sources ${ARG_FILES})
  if(ARG_DIR)
    file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  endif()
  if(NOT sources)
    message(FATAL_ERROR "test program ${name}: no tests in ${ARG_DIR}${ARG_FILES}")
  endif()
  add_executable(${name} ${sources})
  target_compile_options(${name} PRIVATE ${TESSARO_WARNINGS})
  if(TESSARO_SANITIZE)
    # GoogleTest's EXPECT_EQ binds its operands to const references, and the
    # records under test are byte-packed by design; the libraries themselves
    # keep the alignment check.
    target_compile_options(${name} PRIVATE -fno-sanitize=alignment)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    TESSARO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TESSARO_BINARY_DIR="${CMAKE_BINARY_DIR}")
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TESSARO_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
