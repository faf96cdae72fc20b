# Settings of the Windows build.

# Every executable compiles in cmake/windows/binaryio.cpp: binary standard streams and
# files, as on Linux. Static libraries do not, so it is in each program once.
add_library(binaryio INTERFACE)
target_sources(binaryio INTERFACE
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:${CMAKE_SOURCE_DIR}/cmake/windows/binaryio.cpp>)
link_libraries(binaryio)

# Kernel, GDI and OpenGL calls are declared without dllimport, so that they go through the
# import libraries' stubs: a test double that defines such a function itself (the recording
# OpenGL, a program path of the test's choosing) can then stand in for it.
add_compile_definitions(_KERNEL32_ _GDI32_)

# Cross-built programs and tests run under Wine, in a Wine prefix of this build tree; CTest and
# GoogleTest's test discovery both start them through this emulator.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(XWINE_PREFIX ${CMAKE_BINARY_DIR}/wine CACHE PATH "Wine prefix the Windows tests run in")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run ${XWINE_PREFIX})
endif()
