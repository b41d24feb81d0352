# The MinGW builds (win32, win64).  Static C/C++ runtime and zlib: the
# program imports only DLLs that every Windows from NT to 7 has.
enable_language(RC)

set(VORN_ZLIB ${CMAKE_FIND_ROOT_PATH}/lib/libz.a)
set(VORN_WIN_LIBS ${VORN_ZLIB} user32 gdi32 advapi32 imm32 shell32 kernel32)
set(VORN_WIN_CFLAGS ${VORN_CHARSET_FLAGS} -Wall -Wextra
    -fno-exceptions -fno-rtti -Os)
set(VORN_WIN_LDFLAGS -static -static-libgcc -static-libstdc++ -mwindows -s)

set(VORN_ICON ${CMAKE_BINARY_DIR}/vornhu.ico)
add_custom_command(OUTPUT ${VORN_ICON} COMMAND ${VORN_MKICON} ${VORN_ICON} DEPENDS ${VORN_MKICON} VERBATIM)

# Generates a resource script; `payload` is the archive to carry or "".
function(vorn_resource_script out payload)
  set(VORN_RC_MANIFEST ${CMAKE_SOURCE_DIR}/res/setup.manifest)
  set(VORN_RC_ICON ${VORN_ICON})
  set(VORN_RC_PAYLOAD ${payload})
  if(payload)
    set(VORN_RC_PAYLOAD_LINE "TAVKVOZ VOZ \"${payload}\"")
  else()
    set(VORN_RC_PAYLOAD_LINE "")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/res/setup.rc.in ${out} @ONLY)
endfunction()

add_library(vornwin STATIC ${VORN_PRODUCT_SOURCES})
target_include_directories(vornwin PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vornwin PRIVATE ${VORN_WIN_CFLAGS})

function(vorn_setup_exe name rc payload_dep)
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/setup/winmain.cpp ${rc})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VORN_WIN_CFLAGS}>)
  target_link_options(${name} PRIVATE ${VORN_WIN_LDFLAGS})
  target_link_libraries(${name} PRIVATE vornwin ${VORN_WIN_LIBS})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${VORN_ICON};${CMAKE_SOURCE_DIR}/res/setup.manifest;${payload_dep}")
endfunction()

if(VORN_TARGET STREQUAL "win64")
  # setupw64.exe: the 64-bit registration program, without a payload of its own.
  vorn_resource_script(${CMAKE_BINARY_DIR}/setupw64.rc "")
  vorn_setup_exe(setupw64 ${CMAKE_BINARY_DIR}/setupw64.rc "")

  set(VORN_PAYLOAD ${CMAKE_BINARY_DIR}/payload.voz)
  if(VORN_PAYLOAD_DIR)
    # The vendor's files; the tool refuses a directory the program cannot use.
    add_custom_command(OUTPUT ${VORN_PAYLOAD}
      COMMAND ${VORN_VOZ} pack-payload ${VORN_PAYLOAD_DIR} ${VORN_PAYLOAD}
      DEPENDS ${VORN_VOZ} VERBATIM)
  else()
    add_custom_command(OUTPUT ${VORN_PAYLOAD}
      COMMAND ${VORN_MKPAYLOAD} --setupw64 $<TARGET_FILE:setupw64> --out ${VORN_PAYLOAD}
      DEPENDS ${VORN_MKPAYLOAD} setupw64 VERBATIM)
  endif()
  add_custom_target(payload ALL DEPENDS ${VORN_PAYLOAD})

  vorn_resource_script(${CMAKE_BINARY_DIR}/vornsetup64.rc ${VORN_PAYLOAD})
  vorn_setup_exe(vornsetup64 ${CMAKE_BINARY_DIR}/vornsetup64.rc ${VORN_PAYLOAD})
  add_dependencies(vornsetup64 payload)

  # Test programs, never shipped: the DLL the contract suite plants beside
  # itself (carried as its resource PLANTDLL), and the program the Wine tests
  # plant at C:\Program.exe.
  add_library(vornplant SHARED ${CMAKE_SOURCE_DIR}/tests/plant/plant_dll.c)
  set_target_properties(vornplant PROPERTIES PREFIX "")
  target_compile_options(vornplant PRIVATE -Wall -Wextra)
  target_link_options(vornplant PRIVATE -static-libgcc -s)
  add_executable(planted WIN32 ${CMAKE_SOURCE_DIR}/tests/plant/planted.c)
  set_target_properties(planted PROPERTIES OUTPUT_NAME Program)
  target_compile_options(planted PRIVATE -Wall -Wextra)
  target_link_options(planted PRIVATE -static-libgcc -s)

  # The platform contract suite, run under Wine.
  set(VORN_CONTRACT_RC ${CMAKE_BINARY_DIR}/contract64.rc)
  set(VORN_PLANT_DLL ${CMAKE_BINARY_DIR}/vornplant.dll)
  file(WRITE ${VORN_CONTRACT_RC} "PLANTDLL RCDATA \"${VORN_PLANT_DLL}\"\n")
  set_source_files_properties(${VORN_CONTRACT_RC} PROPERTIES OBJECT_DEPENDS ${VORN_PLANT_DLL})
  file(GLOB VORN_CONTRACT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/contract/*.cpp)
  add_executable(contract64 ${VORN_CONTRACT_TESTS} ${VORN_CONTRACT_RC})
  add_dependencies(contract64 vornplant)
  target_include_directories(contract64 PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(contract64 PRIVATE ${VORN_CHARSET_FLAGS} -Wall -Wextra)
  target_link_options(contract64 PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(contract64 PRIVATE ${VORN_WIN_LIBS})
else()
  vorn_resource_script(${CMAKE_BINARY_DIR}/vornsetup.rc ${VORN_PAYLOAD_FILE})
  vorn_setup_exe(vornsetup ${CMAKE_BINARY_DIR}/vornsetup.rc ${VORN_PAYLOAD_FILE})
endif()
