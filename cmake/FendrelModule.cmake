# Helpers shared by every module's CMakeLists.txt.

# fendrel_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Builds one GoogleTest executable and registers it with CTest. Default label: unit.
function(fendrel_add_test name)
  if(NOT FENDREL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_SHARDS)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
    return()
  endif()
  # A long suite runs as SHARDS tests (<name>.shard<i>), each taking its share of the cases through
  # GoogleTest's sharding, so that they run in parallel.
  math(EXPR last "${ARG_SHARDS} - 1")
  foreach(index RANGE ${last})
    add_test(NAME ${name}.shard${index} COMMAND ${name})
    set_tests_properties(${name}.shard${index} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${index}")
  endforeach()
endfunction()

# fendrel_test_property(<test> <property> <value>): sets a property of a test, or of every shard
# of a sharded test. ENVIRONMENT is appended to, so a shard keeps its sharding variables.
function(fendrel_test_property test property value)
  get_property(shards DIRECTORY PROPERTY TESTS)
  foreach(candidate ${shards})
    if(candidate STREQUAL test OR candidate MATCHES "^${test}\\.shard[0-9]+$")
      if(property STREQUAL "ENVIRONMENT")
        set_property(TEST ${candidate} APPEND PROPERTY ENVIRONMENT "${value}")
      else()
        set_tests_properties(${candidate} PROPERTIES ${property} "${value}")
      endif()
    endif()
  endforeach()
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

# fendrel_add_compile_fail_test(<name> SOURCE <file> MISUSES <count>)
# Proves that API misuse does not compile. The source must compile as it stands (test <name>);
# with FENDREL_MISUSE=<i> defined, for each i from 1 to <count>, it must fail with the error of a
# deleted overload or of taking the address of a temporary (test <name>.misuse<i>). Only the
# compiler's front end runs. Label: compile (no executable, so the sanitizer builds skip it).
function(fendrel_add_compile_fail_test name)
  if(NOT FENDREL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "SOURCE;MISUSES" "" ${ARGN})
  set(command ${CMAKE_CXX_COMPILER} -std=c++20 -fsyntax-only -I${PROJECT_SOURCE_DIR}
      ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SOURCE})
  add_test(NAME ${name} COMMAND ${command})
  set_tests_properties(${name} PROPERTIES LABELS compile TIMEOUT 120)
  foreach(i RANGE 1 ${ARG_MISUSES})
    add_test(NAME ${name}.misuse${i} COMMAND ${command} -DFENDREL_MISUSE=${i})
    set_tests_properties(${name}.misuse${i} PROPERTIES LABELS compile TIMEOUT 120
      PASS_REGULAR_EXPRESSION "error: (use of deleted function|taking address of rvalue)")
  endforeach()
endfunction()
