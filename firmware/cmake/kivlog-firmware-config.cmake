# The kivlog firmware kit as a CMake package:
#
#   find_package(kivlog-firmware REQUIRED)
#   add_executable(umac.elf ...)
#   kivlog_firmware_core(umac.elf CORE 0)                 # include path, KIVLOG_CORE, wire format
#   target_link_options(umac.elf PRIVATE -T ${CMAKE_CURRENT_SOURCE_DIR}/memory.ld)
#                                                          # a script that INCLUDEs kivlog.ld
#   kivlog_merge_images(kiv_log.elf UMAC umac.elf LMAC lmac.elf)
#
# Installed with the tool in /usr/share/kivlog/firmware (and found there through
# /usr/share/cmake/kivlog-firmware); in a source tree, point kivlog-firmware_DIR at
# firmware/cmake.
#
# Variables:
#   KIVLOG_FIRMWARE_DIR            the kit's folder
#   KIVLOG_FIRMWARE_INCLUDE_DIRS   include/ (kivlog/kivlog.h), wire/ and host/
#   KIVLOG_FIRMWARE_LINKER_DIR     the folder of kivlog.ld and kivlog-flash.ld, for -L
#   KIVLOG_FIRMWARE_FRAGMENT       kivlog.ld, the default layout (out of the target)
#   KIVLOG_FIRMWARE_FLASH_FRAGMENT kivlog-flash.ld, the in-flash layout
# Targets:
#   kivlog::firmware   the header's include path and -L to the fragments
#   kivlog::wire       kivlog::firmware and the sources of the wire format and the record ring
include_guard(GLOBAL)

get_filename_component(KIVLOG_FIRMWARE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(KIVLOG_FIRMWARE_INCLUDE_DIRS
    "${KIVLOG_FIRMWARE_DIR}/include" "${KIVLOG_FIRMWARE_DIR}/wire" "${KIVLOG_FIRMWARE_DIR}/host")
set(KIVLOG_FIRMWARE_LINKER_DIR "${KIVLOG_FIRMWARE_DIR}")
set(KIVLOG_FIRMWARE_FRAGMENT "${KIVLOG_FIRMWARE_DIR}/kivlog.ld")
set(KIVLOG_FIRMWARE_FLASH_FRAGMENT "${KIVLOG_FIRMWARE_DIR}/kivlog-flash.ld")
set(kivlog-firmware_FOUND TRUE)

if(NOT TARGET kivlog::firmware)
  add_library(kivlog::firmware INTERFACE IMPORTED)
  set_target_properties(kivlog::firmware PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${KIVLOG_FIRMWARE_DIR}/include"
    INTERFACE_LINK_OPTIONS "-L${KIVLOG_FIRMWARE_LINKER_DIR}")
  add_library(kivlog::wire INTERFACE IMPORTED)
  set_target_properties(kivlog::wire PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${KIVLOG_FIRMWARE_DIR}/wire"
    INTERFACE_SOURCES "${KIVLOG_FIRMWARE_DIR}/wire/kivlog_wire.c;${KIVLOG_FIRMWARE_DIR}/wire/kivlog_ring.c"
    INTERFACE_LINK_LIBRARIES kivlog::firmware)
endif()

# kivlog_firmware_core(TARGET CORE 0|1 [NO_WIRE] [SOURCE_ROOT DIR])
# Builds TARGET's sources for the core (KIVLOG_CORE), with the kit's header, the linker fragments'
# folder and, unless NO_WIRE, the wire format and record ring. The file names the statements
# store are taken relative to SOURCE_ROOT (default: the calling project's source folder), so that
# they are the same on every machine.
function(kivlog_firmware_core target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_WIRE" "CORE;SOURCE_ROOT" "")
  if(NOT arg_CORE STREQUAL "0" AND NOT arg_CORE STREQUAL "1")
    message(FATAL_ERROR "kivlog_firmware_core(${target}): CORE must be 0 (UMAC) or 1 (LMAC)")
  endif()
  if(NOT arg_SOURCE_ROOT)
    set(arg_SOURCE_ROOT "${PROJECT_SOURCE_DIR}")
  endif()
  get_filename_component(root "${arg_SOURCE_ROOT}" ABSOLUTE)
  target_compile_definitions(${target} PRIVATE KIVLOG_CORE=${arg_CORE})
  target_compile_options(${target} PRIVATE "-fmacro-prefix-map=${root}/=")
  if(arg_NO_WIRE)
    target_link_libraries(${target} PRIVATE kivlog::firmware)
  else()
    target_link_libraries(${target} PRIVATE kivlog::wire)
  endif()
endfunction()

# kivlog_merge_images(OUTPUT UMAC umac LMAC lmac [TARGET name] [OBJCOPY path])
# The one file kivlog -f reads for a two-core firmware: the UMAC image with the LMAC image's
# kivlog section appended as one more, unloaded section. UMAC and LMAC are executable targets
# or ELF files; OUTPUT is written to the current binary folder by the target TARGET (default:
# kivlog_merge_ and OUTPUT as an identifier), built by default. OBJCOPY defaults to the
# toolchain's CMAKE_OBJCOPY.
function(kivlog_merge_images output)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "UMAC;LMAC;TARGET;OBJCOPY" "")
  if(NOT arg_UMAC OR NOT arg_LMAC)
    message(FATAL_ERROR "kivlog_merge_images(${output}): name the UMAC and the LMAC image")
  endif()
  if(NOT arg_OBJCOPY)
    set(arg_OBJCOPY "${CMAKE_OBJCOPY}")
  endif()
  set(files)
  set(depends)
  foreach(image IN ITEMS "${arg_UMAC}" "${arg_LMAC}")
    if(TARGET "${image}")
      list(APPEND files "$<TARGET_FILE:${image}>")
    else()
      get_filename_component(image "${image}" ABSOLUTE)
      list(APPEND files "${image}")
    endif()
    list(APPEND depends "${image}")
  endforeach()
  list(GET files 0 umac)
  list(GET files 1 lmac)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${output}")
  set(section "${CMAKE_CURRENT_BINARY_DIR}/${output}.lmac-kivlog.bin")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND "${arg_OBJCOPY}" "--dump-section" ".kivlog=${section}" "${lmac}"
    COMMAND "${arg_OBJCOPY}" "--add-section" ".kivlog.lmac=${section}"
            "--set-section-flags" ".kivlog.lmac=contents,readonly" "${umac}" "${out}"
    DEPENDS ${depends}
    COMMENT "Merging the UMAC and LMAC images into ${output}"
    VERBATIM)
  if(NOT arg_TARGET)
    string(MAKE_C_IDENTIFIER "kivlog_merge_${output}" arg_TARGET)
  endif()
  add_custom_target("${arg_TARGET}" ALL DEPENDS "${out}")
endfunction()
