# Flags and helpers shared by every target of the project.

set(TOVRICK_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  # GCC 12's flow analysis after heavy inlining reports null pointers and copy sizes in library
  # templates that cannot occur; the checked build (scripts/test) keeps these warnings as errors.
  list(APPEND TOVRICK_WARNINGS -Wno-stringop-overflow)
else()
  list(APPEND TOVRICK_WARNINGS -Wnull-dereference)
endif()
if(TOVRICK_WERROR)
  list(APPEND TOVRICK_WARNINGS -Werror)
endif()

if(TOVRICK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -O1)
  add_link_options(-fsanitize=address,undefined)
endif()

# Headers of the libraries we build on are system headers: their warnings are not ours.
set(CMAKE_NO_SYSTEM_FROM_IMPORTED OFF)

set(TOVRICK_PCH <QtCore/QtCore> <nlohmann/json.hpp>)
# Some imported libraries bring -pthread and some do not; a shared precompiled header needs one
# setting everywhere.
add_compile_options(-pthread)

# One precompiled header for all libraries and one for all tests: a header per target cost about
# 270 MB each in the checked build, several gigabytes in all.
function(tovrick_pch_target target)
  set(source ${CMAKE_BINARY_DIR}/${target}.cpp)
  file(WRITE ${source} "// the precompiled header's own unit\n")
  add_library(${target} OBJECT ${source})
  target_compile_options(${target} PRIVATE ${TOVRICK_WARNINGS})
  target_link_libraries(${target} PRIVATE Qt6::Core nlohmann_json::nlohmann_json ${ARGN})
endfunction()
tovrick_pch_target(tovrick_pch)
target_precompile_headers(tovrick_pch PRIVATE ${TOVRICK_PCH})

# tovrick_library(<target> [DIR <dir>] [DEPS <targets...>])
# One static library per source folder; its sources are the folder's own .cpp files.
function(tovrick_library target)
  cmake_parse_arguments(ARG "" "DIR" "DEPS" ${ARGN})
  if(NOT ARG_DIR)
    set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp ${ARG_DIR}/*.h ${ARG_DIR}/*.qrc)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(NOT sources)
    # A folder whose code has not been written yet still gives a target to link against.
    set(placeholder ${CMAKE_CURRENT_BINARY_DIR}/${target}_empty.cpp)
    file(WRITE ${placeholder} "// nothing here yet\nnamespace {}\n")
    set(sources ${placeholder})
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${TOVRICK_WARNINGS})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  target_precompile_headers(${target} REUSE_FROM tovrick_pch)
endfunction()

# tovrick_test(<target> DIR <dir> DEPS <targets...> [ENV <VAR=value...>] [TIMEOUT <s>] [LOCK <names...>]
#              [OPTIMISED] [OWN_SERVICES])
# One GoogleTest binary per source folder, with the shared main from tests/support. LOCK names
# resources (such as "display") that its tests must not share with other tests running at once.
# OPTIMISED tests also run against the optimised build (label "optimised"): a sanitizer's allocator
# hides some faults that only the program users run shows. OWN_SERVICES tests each start a display,
# buses and sound of their own (scripts/with-own-services) rather than use the run's.
function(tovrick_test target)
  cmake_parse_arguments(ARG "OPTIMISED;OWN_SERVICES" "DIR;TIMEOUT" "DEPS;ENV;LOCK" ${ARGN})
  set(labels "")
  if(ARG_OPTIMISED)
    set(labels optimised)
    set_property(GLOBAL APPEND PROPERTY TOVRICK_OPTIMISED_TESTS ${target})
  endif()
  if(NOT ARG_DIR)
    set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp ${ARG_DIR}/*.h)
  add_executable(${target} ${sources})
  target_compile_options(${target} PRIVATE ${TOVRICK_WARNINGS})
  target_link_libraries(${target} PRIVATE tovrick_test_support ${ARG_DEPS})
  target_precompile_headers(${target} REUSE_FROM tovrick_test_pch)
  if(ARG_OWN_SERVICES)
    # Each test on a display and buses of its own, beside the tests that share the run's.
    set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/with-own-services)
  endif()
  # An empty value would drop out of the list and shift every property after it onto the wrong name.
  set(properties TIMEOUT ${ARG_TIMEOUT})
  foreach(property IN ITEMS ENVIRONMENT:ENV RESOURCE_LOCK:LOCK LABELS:labels)
    string(REPLACE ":" ";" pair ${property})
    list(GET pair 0 name)
    list(GET pair 1 variable)
    if(variable STREQUAL "labels")
      set(value "${labels}")
    else()
      set(value "${ARG_${variable}}")
    endif()
    list(LENGTH value count)
    if(count GREATER 1)
      message(FATAL_ERROR "tovrick_test(${target}): ${variable} takes one value")
    elseif(count EQUAL 1)
      list(APPEND properties ${name} "${value}")
    endif()
  endforeach()
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()

# tovrick_fuzz(<name> <source> DEPS <targets...>)
# A fuzz target (a source defining LLVMFuzzerTestOneInput). With clang and TOVRICK_FUZZ it is a
# libFuzzer program; otherwise it is linked with a replay driver, and ctest runs it over its corpus
# in fuzz/corpus/<name>/ under the sanitizers of the build.
function(tovrick_fuzz name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  set(target fuzz_${name})
  if(TOVRICK_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(${target} ${source})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${target} ${source} ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  endif()
  target_compile_options(${target} PRIVATE ${TOVRICK_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS})
  if(TOVRICK_TESTS)
    add_test(NAME ${target} COMMAND ${target} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(${target} PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()

# tovrick_window_manager_test(<target> <gtest filter> [OPTIMISED])
# Some tests of a display test binary once more, on a display of their own under a reparenting window
# manager (scripts/with-window-manager), as on a user's desktop.
function(tovrick_window_manager_test target filter)
  cmake_parse_arguments(ARG "OPTIMISED" "" "" ${ARGN})
  set(name ${target}_under_window_manager)
  add_test(NAME ${name}
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-window-manager $<TARGET_FILE:${target}> --gtest_filter=${filter})
  set(properties TIMEOUT 300 ENVIRONMENT QT_QPA_PLATFORM=xcb)
  if(ARG_OPTIMISED)
    list(APPEND properties LABELS optimised)
  endif()
  set_tests_properties(${name} PROPERTIES ${properties})
endfunction()
