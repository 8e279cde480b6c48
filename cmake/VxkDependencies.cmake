# What each part of the build needs from the machine, checked at configure
# time. A part names itself once (vxk_part) and then states its needs with
# the vxk_need_* helpers; a missing piece is recorded, not fatal, so that
# vxk_report_missing() at the end of the configure step lists every missing
# piece of the chosen parts at once, one line each, followed by a single
# apt-get line that installs all of them. Parts that are switched off never
# state their needs, so nothing is reported for them.
include_guard(GLOBAL)

# vxk_part(<name> [<switch>]): the part whose needs follow, and the cache
# setting that leaves it out (named in each of its messages).
macro(vxk_part name)
  set(VXK_PART "${name}")
  set(VXK_PART_OFF "${ARGN}")
endmacro()

# vxk_missing(<what> <debian package>): records one missing piece of the
# current part.
function(vxk_missing what package)
  set(line "${VXK_PART} needs ${what}: install ${package}")
  if(VXK_PART_OFF)
    string(APPEND line " (or configure with ${VXK_PART_OFF})")
  endif()
  set_property(GLOBAL APPEND PROPERTY VXK_MISSING_LINES "${line}")
  set_property(GLOBAL APPEND PROPERTY VXK_MISSING_PACKAGES "${package}")
endfunction()

# vxk_need_package(<Package> <debian package> [find_package arguments...]):
# a CMake package; its imported targets are used as find_package makes them.
macro(vxk_need_package name package)
  find_package(${name} ${ARGN} QUIET)
  if(NOT ${name}_FOUND)
    vxk_missing("${name}" "${package}")
  endif()
endmacro()

# vxk_need_pkgconfig(<prefix> <module> <debian package>): a pkg-config
# module, as the imported target PkgConfig::<prefix>.
macro(vxk_need_pkgconfig prefix module package)
  find_package(PkgConfig QUIET)
  if(NOT PKG_CONFIG_FOUND)
    vxk_missing("pkg-config" "pkg-config")
  else()
    pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module})
    if(NOT ${prefix}_FOUND)
      vxk_missing("${module}" "${package}")
    endif()
  endif()
endmacro()

# vxk_need_header(<variable> <header> <debian package> [find_path arguments...]):
# the folder holding a header, in <variable>.
macro(vxk_need_header variable header package)
  find_path(${variable} ${header} ${ARGN})
  if(NOT ${variable})
    vxk_missing("${header}" "${package}")
  endif()
endmacro()

# vxk_need_library(<target> <header> <library> <debian package>): a plain C
# library without a package file, as the imported target <target>.
function(vxk_need_library target header library package)
  vxk_need_header(VXK_${target}_INCLUDE_DIR ${header} ${package})
  find_library(VXK_${target}_LIBRARY ${library})
  if(VXK_${target}_INCLUDE_DIR AND NOT VXK_${target}_LIBRARY)
    vxk_missing("lib${library}.so" "${package}")
  endif()
  if(VXK_${target}_INCLUDE_DIR AND VXK_${target}_LIBRARY AND NOT TARGET ${target})
    add_library(${target} UNKNOWN IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES
      IMPORTED_LOCATION "${VXK_${target}_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${VXK_${target}_INCLUDE_DIR}")
  endif()
endfunction()

# vxk_report_missing(): stops the configure step when any part lacks
# something, after printing every missing piece and the one command that
# installs them all.
function(vxk_report_missing)
  get_property(lines GLOBAL PROPERTY VXK_MISSING_LINES)
  if(NOT lines)
    return()
  endif()
  get_property(packages GLOBAL PROPERTY VXK_MISSING_PACKAGES)
  list(REMOVE_DUPLICATES lines)
  list(REMOVE_DUPLICATES packages)
  # NOTICE prints the lines as they are; an error message would be rewrapped.
  foreach(line IN LISTS lines)
    message(NOTICE "${line}")
  endforeach()
  list(JOIN packages " " install)
  message(NOTICE "apt-get install ${install}")
  list(LENGTH packages count)
  message(FATAL_ERROR "${count} missing package(s), listed above")
endfunction()
