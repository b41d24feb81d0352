# The MinGW builds (win32, win64).  Static C/C++ runtime and zlib: the
# program imports only DLLs that every Windows from NT to 7 has.
enable_language(RC)

set(VORN_ZLIB ${CMAKE_FIND_ROOT_PATH}/lib/libz.a)
set(VORN_WIN_LIBS ${VORN_ZLIB} user32 gdi32 advapi32 imm32 shell32 kernel32)
# Reproducible: the same source and payload give the same bytes, wherever
# and whenever they are built.  No time stamp in the PE header, no build
# directory in the code (file names in macros map to relative ones), no
# DLL base address hashed from the output path; the sources and resources
# go in in a fixed order (sorted globs).
set(VORN_REPRO_CFLAGS -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
set(VORN_REPRO_LDFLAGS -Wl,--no-insert-timestamp -Wl,--disable-auto-image-base)
set(VORN_WIN_CFLAGS ${VORN_CHARSET_FLAGS} -Wall -Wextra
    -fno-exceptions -fno-rtti -Os ${VORN_REPRO_CFLAGS})
set(VORN_WIN_LDFLAGS -static -static-libgcc -static-libstdc++ -mwindows -s ${VORN_REPRO_LDFLAGS})

set(VORN_ICON ${CMAKE_BINARY_DIR}/vornhu.ico)
add_custom_command(OUTPUT ${VORN_ICON} COMMAND ${VORN_MKICON} ${VORN_ICON} DEPENDS ${VORN_MKICON} VERBATIM)

# Generates the resource script of the executable `name`; `payload` is the
# archive to carry or "" (the 64-bit registration program).
function(vorn_resource_script out name payload)
  set(VORN_RC_MANIFEST ${CMAKE_SOURCE_DIR}/res/setup.manifest)
  set(VORN_RC_ICON ${VORN_ICON})
  set(VORN_RC_PAYLOAD ${payload})
  set(VORN_RC_DIALOGS ${CMAKE_SOURCE_DIR}/res/dialogs.rc)
  set(VORN_RC_VERSION ${CMAKE_SOURCE_DIR}/res/version.rc)
  set(VORN_RC_FILENAME ${name}.exe)
  if(payload)
    set(VORN_RC_PAYLOAD_LINE "TAVKVOZ VOZ \"${payload}\"")
    set(VORN_RC_ROLE_LINE "")
  else()
    set(VORN_RC_PAYLOAD_LINE "")
    set(VORN_RC_ROLE_LINE "#define VORN_RC_REGISTRATION")
    # setupw64.exe is also the per-user step every user's logon runs: it
    # must start unelevated.  Started by the elevated setup, it has the
    # setup's rights all the same.
    file(READ ${CMAKE_SOURCE_DIR}/res/setup.manifest manifest)
    string(REPLACE "level=\"requireAdministrator\"" "level=\"asInvoker\"" manifest "${manifest}")
    file(WRITE ${CMAKE_BINARY_DIR}/${name}.manifest "${manifest}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/setup.manifest)
    set(VORN_RC_MANIFEST ${CMAKE_BINARY_DIR}/${name}.manifest)
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/res/setup.rc.in ${out} @ONLY)
endfunction()

add_library(vornwin STATIC ${VORN_PRODUCT_SOURCES})
target_include_directories(vornwin PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vornwin PRIVATE ${VORN_WIN_CFLAGS})

# Authenticode: with a certificate each executable is signed as soon as it
# is linked, so setupw64.exe is signed before the payload takes it in.
if(VORN_SIGN_PKCS12)
  find_program(VORN_OSSLSIGNCODE osslsigncode REQUIRED)
  set(VORN_SIGN_COMMAND ${CMAKE_SOURCE_DIR}/tools/sign.sh --pkcs12 ${VORN_SIGN_PKCS12})
  if(VORN_SIGN_TIMESTAMP_URL)
    list(APPEND VORN_SIGN_COMMAND --timestamp ${VORN_SIGN_TIMESTAMP_URL})
  endif()
endif()

function(vorn_setup_exe name rc payload_dep)
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/setup/winmain.cpp ${rc})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VORN_WIN_CFLAGS}>)
  target_link_options(${name} PRIVATE ${VORN_WIN_LDFLAGS})
  target_link_libraries(${name} PRIVATE vornwin ${VORN_WIN_LIBS})
  if(VORN_SIGN_PKCS12)
    add_custom_command(TARGET ${name} POST_BUILD COMMAND ${VORN_SIGN_COMMAND} $<TARGET_FILE:${name}> VERBATIM)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${VORN_SIGN_PKCS12})
  endif()
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${VORN_ICON};${CMAKE_SOURCE_DIR}/res/setup.manifest;${CMAKE_SOURCE_DIR}/res/dialogs.rc;${CMAKE_SOURCE_DIR}/res/version.rc;${CMAKE_SOURCE_DIR}/setup/version.h;${payload_dep}")
endfunction()

if(VORN_TARGET STREQUAL "win64")
  # setupw64.exe: the 64-bit registration program, without a payload of its own.
  vorn_resource_script(${CMAKE_BINARY_DIR}/setupw64.rc setupw64 "")
  vorn_setup_exe(setupw64 ${CMAKE_BINARY_DIR}/setupw64.rc "")

  set(VORN_PAYLOAD ${CMAKE_BINARY_DIR}/payload.voz)
  if(VORN_PAYLOAD_DIR)
    # The vendor's files; the tool refuses a directory the program cannot use.
    add_custom_command(OUTPUT ${VORN_PAYLOAD}
      COMMAND ${VORN_VOZ} pack-payload ${VORN_PAYLOAD_DIR} ${VORN_PAYLOAD}
      DEPENDS ${VORN_VOZ} VERBATIM)
  else()
    # The sample input methods: genuine IME DLLs, built here for both
    # bitnesses (the i686 compiler is called directly: the win32 build runs
    # after this one and carries the payload made here).
    find_program(VORN_I686_CC i686-w64-mingw32-gcc REQUIRED)
    find_program(VORN_I686_RC i686-w64-mingw32-windres REQUIRED)
    set(VORN_SAMPLE_IME_ARGS "")
    set(VORN_SAMPLE_IMES "")
    foreach(spec vorn320.ime:i686:63 vorn321.ime:i686:67 vornhu4.ime:i686:77
                 vorn640.ime:x86_64:63 vorn641.ime:x86_64:67 vornhu64.ime:x86_64:77)
      string(REPLACE ":" ";" parts ${spec})
      list(GET parts 0 ime)
      list(GET parts 1 arch)
      list(GET parts 2 version)
      if(arch STREQUAL "i686")
        set(cc ${VORN_I686_CC})
        set(rc ${VORN_I686_RC})
        set(entry _DllMain@12)
      else()
        set(cc ${CMAKE_C_COMPILER})
        set(rc ${CMAKE_RC_COMPILER})
        set(entry DllMain)
      endif()
      set(dll ${CMAKE_BINARY_DIR}/sampleime/${ime})
      # The IME entry points have fixed signatures and ignore their arguments
      # by design: the one warning class left out, for this DLL alone.
      add_custom_command(OUTPUT ${dll}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/sampleime
        COMMAND ${rc} -DSAMPLE_VERSION=${version}
                ${CMAKE_SOURCE_DIR}/tools/sampleime/sampleime.rc -O coff -o ${dll}.res.o
        COMMAND ${cc} -Os -Wall -Wextra -Werror -Wno-unused-parameter -shared -nostdlib -fno-asynchronous-unwind-tables
                ${VORN_REPRO_CFLAGS} -o ${dll} ${CMAKE_SOURCE_DIR}/tools/sampleime/sampleime.c ${dll}.res.o
                -Wl,--kill-at -Wl,-e,${entry} -s ${VORN_REPRO_LDFLAGS} -luser32 -lkernel32
        DEPENDS ${CMAKE_SOURCE_DIR}/tools/sampleime/sampleime.c ${CMAKE_SOURCE_DIR}/tools/sampleime/sampleime.rc
        VERBATIM)
      list(APPEND VORN_SAMPLE_IMES ${dll})
      list(APPEND VORN_SAMPLE_IME_ARGS --member ${ime}=${dll})
    endforeach()
    add_custom_command(OUTPUT ${VORN_PAYLOAD}
      COMMAND ${VORN_MKPAYLOAD} --setupw64 $<TARGET_FILE:setupw64> --out ${VORN_PAYLOAD} ${VORN_SAMPLE_IME_ARGS}
      DEPENDS ${VORN_MKPAYLOAD} setupw64 ${VORN_SAMPLE_IMES} VERBATIM)
  endif()
  add_custom_target(payload ALL DEPENDS ${VORN_PAYLOAD})

  vorn_resource_script(${CMAKE_BINARY_DIR}/vornsetup64.rc vornsetup64 ${VORN_PAYLOAD})
  vorn_setup_exe(vornsetup64 ${CMAKE_BINARY_DIR}/vornsetup64.rc ${VORN_PAYLOAD})
  add_dependencies(vornsetup64 payload)

  # A release build stops here; what follows is test code.
  if(VORN_PRODUCT_ONLY)
    return()
  endif()

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

  # Test code for the Wine GUI scenarios, never shipped: a program that holds
  # the input method (a window of its UI class, its shared memory).
  add_executable(imeholder64 WIN32 ${CMAKE_SOURCE_DIR}/tests/programs/imeholder.c)
  target_compile_options(imeholder64 PRIVATE -finput-charset=UTF-8 -Wall -Wextra)
  target_link_options(imeholder64 PRIVATE -static -static-libgcc)

  # The yardstick of the window benchmark (bench/), never shipped.
  add_executable(trivialwin64 WIN32 ${CMAKE_SOURCE_DIR}/bench/trivialwin.c)
  target_compile_options(trivialwin64 PRIVATE -Wall -Wextra)
  target_link_options(trivialwin64 PRIVATE -static -static-libgcc -s)

  # The platform contract suite, run under Wine.
  set(VORN_CONTRACT_RC ${CMAKE_BINARY_DIR}/contract64.rc)
  set(VORN_PLANT_DLL ${CMAKE_BINARY_DIR}/vornplant.dll)
  file(WRITE ${VORN_CONTRACT_RC} "PLANTDLL RCDATA \"${VORN_PLANT_DLL}\"\n")
  set_source_files_properties(${VORN_CONTRACT_RC} PROPERTIES OBJECT_DEPENDS ${VORN_PLANT_DLL})
  file(GLOB VORN_CONTRACT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/contract/*.cpp)
  # With the skin dialog's templates, for the dialog contract.
  add_executable(contract64 ${VORN_CONTRACT_TESTS} ${CMAKE_SOURCE_DIR}/res/dialogs.rc ${VORN_CONTRACT_RC})
  add_dependencies(contract64 vornplant)
  target_include_directories(contract64 PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(contract64 PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VORN_CHARSET_FLAGS} -Wall -Wextra>)
  target_link_options(contract64 PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(contract64 PRIVATE ${VORN_WIN_LIBS})
else()
  vorn_resource_script(${CMAKE_BINARY_DIR}/vornsetup.rc vornsetup ${VORN_PAYLOAD_FILE})
  vorn_setup_exe(vornsetup ${CMAKE_BINARY_DIR}/vornsetup.rc ${VORN_PAYLOAD_FILE})
endif()
