# cmake -P script: install, configure the consumer against the install, build, run.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

include(${CMAKE_CURRENT_LIST_DIR}/run_step.cmake)

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(f include/vxkernel/vxkernel.h include/vxkernel/version.h lib/cmake/vxkernel/vxkernelConfig.cmake
          lib/pkgconfig/vxkernel.pc)
  if(NOT EXISTS "${prefix}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# Private headers stay out of the installed tree.
file(GLOB_RECURSE private "${prefix}/include/*_internal.h" "${prefix}/include/port/*")
if(private)
  message(FATAL_ERROR "private headers installed: ${private}")
endif()

# Hosts that still include a moved header's old path get its forwarding
# header, installed, and it compiles on its own.
file(GLOB_RECURSE headers RELATIVE "${SOURCE_DIR}/include" "${SOURCE_DIR}/include/vxkernel/*.h")
foreach(h ${headers})
  file(STRINGS "${SOURCE_DIR}/include/${h}" first LIMIT_COUNT 1)
  if(first MATCHES "^// Forwarding header:")
    if(NOT EXISTS "${prefix}/include/${h}")
      message(FATAL_ERROR "forwarding header not installed: ${h}")
    endif()
    run(${CXX} -std=c++20 -fsyntax-only -x c++ -I${prefix}/include "${prefix}/include/${h}")
  endif()
endforeach()

# CMake package.
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}/examples/consumer" -B "${WORK_DIR}/consumer"
    -G "${GENERATOR}" -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build "${WORK_DIR}/consumer")
run("${WORK_DIR}/consumer/consumer")
if(NOT LAST_OUTPUT MATCHES "worker counted 3\nmain counted 0 with vxkernel [0-9]+\\.[0-9]+\\.[0-9]+\nclient read 12 pages")
  message(FATAL_ERROR "unexpected consumer output:\n${LAST_OUTPUT}")
endif()

# pkg-config, when the machine has it.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} "${prefix}/lib/pkgconfig")
  run(${PKG_CONFIG} --cflags --libs vxkernel)
  string(STRIP "${LAST_OUTPUT}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} -x c -std=c99 -pedantic-errors -c ${SOURCE_DIR}/examples/consumer/client.c ${flags}
      -o ${WORK_DIR}/client-pc.o)
  run(${CXX} ${SOURCE_DIR}/examples/consumer/main.cpp ${WORK_DIR}/client-pc.o ${flags}
      -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/consumer-pc)
  run("${WORK_DIR}/consumer-pc")
endif()
message(STATUS "installed package builds and runs the consumer")
