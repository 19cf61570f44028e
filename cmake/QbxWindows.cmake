# The dependencies of the Windows build (cmake/mingw-w64-x86_64.cmake), from Debian's packages:
#  - nlohmann-json is header-only: Debian's header (nlohmann-json3-dev), and nothing else of the
#    host's /usr/include, is put on the include path;
#  - GoogleTest is built from Debian's sources (package googletest, /usr/src/googletest) with the
#    cross compiler;
#  - OpenSSL is not needed: the MD5 digest comes from Windows' CryptoAPI (advapi32);
#  - libftdi1 and Google Benchmark have no Windows build in Debian: the libftdi1 D2XX driver is
#    not built (FTD2XX.dll, the adapter maker's driver, takes its place) and neither are the
#    benchmarks.

if(QBX_BENCHMARKS)
  message(STATUS "Windows build: no benchmarks (Debian has no Google Benchmark for MinGW)")
  set(QBX_BENCHMARKS OFF CACHE BOOL "Build the benchmarks (Google Benchmark)" FORCE)
endif()
# The production records keep their data in SQLite or PostgreSQL, whose client libraries Debian
# packages for Linux only: not in the Windows build.
set(QBX_RECORDS OFF CACHE BOOL "Production records (SQLite, PostgreSQL): Linux builds only" FORCE)
if(QBX_SANITIZE OR QBX_FUZZ)
  message(FATAL_ERROR "The sanitizers and the fuzz targets are for the Linux builds only")
endif()

# Windows 7 and later; windows.h without min/max macros and without the rarely used parts; the C99
# printf family of MinGW, so that %zu, %lld and PRIX64 print as on Linux; MinGW's gmtime_r and
# localtime_r.
add_compile_definitions(_WIN32_WINNT=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN __USE_MINGW_ANSI_STDIO=1
  _POSIX_THREAD_SAFE_FUNCTIONS=200112L)

# The build's own folders (sources, built programs) as the Windows programs of the tests reach
# them under Wine: the host's root is drive Z:. (Without it a path such as /work/x would be taken
# on whatever drive the program's current folder is.)
set(QBX_HOST_ROOT "Z:")

# ---- nlohmann-json ------------------------------------------------------------------------------
find_path(QBX_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp
  PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QBX_NLOHMANN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found in /usr/include: install nlohmann-json3-dev")
endif()
# A folder of its own that holds only the nlohmann/ headers.
set(QBX_JSON_ONLY_INCLUDE "${CMAKE_BINARY_DIR}/nlohmann-json-include")
file(MAKE_DIRECTORY "${QBX_JSON_ONLY_INCLUDE}")
file(CREATE_LINK "${QBX_NLOHMANN_JSON_INCLUDE}/nlohmann" "${QBX_JSON_ONLY_INCLUDE}/nlohmann" COPY_ON_ERROR SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE "${QBX_JSON_ONLY_INCLUDE}")

# ---- GoogleTest -----------------------------------------------------------------------------------
if(QBX_TESTS)
  set(QBX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
  if(NOT EXISTS "${QBX_GOOGLETEST_SOURCE}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found in ${QBX_GOOGLETEST_SOURCE}: install googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory("${QBX_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  # Their code, not ours: our warning flags do not apply. (Its CMake names them GTest::gtest ...)
  foreach(library gtest gtest_main gmock gmock_main)
    set_property(TARGET ${library} PROPERTY COMPILE_OPTIONS -w)
  endforeach()
  # The tests' main is testsupport's (qbx_gtest_main): binary standard streams first, as in every
  # program of the Windows build.
endif()
