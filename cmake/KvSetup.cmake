# Setup executables: the launcher's entry point, its fixed resources and,
# for a payload, the payload's archive resources.

# kvpack from the host build tree packs payload folders into archives.
set(KV_HOST_BUILD "" CACHE PATH "Host build tree that holds tools/kvpack/kvpack")
set(KV_KVPACK ${KV_HOST_BUILD}/tools/kvpack/kvpack)

# Links `target` as a setup executable. The string class and the memory
# reader are linked whole so that every member the executable exports is in
# it, used or not.
function(kv_setup_executable target)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/launcher/win_main.cpp
                                   $<TARGET_OBJECTS:kv_resources>)
  target_link_libraries(${target} PRIVATE kv_launcher)
  target_link_options(${target} PRIVATE
    "LINKER:--whole-archive" $<TARGET_FILE:kv_zkstring> $<TARGET_FILE:kv_stream_core>
    "LINKER:--no-whole-archive")
  kv_gui_executable(${target})
endfunction()

# kv_add_setup(<target> <payload-dir> [DEPENDS <targets that fill the payload>])
# builds <target>.exe from a payload folder: one subfolder per archive
# (BASE, SETUPBASE, ...), or a ready <NAME>.kvarc file in its place. The
# payload is packed on every build; the executable is relinked only when
# an archive changed.
function(kv_add_setup target payload_dir)
  cmake_parse_arguments(S "" "" "DEPENDS" ${ARGN})
  if(NOT EXISTS ${KV_KVPACK})
    message(FATAL_ERROR "kvpack not found at ${KV_KVPACK}: build the host tree first "
                        "and pass -DKV_HOST_BUILD=<host build tree> (scripts/build does)")
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}-archives)
  add_custom_target(${target}_archives
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/pack-payload ${payload_dir} ${out} ${KV_KVPACK}
    BYPRODUCTS ${out}/payload.rc ${out}/payload.stamp
    COMMENT "Packing the payload of ${target}"
    VERBATIM)
  if(S_DEPENDS)
    add_dependencies(${target}_archives ${S_DEPENDS})
  endif()
  add_executable(${target} ${out}/payload.rc)
  set_source_files_properties(${out}/payload.rc PROPERTIES
    GENERATED TRUE OBJECT_DEPENDS ${out}/payload.stamp)
  add_dependencies(${target} ${target}_archives)
  kv_setup_executable(${target})
endfunction()

# kv_add_stand_in_setup(<target> [FROM <payload-dir>] [EMPTY_FILES <relative paths>])
# builds <target>.exe from a payload assembled in the build tree: a copy of
# <payload-dir> (if given), the empty files named (git keeps no empty
# files), and the two stand-ins, StageRun.exe and holdproc.exe, in BASE.
function(kv_add_stand_in_setup target)
  cmake_parse_arguments(S "" "FROM" "EMPTY_FILES" ${ARGN})
  set(payload ${CMAKE_CURRENT_BINARY_DIR}/${target}-payload)
  set(commands COMMAND ${CMAKE_COMMAND} -E rm -rf ${payload})
  if(S_FROM)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${S_FROM} ${payload})
  endif()
  foreach(file ${S_EMPTY_FILES})
    get_filename_component(folder ${payload}/${file} DIRECTORY)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
                         COMMAND ${CMAKE_COMMAND} -E touch ${payload}/${file})
  endforeach()
  add_custom_target(${target}_payload
    ${commands}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${payload}/BASE
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:StageRun> $<TARGET_FILE:holdproc> ${payload}/BASE/
    DEPENDS StageRun holdproc
    COMMENT "Assembling the payload of ${target}"
    VERBATIM)
  kv_add_setup(${target} ${payload} DEPENDS ${target}_payload)
endfunction()
