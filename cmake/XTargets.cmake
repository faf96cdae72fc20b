# Helpers shared by the module, test and benchmark folders.

include(GoogleTest)

# x_add_folders(folder ...): the folders' CMakeLists.txt below the current one, in the order
# given. A folder that is missing is an error: the tree is incomplete, nothing is skipped.
function(x_add_folders)
  foreach(folder ${ARGN})
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/CMakeLists.txt)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${folder}/CMakeLists.txt is missing: the source tree is incomplete (check out the whole repository)")
    endif()
    add_subdirectory(${folder})
  endforeach()
endfunction()

# x_add_library(name SOURCES ... [DEPENDS ...]): one static library per module.
function(x_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARG_DEPENDS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  endif()
endfunction()

# x_add_startup(library SOURCES ...): the units holding a module's start-up objects
# (foundation/xmodules.h). Nothing refers to them, so they are not archived in the library,
# where the linker would drop them: their objects go on the link line of every executable
# that links the library, directly or through other libraries.
function(x_add_startup library)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${library}_startup OBJECT ${ARG_SOURCES})
  target_include_directories(${library}_startup PRIVATE $<TARGET_PROPERTY:${library},INTERFACE_INCLUDE_DIRECTORIES>)
  add_dependencies(${library} ${library}_startup)
  # Not for object libraries, the start-up units themselves among them.
  set(consumer_links "$<NOT:$<STREQUAL:$<TARGET_PROPERTY:TYPE>,OBJECT_LIBRARY>>")
  target_link_libraries(${library} INTERFACE "$<${consumer_links}:$<TARGET_OBJECTS:${library}_startup>>")
endfunction()

# x_add_test(name SOURCES ... [LIBS ...] [THREADED] [ENVIRONMENT ...] [LABELS ...] [PROPERTIES ...])
# A GoogleTest executable whose tests CTest discovers when they run. Every test links the
# helpers of tests/support (library testsupport), whose folder is its one include folder.
# THREADED tests are also built and run under ThreadSanitizer by `make test`.
function(x_add_test name)
  cmake_parse_arguments(ARG "THREADED" "" "SOURCES;LIBS;ENVIRONMENT;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} testsupport GTest::gmock GTest::gtest_main Threads::Threads)
  set(labels ${ARG_LABELS})
  if(ARG_THREADED)
    list(APPEND labels threaded)
    set_property(GLOBAL APPEND PROPERTY X_THREADED_TESTS ${name})
  endif()
  set(properties "")
  if(labels)
    list(APPEND properties LABELS "${labels}")
  endif()
  if(ARG_ENVIRONMENT)
    # gtest_discover_tests keeps only the first entry of a list-valued property, so the
    # variables are set by running the tests (and their discovery) through env(1), in front
    # of the emulator of a cross build.
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR env ${ARG_ENVIRONMENT}
                                                                 ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  if(ARG_PROPERTIES)
    list(APPEND properties ${ARG_PROPERTIES})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ${properties} TIMEOUT 300)
endfunction()

# x_add_benchmark(name SOURCES ... [LIBS ...]): built by `make test`, never run by it.
function(x_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark_main)
endfunction()

# The `threaded-tests` target builds only the tests the ThreadSanitizer pass runs.
function(x_finish_targets)
  get_property(threaded GLOBAL PROPERTY X_THREADED_TESTS)
  add_custom_target(threaded-tests)
  if(threaded)
    add_dependencies(threaded-tests ${threaded})
  endif()
endfunction()

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
