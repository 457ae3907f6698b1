# qmt_library(NAME DEPS... [EXCLUDE REGEX]): a static library made of every source in the current
# folder tree but those matching REGEX (built into something else). New files are picked up on the
# next build without touching any CMakeLists.
function(qmt_library name)
  cmake_parse_arguments(PARSE_ARGV 1 _arg "" "EXCLUDE" "")
  set(_deps ${_arg_UNPARSED_ARGUMENTS})
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER _srcs INCLUDE REGEX ".*\\.(cpp|h|qrc)$")
  if(_arg_EXCLUDE)
    list(FILTER _srcs EXCLUDE REGEX "${_arg_EXCLUDE}")
  endif()
  set(_cpp ${_srcs})
  list(FILTER _cpp INCLUDE REGEX ".*\\.cpp$")
  if(_cpp)
    add_library(${name} STATIC ${_srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${_deps})
  else()
    # A folder whose classes are not written yet still offers its dependencies.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${_deps})
  endif()
endfunction()

# qmt_tests(LIBS...): one test executable per *test.cpp in the current folder, each a ctest case
# run on the offscreen platform with its own registry, config and cache folders.
function(qmt_tests)
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*test.cpp)
  file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" _prefix "${_rel}")
  foreach(_src ${_tests})
    get_filename_component(_name ${_src} NAME_WE)
    set(_target "tst_${_prefix}_${_name}")
    add_executable(${_target} ${_src})
    target_link_libraries(${_target} PRIVATE qmt_testsupport ${ARGN} Qt6::Test)
    set_target_properties(${_target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${_prefix}/${_name} COMMAND ${_target})
    set_tests_properties(${_prefix}/${_name} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QMT_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data;QMT_BUILD_DIR=${CMAKE_BINARY_DIR};QT_LOGGING_RULES=qt.qpa.*=false"
      TIMEOUT 300)
  endforeach()
endfunction()
