# cmake -P script: the code of docs/getting-started.md, built against an
# installed vxkernel exactly as the page says, prints exactly what the page
# shows. The page's cmake block is the CMakeLists.txt, its cpp blocks in
# order are main.cpp, its text block is the expected output.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
set(project "${WORK_DIR}/first")

include(${CMAKE_CURRENT_LIST_DIR}/run_step.cmake)

# Splits the page into its fenced blocks by language.
file(READ "${SOURCE_DIR}/docs/getting-started.md" page)
string(REPLACE ";" "\\;" page "${page}")
string(REPLACE "\n" ";" lines "${page}")
set(lang "")
set(cmake_block "")
set(cpp_block "")
set(text_block "")
foreach(line IN LISTS lines)
  if(lang STREQUAL "")
    if(line MATCHES "^```([a-z]+)$")
      set(lang "${CMAKE_MATCH_1}")
    endif()
  elseif(line STREQUAL "```")
    set(lang "")
  elseif(lang STREQUAL "cmake" OR lang STREQUAL "cpp" OR lang STREQUAL "text")
    string(APPEND ${lang}_block "${line}\n")
  endif()
endforeach()
foreach(block cmake cpp text)
  if(${block}_block STREQUAL "")
    message(FATAL_ERROR "docs/getting-started.md has no ${block} block")
  endif()
endforeach()
file(WRITE "${project}/CMakeLists.txt" "${cmake_block}")
file(WRITE "${project}/main.cpp" "${cpp_block}")

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
run(${CMAKE_COMMAND} -S "${project}" -B "${project}/build" -G "${GENERATOR}"
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_CXX_FLAGS=-Werror -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build "${project}/build")
run("${project}/build/first")
if(NOT LAST_OUTPUT STREQUAL text_block)
  message(FATAL_ERROR "the program printed:\n${LAST_OUTPUT}\nthe page shows:\n${text_block}")
endif()
message(STATUS "the getting-started page's program builds and prints what the page shows")
