# nexora_add_test(<target> LABELS <labels...> SOURCES <files...> LIBS <libraries...>)
# Builds one GoogleTest program and registers its cases with CTest under the given labels.
function(nexora_add_test target)
  cmake_parse_arguments(ARG "" "" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${target} TEST_LIST ${target}_TESTS DISCOVERY_TIMEOUT 60)
  # Discovery flattens a list passed as LABELS, so the labels are set on the discovered
  # cases by a script that CTest runs after the discovery script.
  set(labelsFile "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
  file(WRITE "${labelsFile}"
    "if(${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labelsFile}")
endfunction()
