# Helpers shared by every module's CMakeLists.txt.

# fendrel_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Builds one GoogleTest executable and registers it with CTest. Default label: unit.
function(fendrel_add_test name)
  if(NOT FENDREL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
endfunction()

# fendrel_test_runs_extension(<test>): the test runs the real extension through the browser
# stand-in: it learns where the plug-in, the extension host and the resources are, builds them
# first, and runs with the sanitizer suppressions for WebKit's and GLib's own threads.
function(fendrel_test_runs_extension test)
  if(NOT TARGET ${test})
    return()
  endif()
  target_compile_definitions(${test} PRIVATE
    FENDREL_TEST_PLUGIN="$<TARGET_FILE:Quellbox>"
    FENDREL_TEST_EXTENSION_HOST="$<TARGET_FILE:fendrel-extension-host>"
    FENDREL_TEST_RESOURCES="${PROJECT_SOURCE_DIR}/resources")
  add_dependencies(${test} Quellbox fendrel-extension-host)
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${FENDREL_WEBKIT_TEST_ENVIRONMENT}")
endfunction()
