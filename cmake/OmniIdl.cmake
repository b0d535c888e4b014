# Runs omniidl's C++ back end at build time.  Generated headers and sources go
# to ${OMNIIDL_OUTPUT_DIR}; nothing generated is ever committed.
find_program(OMNIIDL_EXECUTABLE omniidl REQUIRED)
set(OMNIIDL_OUTPUT_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${OMNIIDL_OUTPUT_DIR})

# omniidl_add_library(<target> IDL <files...> [INCLUDE_DIRS <dirs...>] [LINK <targets...>])
# Builds a static library from the stubs/skeletons (<name>SK.cc) and the
# TypeCode/Any support (<name>DynSK.cc) of each IDL file.
function(omniidl_add_library target)
  cmake_parse_arguments(ARG "" "" "IDL;INCLUDE_DIRS;LINK" ${ARGN})
  set(include_flags)
  set(idl_deps)
  foreach(dir IN LISTS ARG_INCLUDE_DIRS)
    list(APPEND include_flags -I${dir})
    file(GLOB dir_idl ${dir}/*.idl)
    list(APPEND idl_deps ${dir_idl})
  endforeach()
  set(sources)
  foreach(idl IN LISTS ARG_IDL)
    get_filename_component(name ${idl} NAME_WE)
    get_filename_component(idl_abs ${idl} ABSOLUTE)
    get_filename_component(idl_dir ${idl_abs} DIRECTORY)
    set(outputs
      ${OMNIIDL_OUTPUT_DIR}/${name}.hh
      ${OMNIIDL_OUTPUT_DIR}/${name}SK.cc
      ${OMNIIDL_OUTPUT_DIR}/${name}DynSK.cc)
    add_custom_command(
      OUTPUT ${outputs}
      COMMAND ${OMNIIDL_EXECUTABLE} -bcxx -Wba -Wbh=.hh -Wbs=SK.cc -Wbd=DynSK.cc
              -I${idl_dir} ${include_flags} -C${OMNIIDL_OUTPUT_DIR} ${idl_abs}
      DEPENDS ${idl_abs} ${idl_deps}
      COMMENT "omniidl ${name}.idl"
      VERBATIM)
    list(APPEND sources ${OMNIIDL_OUTPUT_DIR}/${name}SK.cc ${OMNIIDL_OUTPUT_DIR}/${name}DynSK.cc)
  endforeach()
  add_library(${target} STATIC ${sources})
  # Generated code is not ours to keep warning-free.
  target_compile_options(${target} PRIVATE -w)
  target_include_directories(${target} SYSTEM PUBLIC
    $<BUILD_INTERFACE:${OMNIIDL_OUTPUT_DIR}> $<INSTALL_INTERFACE:include/korvent/idl>)
  target_link_libraries(${target} PUBLIC PkgConfig::OMNIORB ${ARG_LINK})
endfunction()
