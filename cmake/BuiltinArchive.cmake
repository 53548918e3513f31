# The built-in archive: every file under data/archive/ packed at build time into a ustar image and linked into
# the program as a byte array (library target BuiltinArchive, header include/Engine/BuiltinArchive.h).
# Names are sorted and times, owners and modes fixed, so the same files always give the same bytes.

# Run as a script (cmake -DINPUT=<tar> -DOUTPUT=<file.c> -P BuiltinArchive.cmake) it writes the C source that
# defines g_BuiltinArchive and g_BuiltinArchiveSize from the bytes of INPUT.
if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT INPUT OR NOT OUTPUT)
    message(FATAL_ERROR "BuiltinArchive.cmake needs INPUT and OUTPUT in script mode")
  endif()
  file(READ ${INPUT} _hex HEX)
  file(SIZE ${INPUT} _size)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  # Sixteen bytes a line keeps the generated file readable in a compiler's diagnostics.
  string(REPEAT "0x[0-9a-f][0-9a-f]," 16 _line)
  string(REGEX REPLACE "(${_line})" "\\1\n" _bytes "${_bytes}")
  if(_size EQUAL 0)
    set(_bytes "0")
  endif()
  file(WRITE ${OUTPUT}.tmp
"/* Generated from the packed data/archive folder; do not edit. */
#include <stddef.h>

const unsigned char g_BuiltinArchive[] __attribute__((aligned(16))) = {
${_bytes}
};
const size_t g_BuiltinArchiveSize = ${_size};
")
  file(RENAME ${OUTPUT}.tmp ${OUTPUT})
  return()
endif()

find_program(VEXA_TAR_EXECUTABLE NAMES tar gtar REQUIRED)

set(VEXA_ARCHIVE_DIR ${PROJECT_SOURCE_DIR}/data/archive)
set(VEXA_ARCHIVE_OUT ${PROJECT_BINARY_DIR}/BuiltinArchive)
set(VEXA_ARCHIVE_TAR ${VEXA_ARCHIVE_OUT}/BuiltinArchive.tar)
set(VEXA_ARCHIVE_SOURCE ${VEXA_ARCHIVE_OUT}/BuiltinArchive.c)
set(VEXA_ARCHIVE_LIST ${VEXA_ARCHIVE_OUT}/files.txt)

file(GLOB_RECURSE _vexa_archive_files CONFIGURE_DEPENDS LIST_DIRECTORIES false
  RELATIVE ${VEXA_ARCHIVE_DIR} ${VEXA_ARCHIVE_DIR}/*)
list(SORT _vexa_archive_files)
set(_vexa_archive_inputs)
foreach(_file IN LISTS _vexa_archive_files)
  list(APPEND _vexa_archive_inputs ${VEXA_ARCHIVE_DIR}/${_file})
endforeach()

# The member list goes through a file so that names are never taken for options and an empty folder still
# gives a valid (empty) archive. It is only rewritten when it changes, so a reconfigure does not repack.
file(MAKE_DIRECTORY ${VEXA_ARCHIVE_OUT})
set(_vexa_archive_list_text "")
foreach(_file IN LISTS _vexa_archive_files)
  string(APPEND _vexa_archive_list_text "${_file}\n")
endforeach()
file(WRITE ${VEXA_ARCHIVE_LIST}.new "${_vexa_archive_list_text}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VEXA_ARCHIVE_LIST}.new ${VEXA_ARCHIVE_LIST})

add_custom_command(
  OUTPUT ${VEXA_ARCHIVE_TAR}
  COMMAND ${VEXA_TAR_EXECUTABLE} --format=ustar --mtime=@0 --owner=0 --group=0 --numeric-owner
          --mode=u=rw,go=r --no-recursion --verbatim-files-from
          -C ${VEXA_ARCHIVE_DIR} -cf ${VEXA_ARCHIVE_TAR} -T ${VEXA_ARCHIVE_LIST}
  DEPENDS ${_vexa_archive_inputs} ${VEXA_ARCHIVE_LIST}
  COMMENT "Packing the built-in archive"
  VERBATIM)

add_custom_command(
  OUTPUT ${VEXA_ARCHIVE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${VEXA_ARCHIVE_TAR} -DOUTPUT=${VEXA_ARCHIVE_SOURCE}
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${VEXA_ARCHIVE_TAR} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Embedding the built-in archive"
  VERBATIM)

add_library(BuiltinArchive STATIC ${VEXA_ARCHIVE_SOURCE})
target_include_directories(BuiltinArchive PUBLIC ${PROJECT_SOURCE_DIR}/include)

