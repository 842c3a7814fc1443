# Helpers shared by every folder's CMakeLists.txt.

# Compiler warnings for our own targets, set in one place.
function(korvadel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                         -Wcast-align -Woverloaded-virtual -Wformat=2)
  if(KORVADEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# The include directory that exposes one top-level folder of the source tree
# and nothing else: <build>/include/<folder> holds a single link, <folder>,
# to the source folder, so "folder/header.h" resolves and no other folder
# does. A target sees the folders of the libraries it links, and its own.
function(korvadel_folder_include out_var)
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" folder "${relative}")
  set(dir ${CMAKE_BINARY_DIR}/include/${folder})
  if(NOT EXISTS ${dir}/${folder})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${dir}/${folder} SYMBOLIC)
  endif()
  set(${out_var} ${dir} PARENT_SCOPE)
endfunction()

# korvadel_library(name SOURCES ... DEPENDS ... [EXPOSES ...]): a static
# library whose headers are included as "folder/header.h"; it exposes its own
# folder only. DEPENDS are linked PRIVATE: a user of the library does not see
# their headers, so an include the layers forbid fails to compile. EXPOSES
# names the libraries whose headers this library's own headers include; their
# folders are passed on to its users (linked PUBLIC).
function(korvadel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;EXPOSES" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  korvadel_folder_include(include_dir)
  target_include_directories(${name} PUBLIC ${include_dir})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} PUBLIC ${ARG_EXPOSES})
  korvadel_warnings(${name})
endfunction()

# korvadel_program(name SOURCES ... DEPENDS ...)
function(korvadel_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  korvadel_folder_include(include_dir)
  target_include_directories(${name} PRIVATE ${include_dir})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
  korvadel_warnings(${name})
endfunction()

# korvadel_test(name SOURCES ... DEPENDS ... [LABELS ...]): a GoogleTest
# program registered with CTest test by test.
function(korvadel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} korvadel_test_support GTest::gtest GTest::gtest_main GTest::gmock)
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
