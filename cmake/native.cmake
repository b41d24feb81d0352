# The native build: product + simulated Windows, tests, tools, benchmarks,
# and the two MinGW builds as external projects that use the tools.
include(ExternalProject)
enable_testing()

find_package(ZLIB REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)
find_package(Threads REQUIRED)

set(VORN_WARNINGS -Wall -Wextra)


file(GLOB VORN_SIM_SOURCES CONFIGURE_DEPENDS sim/*.cpp)
list(FILTER VORN_PRODUCT_SOURCES EXCLUDE REGEX "payload/voz\\.cpp$")
# Host code shared by the tools and the simulation: MD5, the archive format.
file(GLOB VORN_TOOL_COMMON CONFIGURE_DEPENDS tools/common/*.cpp)
if(EXISTS ${CMAKE_SOURCE_DIR}/payload/voz.cpp)
  list(APPEND VORN_TOOL_COMMON payload/voz.cpp)
endif()
file(GLOB VORN_UNIT_TESTS CONFIGURE_DEPENDS tests/unit/*.cpp)

# The libraries and the unit tests; `sfx` names a second copy built with
# `flags` (the sanitizer build).
function(vorn_unit_build sfx)
  set(flags ${ARGN})
  add_library(vorntoolcommon${sfx} STATIC ${VORN_TOOL_COMMON})
  target_include_directories(vorntoolcommon${sfx} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(vorntoolcommon${sfx} PRIVATE ${VORN_CHARSET_FLAGS} ${VORN_WARNINGS} ${flags})
  target_link_libraries(vorntoolcommon${sfx} PUBLIC ZLIB::ZLIB)

  add_library(vornsim${sfx} STATIC ${VORN_SIM_SOURCES})
  target_include_directories(vornsim${sfx} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(vornsim${sfx} PRIVATE ${VORN_CHARSET_FLAGS} ${VORN_WARNINGS} ${flags})
  target_link_libraries(vornsim${sfx} PUBLIC vorntoolcommon${sfx})

  add_library(vornproduct${sfx} STATIC ${VORN_PRODUCT_SOURCES})
  target_include_directories(vornproduct${sfx} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(vornproduct${sfx} PRIVATE ${VORN_CHARSET_FLAGS} ${VORN_WARNINGS} ${flags}
                         -fno-exceptions -fno-rtti)
  target_link_libraries(vornproduct${sfx} PUBLIC vornsim${sfx} ZLIB::ZLIB)

  add_executable(unit_tests${sfx} ${VORN_UNIT_TESTS})
  target_compile_options(unit_tests${sfx} PRIVATE ${VORN_CHARSET_FLAGS} ${VORN_WARNINGS} ${flags})
  target_link_options(unit_tests${sfx} PRIVATE ${flags})
  target_link_libraries(unit_tests${sfx} PRIVATE vornproduct${sfx} GTest::gtest GTest::gtest_main Threads::Threads)
endfunction()

vorn_unit_build("")
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# as one ctest test.
vorn_unit_build(_asan -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-sanitize=vptr
                -fno-omit-frame-pointer)
add_test(NAME asan.unit_tests COMMAND unit_tests_asan)
set_tests_properties(asan.unit_tests PROPERTIES LABELS asan
  ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")

foreach(tool voz mkpayload mkicon)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tools/${tool}.cpp)
    add_executable(${tool} tools/${tool}.cpp)
    target_compile_options(${tool} PRIVATE ${VORN_CHARSET_FLAGS} ${VORN_WARNINGS})
    target_link_libraries(${tool} PRIVATE vorntoolcommon)
  endif()
endforeach()
# Support staff's tool is run on a backup archive the setup program wrote.
if(TARGET voz)
  foreach(t unit_tests unit_tests_asan)
    add_dependencies(${t} voz)
    target_compile_definitions(${t} PRIVATE VORN_VOZ_EXE="$<TARGET_FILE:voz>")
  endforeach()
endif()

# The platform contract suite, simulated side.
file(GLOB VORN_CONTRACT_TESTS CONFIGURE_DEPENDS tests/contract/*.cpp)
add_executable(contract_sim ${VORN_CONTRACT_TESTS})
target_compile_options(contract_sim PRIVATE ${VORN_CHARSET_FLAGS} ${VORN_WARNINGS})
target_link_libraries(contract_sim PRIVATE vornsim)
add_test(NAME contract.sim COMMAND contract_sim)
set_tests_properties(contract.sim PROPERTIES LABELS contract)

if(benchmark_FOUND)
  file(GLOB VORN_BENCH CONFIGURE_DEPENDS bench/*.cpp)
  if(VORN_BENCH)
    add_executable(vorn_bench ${VORN_BENCH})
    target_compile_options(vorn_bench PRIVATE ${VORN_CHARSET_FLAGS} ${VORN_WARNINGS})
    target_link_libraries(vorn_bench PRIVATE vornproduct vorntoolcommon benchmark::benchmark Threads::Threads)
  endif()
endif()

# The two Windows builds.  win64 first: its setupw64.exe goes into the payload
# that both full setups carry.
if(NOT (TARGET mkpayload AND TARGET voz AND TARGET mkicon))
  message(WARNING "archive tools missing: the Windows builds are skipped")
  return()
endif()
set(VORN_WIN_ARGS
  -DVORN_PAYLOAD_DIR=${VORN_PAYLOAD_DIR}
  -DVORN_SIGN_PKCS12=${VORN_SIGN_PKCS12}
  -DVORN_SIGN_TIMESTAMP_URL=${VORN_SIGN_TIMESTAMP_URL}
  -DVORN_PRODUCT_ONLY=${VORN_PRODUCT_ONLY}
  -DVORN_MKPAYLOAD=$<TARGET_FILE:mkpayload>
  -DVORN_VOZ=$<TARGET_FILE:voz>
  -DVORN_MKICON=$<TARGET_FILE:mkicon>
  -DCMAKE_BUILD_TYPE=MinSizeRel)
ExternalProject_Add(win64
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/win64
  CMAKE_ARGS -DVORN_TARGET=win64
             -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-x86_64-mingw.cmake
             ${VORN_WIN_ARGS}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  DEPENDS mkpayload voz mkicon)
ExternalProject_Add(win32
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/win32
  CMAKE_ARGS -DVORN_TARGET=win32
             -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-i686-mingw.cmake
             -DVORN_PAYLOAD_FILE=${CMAKE_BINARY_DIR}/win64/payload.voz
             ${VORN_WIN_ARGS}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  DEPENDS win64 mkicon)

set(VORN_WIN32_EXE ${CMAKE_BINARY_DIR}/win32/vornsetup.exe)
set(VORN_WIN64_EXE ${CMAKE_BINARY_DIR}/win64/vornsetup64.exe)
set(VORN_SETUPW64_EXE ${CMAKE_BINARY_DIR}/win64/setupw64.exe)
set(VORN_CONTRACT64_EXE ${CMAKE_BINARY_DIR}/win64/contract64.exe)

add_test(NAME static.win32 COMMAND ${CMAKE_SOURCE_DIR}/tests/static/check_pe.sh ${VORN_WIN32_EXE} pe32)
add_test(NAME static.win64 COMMAND ${CMAKE_SOURCE_DIR}/tests/static/check_pe.sh ${VORN_WIN64_EXE} pe32+)
set_tests_properties(static.win32 static.win64 PROPERTIES LABELS static)

include(${CMAKE_SOURCE_DIR}/tests/wine/wine_tests.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/tests/release/release_tests.cmake)

# The fuzz targets: a clang build with libFuzzer and the sanitizers.  CI runs
# each for a fixed number of inputs; tools/fuzz_long.sh runs them long.
find_program(VORN_CLANGXX NAMES clang++ clang++-14)
if(VORN_CLANGXX)
  add_executable(make_seeds fuzz/make_seeds.cpp)
  target_compile_options(make_seeds PRIVATE ${VORN_WARNINGS})
  target_link_libraries(make_seeds PRIVATE vorntoolcommon)
  set(VORN_FUZZ_SEEDS ${CMAKE_BINARY_DIR}/fuzz-seeds)
  add_custom_command(OUTPUT ${VORN_FUZZ_SEEDS}/stamp
    COMMAND make_seeds ${VORN_FUZZ_SEEDS}
    COMMAND ${CMAKE_COMMAND} -E touch ${VORN_FUZZ_SEEDS}/stamp
    DEPENDS make_seeds VERBATIM)
  add_custom_target(fuzz_seeds ALL DEPENDS ${VORN_FUZZ_SEEDS}/stamp)
  ExternalProject_Add(fuzz
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -DVORN_TARGET=fuzz -DCMAKE_CXX_COMPILER=${VORN_CLANGXX} -DCMAKE_C_COMPILER=clang
               -DCMAKE_BUILD_TYPE=RelWithDebInfo
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  foreach(target voz extract trailer restore cmdline registry skin)
    add_test(NAME fuzz.${target}
      COMMAND ${CMAKE_SOURCE_DIR}/tools/fuzz_run.sh ${CMAKE_BINARY_DIR} ${target} 3000)
    set_tests_properties(fuzz.${target} PROPERTIES LABELS fuzz)
  endforeach()
endif()

# The archive tools: deterministic payload, list/test/extract/pack, refusals.
if(TARGET voz AND TARGET mkpayload)
  foreach(case deterministic list-test roundtrip corrupt pack-refusals pack-payload-refusals member windows-names
               extract-traps)
    add_test(NAME tools.${case}
      COMMAND sh ${CMAKE_SOURCE_DIR}/tests/tools/tools_test.sh ${case}
              $<TARGET_FILE:voz> $<TARGET_FILE:mkpayload> ${CMAKE_BINARY_DIR}/tools-test/${case})
    set_tests_properties(tools.${case} PROPERTIES LABELS tools)
  endforeach()
endif()
