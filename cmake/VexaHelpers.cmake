# vexa_add_library(NAME DIR [DEPS ...]): one static library per subsystem folder. Sources are globbed so that
# adding a unit to a subsystem needs no edit here.
function(vexa_add_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.c")
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()
