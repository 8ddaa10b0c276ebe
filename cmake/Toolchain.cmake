# Project-wide compile settings: one warning list, the sanitizer switch, export rules and the
# source names that log lines carry.

# The single warning list of the project. Every target links zoltsh_warnings.
add_library(zoltsh_warnings INTERFACE)
target_compile_options(zoltsh_warnings INTERFACE -Wall -Wextra)
if(ZOLTSH_WERROR)
  target_compile_options(zoltsh_warnings INTERFACE -Werror)
endif()

if(ZOLTSH_BUILD_FUZZ)
  # Fuzz targets and everything they link carry coverage and the sanitizers.
  set(ZOLTSH_SANITIZE ON)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(ZOLTSH_SANITIZE)
  set(_zoltsh_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_zoltsh_san})
  add_link_options(${_zoltsh_san})
endif()

# Shared objects export only what is marked with an export macro.
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# Log lines and error records name a source file by its path below the source folder, without the
# extension ("common/zoltsh_error"). Each source of TARGET gets that name as ZOLTSH_FILE.
# BASE is the folder the names are relative to.
function(zoltsh_source_names target base)
  get_target_property(_srcs ${target} SOURCES)
  get_target_property(_dir ${target} SOURCE_DIR)
  foreach(_src IN LISTS _srcs)
    if(NOT _src MATCHES "\\.(cc|cpp|c)$")
      continue()
    endif()
    get_filename_component(_abs "${_src}" ABSOLUTE BASE_DIR "${_dir}")
    file(RELATIVE_PATH _rel "${base}" "${_abs}")
    string(REGEX REPLACE "\\.[^./]+$" "" _name "${_rel}")
    set_property(SOURCE "${_src}" TARGET_DIRECTORY ${target} APPEND PROPERTY
                 COMPILE_DEFINITIONS "ZOLTSH_FILE=\"${_name}\"")
  endforeach()
endfunction()
