# qbx_add_gtest(NAME SOURCES a.cpp ... LIBS lib ... [ENV VAR=value ...] [NO_MAIN] [POSTGRES])
# One GoogleTest executable; every test case becomes its own CTest test and runs in its own
# process, so tests that set process-wide things (environment, the loaded driver) stay apart.
# POSTGRES: the tests need the throwaway PostgreSQL server (QBX_TEST_POSTGRES names its state
# folder); without QBX_POSTGRES they run without it.
function(qbx_add_gtest name)
  if(NOT QBX_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "NO_MAIN;POSTGRES" "" "SOURCES;LIBS;ENV" ${ARGN})
  if(WIN32)
    # Programs the tests start show the operator's box on the console rather than wait for a click.
    list(APPEND T_ENV QBX_CONSOLE_BOX=1)
  endif()
  set(fixture "")
  if(T_POSTGRES AND QBX_POSTGRES)
    list(APPEND T_ENV "QBX_TEST_POSTGRES=${QBX_TEST_POSTGRES_STATE}")
    set(fixture FIXTURES_REQUIRED postgres)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  if(NOT T_NO_MAIN AND WIN32)
    target_link_libraries(${name} PRIVATE qbx_gtest_main)  # testsupport/windows_test_main.cpp
  elseif(NOT T_NO_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
    QBX_SHARED_DIR="${QBX_HOST_ROOT}${QBX_SHARED_DIR}"
    QBX_SOURCE_DIR="${QBX_HOST_ROOT}${CMAKE_SOURCE_DIR}"
    QBX_BINARY_DIR="${QBX_HOST_ROOT}${CMAKE_BINARY_DIR}"
    QBX_BIN_DIR="${QBX_HOST_ROOT}${CMAKE_BINARY_DIR}/bin")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 180 ENVIRONMENT "${T_ENV}" ${fixture})
endfunction()

# qbx_add_benchmark(NAME SOURCES a.cpp ... LIBS lib ...)
# Built in every configuration so that it never rots; figures count only from the bench preset.
function(qbx_add_benchmark name)
  if(NOT QBX_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE
    QBX_SHARED_DIR="${QBX_HOST_ROOT}${QBX_SHARED_DIR}"
    QBX_SOURCE_DIR="${QBX_HOST_ROOT}${CMAKE_SOURCE_DIR}"
    QBX_BINARY_DIR="${QBX_HOST_ROOT}${CMAKE_BINARY_DIR}"
    QBX_BIN_DIR="${QBX_HOST_ROOT}${CMAKE_BINARY_DIR}/bin")
endfunction()

# qbx_add_fuzzer(NAME SOURCES a.cpp ... LIBS lib ... [SEEDS folder])
# A libFuzzer target (clang only, QBX_FUZZ=ON). The same entry point is also linked into a small
# driver that replays files, so the normal build checks that the target compiles; the seed files
# of SEEDS (the fuzzer's starting corpus) are replayed as a test of the suite.
function(qbx_add_fuzzer name)
  if(WIN32)
    return()  # libFuzzer and the replay drivers' POSIX calls are for the Linux builds
  endif()
  cmake_parse_arguments(F "" "SEEDS" "SOURCES;LIBS" ${ARGN})
  if(QBX_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
  else()
    add_executable(${name}_replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/cmake/fuzz_replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
    if(QBX_TESTS AND F_SEEDS)
      file(GLOB seeds CONFIGURE_DEPENDS "${F_SEEDS}/*")
      add_test(NAME ${name}.seeds COMMAND ${name}_replay ${seeds})
    endif()
  endif()
endfunction()

# qbx_runtime_dependencies(TARGET name ...)
# Builds the named targets before TARGET: programs and libraries it runs or loads at run time. The
# names are looked up once the whole tree is configured, so they may be defined in folders
# configured later; names that no configuration defines are skipped.
function(qbx_runtime_dependencies target)
  cmake_language(EVAL CODE
    "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]] CALL _qbx_add_existing_dependencies [[${target}]] ${ARGN})")
endfunction()

function(_qbx_add_existing_dependencies target)
  foreach(runtime ${ARGN})
    if(TARGET ${runtime})
      add_dependencies(${target} ${runtime})
    endif()
  endforeach()
endfunction()
