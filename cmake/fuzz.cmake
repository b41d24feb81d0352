# The fuzz build: clang with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, the product over the simulated Windows.
# Driven by the native build (fuzz/ targets, seeds from the sample payload).
find_package(ZLIB REQUIRED)

set(VORN_FUZZ_SAN -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-sanitize=vptr
    -fno-omit-frame-pointer -g)
set(VORN_FUZZ_WARNINGS -Wall -Wextra)

file(GLOB VORN_SIM_SOURCES CONFIGURE_DEPENDS sim/*.cpp)
add_library(vornfuzzlib STATIC ${VORN_PRODUCT_SOURCES} ${VORN_SIM_SOURCES} tools/common/md5.cpp)
target_include_directories(vornfuzzlib PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vornfuzzlib PRIVATE ${VORN_FUZZ_SAN} -fsanitize=fuzzer-no-link ${VORN_FUZZ_WARNINGS})
target_link_libraries(vornfuzzlib PUBLIC ZLIB::ZLIB)

file(GLOB VORN_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
foreach(src ${VORN_FUZZ_TARGETS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE ${VORN_FUZZ_SAN} -fsanitize=fuzzer ${VORN_FUZZ_WARNINGS})
  target_link_options(${name} PRIVATE ${VORN_FUZZ_SAN} -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE vornfuzzlib)
endforeach()
