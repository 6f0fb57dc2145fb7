# Settings for the cross build of 32-bit Windows executables.

add_compile_options(-Wall -Wextra -Wno-unused-parameter)
add_compile_definitions(_WIN32_WINNT=0x0600 WINVER=0x0600 WIN32_LEAN_AND_MEAN NOMINMAX)

# Everything is linked statically: the executables import Windows system DLLs
# only (no libgcc, libstdc++, libwinpthread or zlib DLL beside them).
add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)

# zlib from Debian's libz-mingw-w64-dev, linked as a static archive.
find_library(KV_ZLIB_STATIC NAMES libz.a REQUIRED)
add_library(kv_zlib INTERFACE)
target_link_libraries(kv_zlib INTERFACE ${KV_ZLIB_STATIC})

# Win32 helpers shared by every subsystem (platform/win32.h, scoped handles,
# system libraries).
add_library(kv_platform STATIC ${CMAKE_SOURCE_DIR}/platform/system_library.cpp)
target_include_directories(kv_platform PUBLIC ${CMAKE_SOURCE_DIR})

# Turns a path of the build machine into the path a Wine process sees (Z:).
function(kv_wine_path out path)
  string(REPLACE "/" "\\" win "${path}")
  set(${out} "Z:${win}" PARENT_SCOPE)
endfunction()

# Marks an executable as a GUI program (no console window).
function(kv_gui_executable target)
  target_link_options(${target} PRIVATE -mwindows)
endfunction()
