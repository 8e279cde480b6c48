# cmake -P script: configures the source tree into scratch folders with some
# dependencies hidden, and checks what the configure step says: one line per
# missing piece naming its Debian package, one apt-get line, and nothing for
# a part that is switched off. Hiding uses CMake's own switches
# (CMAKE_DISABLE_FIND_PACKAGE_<P>, CMAKE_IGNORE_PATH) and an empty
# PKG_CONFIG_LIBDIR, so the machine's packages stay as they are.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/no-pkgconfig")
set(failures "")

# check(<name> [SUCCEEDS] [ARGS <cmake args...>] [ENV <VAR=value...>]
#       [REPORTS <lines...>]): one configure, then one assertion per fact.
# Without SUCCEEDS the configure must fail; with it, it must succeed and
# print no "... needs ...: install ..." line at all.
function(check name)
  cmake_parse_arguments(C "SUCCEEDS" "" "ARGS;ENV;REPORTS" ${ARGN})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=JAVA_HOME ${C_ENV}
            ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/${name}" -G "${GENERATOR}"
            -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC} ${C_ARGS}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(text "\n${out}\n${err}\n")
  set(found "")
  if(C_SUCCEEDS)
    if(NOT rc EQUAL 0)
      list(APPEND found "${name}: configure failed (${rc}) but should succeed")
    endif()
    if(text MATCHES "\n[^\n]* needs [^\n]*: install [^\n]*\n")
      string(STRIP "${CMAKE_MATCH_0}" reported)
      list(APPEND found "${name}: reports a missing piece: ${reported}")
    endif()
  elseif(rc EQUAL 0)
    list(APPEND found "${name}: configure succeeded but should fail")
  endif()
  foreach(line IN LISTS C_REPORTS)
    string(FIND "${text}" "\n${line}\n" at)
    if(at EQUAL -1)
      list(APPEND found "${name}: no line \"${line}\"")
    endif()
  endforeach()
  if(found)
    string(REPLACE ";" "\n" found "${found}")
    message(NOTICE "${found}\n-- output of ${name}:${text}")
    set(failures "${failures}${found}\n" PARENT_SCOPE)
  endif()
endfunction()

set(tools_only -DVXKERNEL_BUILD_TESTS=OFF -DVXKERNEL_BUILD_BENCHMARKS=OFF)
set(library_only ${tools_only} -DVXKERNEL_BUILD_TOOLS=OFF)
# jni.h where the library looks for it (the hint $JAVA_HOME is unset above),
# as an initial cache: a list would not survive the command line.
file(WRITE "${WORK_DIR}/no_jni.cmake" "set(CMAKE_IGNORE_PATH [[${JNI_DIR}]]
  /usr/lib/jvm/java-17-openjdk-amd64/include /usr/lib/jvm/default-java/include CACHE STRING \"\")\n")
set(no_jni -C "${WORK_DIR}/no_jni.cmake")

# A CMake package.
check(find_package ARGS ${tools_only} -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=TRUE
  REPORTS "vxhost needs OpenSSL: install libssl-dev (or configure with -DVXKERNEL_BUILD_TOOLS=OFF)"
          "apt-get install libssl-dev")
# pkg-config modules of two parts; Poppler, which both need, is installed once.
check(pkg_config ARGS ${tools_only} ENV "PKG_CONFIG_LIBDIR=${WORK_DIR}/no-pkgconfig"
  REPORTS "dcsclient needs libmagic: install libmagic-dev"
          "vxhost needs vips-cpp: install libvips-dev (or configure with -DVXKERNEL_BUILD_TOOLS=OFF)"
          "apt-get install libmagic-dev libpoppler-cpp-dev libcrypt-dev libvips-dev")
# A plain header and library.
check(header ARGS ${tools_only} "-DCMAKE_IGNORE_PATH=${HTTP_PARSER_DIR}"
  REPORTS "vxhost needs http_parser.h: install libhttp-parser-dev (or configure with -DVXKERNEL_BUILD_TOOLS=OFF)")
# The library's own header dependency.
check(jni ARGS ${library_only} ${no_jni}
  REPORTS "vxkernel needs jni.h: install openjdk-17-jdk-headless (or configure with -DVXKERNEL_WITH_JAVAVM=OFF)")
# Parts switched off state no needs.
check(no_javavm SUCCEEDS ARGS ${library_only} ${no_jni} -DVXKERNEL_WITH_JAVAVM=OFF)
check(library_only SUCCEEDS ARGS ${library_only} "-DCMAKE_IGNORE_PATH=${HTTP_PARSER_DIR}"
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=TRUE -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=TRUE
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=TRUE -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=TRUE)

if(failures)
  message(FATAL_ERROR "configure messages:\n${failures}")
endif()
message(STATUS "configure messages as expected")
