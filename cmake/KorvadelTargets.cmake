# Helpers shared by every folder's CMakeLists.txt.

# Compiler warnings for our own targets, set in one place.
function(korvadel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                         -Wcast-align -Woverloaded-virtual -Wformat=2)
  if(KORVADEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# korvadel_library(name SOURCES ... DEPENDS ...): a static library whose
# headers are included as "folder/header.h" from the source root.
function(korvadel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  korvadel_warnings(${name})
endfunction()

# korvadel_program(name SOURCES ... DEPENDS ...)
function(korvadel_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
  korvadel_warnings(${name})
endfunction()

# korvadel_test(name SOURCES ... DEPENDS ... [LABELS ...]): a GoogleTest
# program registered with CTest test by test.
function(korvadel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main GTest::gmock)
  korvadel_warnings(${name})
  set(labels unit)
  if(ARG_LABELS)
    set(labels ${ARG_LABELS})
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS "${labels}"
    DISCOVERY_TIMEOUT 60)
endfunction()
