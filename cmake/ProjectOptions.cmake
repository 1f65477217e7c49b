# Flags for the project's own targets (not for third-party code).
add_library(project_options INTERFACE)
target_compile_options(project_options INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror>)
# GCC 12 reports false -Wrestrict overlaps inside std::string at -O3 (GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(project_options INTERFACE -Wno-restrict)
endif()
# Release executables carry no symbols or debug sections (the static C++
# runtime brings its own).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_link_options(project_options INTERFACE $<$<CONFIG:Release>:-s>)
endif()
# Fixed texts of the program are code page 936 bytes on every platform.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(project_options INTERFACE -finput-charset=UTF-8 -fexec-charset=GBK)
endif()

set(REMINDER_SANITIZE "" CACHE STRING "Sanitizers: address, thread, or empty")
if(REMINDER_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(REMINDER_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The fuzz build instruments everything the targets link (runtime, crontab,
# web), not only the targets' own files; libFuzzer itself comes in at the
# targets' link.
if(REMINDER_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Adds a GoogleTest executable for NAME from the given sources, linked to LIBS;
# PROPERTIES are more test properties for each of its tests (a fixture).
function(reminder_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} project_options test_support GTest::gtest GTest::gtest_main GTest::gmock)
  set(crash "")
  if(CMAKE_CROSSCOMPILING AND WIN32)
    # A crash under Wine can end with status 0 once its debugger reported it.
    set(crash FAIL_REGULAR_EXPRESSION "Unhandled exception")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 ${crash} ${T_PROPERTIES})
endfunction()
