# Setup executables. The launcher is linked once, as the stub
# launcher/Setup-stub.exe: its entry point and its fixed resources, no
# archives. Every setup executable with a payload is made from the stub by
# `kvpack setup`, which rebuilds the stub's resource section around the
# payload's archives; no compiler, resource compiler or linker takes part.

# kvpack from the host build tree.
set(KV_HOST_BUILD "" CACHE PATH "Host build tree that holds tools/kvpack/kvpack")
set(KV_KVPACK ${KV_HOST_BUILD}/tools/kvpack/kvpack)
set(KV_SETUP_STUB ${CMAKE_BINARY_DIR}/launcher/Setup-stub.exe)

# Links `target` as a setup executable. The string class and the memory
# reader are linked whole so that every member the executable exports is in
# it, used or not. The link is reproducible: no time stamp from the clock
# (the COFF header's and the export directory's are 0), no symbols.
function(kv_setup_executable target)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/launcher/win_main.cpp
                                   $<TARGET_OBJECTS:kv_resources>)
  target_link_libraries(${target} PRIVATE kv_launcher)
  target_link_options(${target} PRIVATE
    "LINKER:--whole-archive" $<TARGET_FILE:kv_zkstring> $<TARGET_FILE:kv_stream_core>
    "LINKER:--no-whole-archive" "LINKER:--no-insert-timestamp" -s
    # Every section starts on a page of the file, so that the system maps
    # the archives (and the code) straight from the file instead of copying
    # them into private memory at every start.
    "LINKER:--file-alignment,4096"
    # The image is mapped whole into one free range of the address space:
    # large-address-aware, a 64-bit system gives the process the range above
    # 2 GiB for it as well (the launcher treats no pointer as signed).
    "LINKER:--large-address-aware")
  kv_gui_executable(${target})
endfunction()

# The launcher stub that kvpack builds setup executables from: `target`
# (the launcher without archives) is also written as launcher/Setup-stub.exe.
function(kv_setup_stub target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${KV_SETUP_STUB}
    VERBATIM)
endfunction()

# kv_add_setup(<target> <payload-dir> [DEPENDS <targets that fill the payload>])
# builds <target>.exe in the current binary folder from a payload folder:
# one subfolder per archive (BASE, SETUPBASE, ...), or a ready <NAME>.kvarc
# file in its place, with `kvpack setup` and the stub. The payload is packed
# on every build. The packed archives are also left in <target>-archives/,
# as <NAME>.kvarc files and a payload.rc that embeds them (rewritten only
# when they change; payload.stamp changes with them), for programs that
# link the same archives.
#
# Test payloads may be incomplete or carry damaged archives on purpose (the
# launcher's handling of them is what they test): kvpack embeds them as they
# are here, where a publisher's build would refuse them.
function(kv_add_setup target payload_dir)
  cmake_parse_arguments(S "" "" "DEPENDS" ${ARGN})
  if(NOT EXISTS ${KV_KVPACK})
    message(FATAL_ERROR "kvpack not found at ${KV_KVPACK}: build the host tree first "
                        "and pass -DKV_HOST_BUILD=<host build tree> (scripts/build does)")
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}-archives)
  set(exe ${CMAKE_CURRENT_BINARY_DIR}/${target}.exe)
  add_custom_target(${target}_archives
    COMMAND ${KV_KVPACK} setup ${payload_dir} -o ${exe} --stub ${KV_SETUP_STUB}
            --save-archives ${out} --allow-missing-stage --unchecked-archives
    COMMAND ${CMAKE_COMMAND} -DDIR=${out} -P ${CMAKE_SOURCE_DIR}/cmake/KvPayloadStamp.cmake
    BYPRODUCTS ${out}/payload.rc ${out}/payload.stamp ${exe}
    COMMENT "Building ${target}.exe from its payload"
    VERBATIM)
  add_dependencies(${target}_archives Setup)
  if(S_DEPENDS)
    add_dependencies(${target}_archives ${S_DEPENDS})
  endif()
  add_custom_target(${target} ALL DEPENDS ${target}_archives)
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

# kv_add_linked_setup(<target> <payload-dir> [DEPENDS <targets that fill the
# payload>] SOURCES <entry point and resource objects>) links <target>.exe
# from the launcher library, the sources given and the payload's archives,
# packed by scripts/pack-payload into <target>-archives/payload.rc. For
# tests that need the launcher linked otherwise than the stub (without the
# splash dialog, with an entry point that injects an answer); every setup
# that ships is made from the stub.
function(kv_add_linked_setup target payload_dir)
  cmake_parse_arguments(S "" "" "DEPENDS;SOURCES" ${ARGN})
  set(archives ${CMAKE_CURRENT_BINARY_DIR}/${target}-archives)
  add_custom_target(${target}_archives
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/pack-payload ${payload_dir} ${archives} ${KV_KVPACK}
    BYPRODUCTS ${archives}/payload.rc ${archives}/payload.stamp
    COMMENT "Packing the payload of ${target}"
    VERBATIM)
  if(S_DEPENDS)
    add_dependencies(${target}_archives ${S_DEPENDS})
  endif()
  set_source_files_properties(${archives}/payload.rc PROPERTIES
    GENERATED TRUE OBJECT_DEPENDS ${archives}/payload.stamp)
  add_executable(${target} ${S_SOURCES} ${archives}/payload.rc)
  add_dependencies(${target} ${target}_archives)
  target_link_libraries(${target} PRIVATE kv_launcher)
  target_link_options(${target} PRIVATE
    "LINKER:--whole-archive" $<TARGET_FILE:kv_zkstring> $<TARGET_FILE:kv_stream_core>
    "LINKER:--no-whole-archive")
  kv_gui_executable(${target})
endfunction()
