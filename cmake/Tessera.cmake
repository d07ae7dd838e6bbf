# Every .cc file below the current folder, except those in sub-folders that are libraries of
# their own (they have a CMakeLists.txt).
function(tessera_sources out)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  file(GLOB_RECURSE sublists ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(list ${sublists})
    get_filename_component(subdir ${list} DIRECTORY)
    list(FILTER sources EXCLUDE REGEX "^${subdir}/")
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# One static library per folder of src/, built from every .cc file below it, so that adding a
# source file needs no edit here.
function(tessera_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  tessera_sources(sources)
  if(sources)
    add_library(tessera_${name} STATIC ${sources})
  else()
    add_library(tessera_${name} INTERFACE)
  endif()
  get_target_property(kind tessera_${name} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(tessera_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tessera_${name} INTERFACE ${ARG_DEPS})
  else()
    target_include_directories(tessera_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tessera_${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# One GoogleTest executable per folder of tests/, from every .cc file in it.
function(tessera_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  tessera_sources(sources)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_include_directories(${name}_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name}_tests PRIVATE
    TESSERA_FIXTURES="${PROJECT_SOURCE_DIR}/tests/fixtures"
    TESSERA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
