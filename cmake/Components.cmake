include(GoogleTest)

# quillory_component(NAME DIR folder DEPS targets...)
# Builds the folder's sources into a static library NAME (an interface
# library while the folder has none yet) and, when tests/<folder> holds
# sources, the test program test_NAME registered with CTest.
function(quillory_component name)
  cmake_parse_arguments(C "" "DIR" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${C_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${C_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${C_DEPS})
  endif()
  set_property(GLOBAL APPEND PROPERTY QUILLORY_COMPONENTS ${name})
  set_property(GLOBAL PROPERTY QUILLORY_DIR_${name} ${C_DIR})
endfunction()

# Test program for a component; called from tests/CMakeLists.txt so that
# the test sources stay out of the libraries.
function(quillory_component_tests name)
  get_property(dir GLOBAL PROPERTY QUILLORY_DIR_${name})
  file(GLOB tsrcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${dir}/*.cpp)
  if(NOT tsrcs)
    return()
  endif()
  add_executable(test_${name} ${tsrcs})
  target_link_libraries(test_${name} PRIVATE ${name} quillory_testsupport GTest::gtest GTest::gtest_main)
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QUILLORY_SOURCE_DIR=${PROJECT_SOURCE_DIR};QUILLORY_BINARY_DIR=${PROJECT_BINARY_DIR}"
    DISCOVERY_TIMEOUT 60)
endfunction()
