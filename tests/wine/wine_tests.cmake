# The Wine end-to-end tests: the x64 setup run for real in throwaway win64
# prefixes under build/wine/<variant>/.  Each variant's prefix is booted once
# (fixture wine_<variant>); every scenario works in a clone of it.  The
# complete-install checks carry the label wine-full:
#   ctest -L '^wine$'      start-up, registration mode, directories, records, /?
#   ctest -L wine-full     what a whole silent install leaves behind
#   ctest -L wine-gui      the setup window in Xvfb: the walk through every page
#                          (screenshots in build/wine-gui-shots/<variant>/)
# setupw64.exe, the 64-bit registration program the payload carries: the
# same static checks as the full setups (it has no payload of its own).
add_test(NAME static.setupw64
         COMMAND ${CMAKE_SOURCE_DIR}/tests/static/check_pe.sh ${VORN_SETUPW64_EXE} pe32+ nopayload)
set_tests_properties(static.setupw64 PROPERTIES LABELS static)

find_program(VORN_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VORN_WINE64)
  find_program(VORN_WINE64 NAMES wine64)
endif()
find_package(Python3 COMPONENTS Interpreter)
if(NOT VORN_WINE64 OR NOT Python3_Interpreter_FOUND)
  message(WARNING "wine64 or python3 missing: the Wine tests are not registered")
  return()
endif()

set(VORN_WINE_DIR ${CMAKE_SOURCE_DIR}/tests/wine)
set(VORN_WINE_RUN ${Python3_EXECUTABLE} ${VORN_WINE_DIR}/run.py
    --root ${CMAKE_BINARY_DIR}/wine
    --setup ${VORN_WIN64_EXE}
    --setupw64 ${VORN_SETUPW64_EXE}
    --contract ${VORN_CONTRACT64_EXE}
    --payload ${CMAKE_BINARY_DIR}/win64/payload.voz
    --voz $<TARGET_FILE:voz>
    --shots ${CMAKE_BINARY_DIR}/wine-gui-shots)
set(VORN_WINE_ENV VORN_WINE64=${VORN_WINE64})

# The harness's own decoders (relay trace, .reg files, archives), no Wine.
add_test(NAME wine.lib COMMAND ${Python3_EXECUTABLE} -B -m unittest -v test_winelib
         WORKING_DIRECTORY ${VORN_WINE_DIR})
set_tests_properties(wine.lib PROPERTIES LABELS wine TIMEOUT 60)

set(VORN_WINE_BASIC silent:Silent admin:Admin register:Register register-default:RegisterDefault
    help:Help planted:test_harden.PlantedProgram)
set(VORN_WINE_FULL outcome:Outcome files:Files system:SystemFiles registry:Registry reinstall:Reinstall)
set(VORN_WINE_GUI pages:Pages outcome:WalkOutcome files:WalkFiles system:WalkSystemFiles registry:WalkRegistry)

foreach(variant win7-936 win7-950 win7-32 winxp win10)
  add_test(NAME wine.${variant}.boot COMMAND ${VORN_WINE_RUN} --variant ${variant} boot)
  set_tests_properties(wine.${variant}.boot PROPERTIES
    FIXTURES_SETUP wine_${variant} LABELS wine TIMEOUT 300 ENVIRONMENT "${VORN_WINE_ENV}")
  add_test(NAME wine.${variant}.cleanup COMMAND ${VORN_WINE_RUN} --variant ${variant} cleanup)
  set_tests_properties(wine.${variant}.cleanup PROPERTIES
    FIXTURES_CLEANUP wine_${variant} LABELS wine TIMEOUT 120 ENVIRONMENT "${VORN_WINE_ENV}")

  foreach(pair ${VORN_WINE_BASIC})
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 class)
    if(NOT class MATCHES "\\.")
      set(class test_basic.${class})
    endif()
    add_test(NAME wine.${variant}.${name} COMMAND ${VORN_WINE_RUN} --variant ${variant} test ${class})
    set_tests_properties(wine.${variant}.${name} PROPERTIES
      FIXTURES_REQUIRED wine_${variant} LABELS wine TIMEOUT 300 ENVIRONMENT "${VORN_WINE_ENV}")
  endforeach()

  add_test(NAME wine.${variant}.full.install COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_full.FullInstall)
  set_tests_properties(wine.${variant}.full.install PROPERTIES
    FIXTURES_SETUP winefull_${variant} FIXTURES_REQUIRED wine_${variant}
    LABELS wine-full TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")
  foreach(pair ${VORN_WINE_FULL})
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 class)
    add_test(NAME wine.${variant}.full.${name} COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_full.${class})
    set_tests_properties(wine.${variant}.full.${name} PROPERTIES
      FIXTURES_REQUIRED "wine_${variant};winefull_${variant}" LABELS wine-full TIMEOUT 400
      ENVIRONMENT "${VORN_WINE_ENV}")
  endforeach()
endforeach()

# An upgrade whose installation directory (a small tmpfs, mounted as root)
# fills up half-way through the unpack: the earlier input method stays whole.
add_test(NAME wine.win7-936.full.disk COMMAND ${VORN_WINE_RUN} --variant win7-936 test test_fulldisk.FullDisk)
set_tests_properties(wine.win7-936.full.disk PROPERTIES
  FIXTURES_REQUIRED wine_win7-936 LABELS wine-full TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}"
  SKIP_REGULAR_EXPRESSION "the full-disk scenario is skipped")

# On the code-page-950 prefix: the layout entry the next install recognises.
add_test(NAME wine.win7-950.traditional COMMAND ${VORN_WINE_RUN} --variant win7-950 test test_harden.TraditionalLayoutText)
set_tests_properties(wine.win7-950.traditional PROPERTIES
  FIXTURES_REQUIRED wine_win7-950 LABELS wine TIMEOUT 300 ENVIRONMENT "${VORN_WINE_ENV}")

# The setup window in Xvfb, on the 64-bit systems of both code pages, on
# the "32-bit" one (where the install ends without the last page) and on
# Windows 10.
find_program(VORN_XVFB Xvfb)
find_program(VORN_XDOTOOL xdotool)
if(VORN_XVFB AND VORN_XDOTOOL)
  foreach(variant win7-936 win7-950 win7-32 win10)
    add_test(NAME wine.${variant}.gui.walk COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_gui.Walk)
    set_tests_properties(wine.${variant}.gui.walk PROPERTIES
      FIXTURES_SETUP winegui_${variant} FIXTURES_REQUIRED wine_${variant}
      LABELS wine-gui TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")
    foreach(pair ${VORN_WINE_GUI})
      string(REPLACE ":" ";" pair "${pair}")
      list(GET pair 0 name)
      list(GET pair 1 class)
      add_test(NAME wine.${variant}.gui.${name} COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_gui.${class})
      set_tests_properties(wine.${variant}.gui.${name} PROPERTIES
        FIXTURES_REQUIRED "wine_${variant};winegui_${variant}" LABELS wine-gui TIMEOUT 120
        ENVIRONMENT "${VORN_WINE_ENV}")
    endforeach()
    add_test(NAME wine.${variant}.gui.abandon COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_gui.Abandon)
    set_tests_properties(wine.${variant}.gui.abandon PROPERTIES
      FIXTURES_REQUIRED wine_${variant} LABELS wine-gui TIMEOUT 200 ENVIRONMENT "${VORN_WINE_ENV}")
  endforeach()
  # Before and after the install: a program holding the input method, its
  # shared memory, the skin dialog (both code pages).
  foreach(variant win7-936 win7-950)
    add_test(NAME wine.${variant}.gui.held
             COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_imeui.HeldInputMethod)
    set_tests_properties(wine.${variant}.gui.held PROPERTIES
      FIXTURES_REQUIRED wine_${variant} LABELS wine-gui TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")
  endforeach()
  # A second upgrade while a program holds the input method and keeps the
  # user's files open: every earlier file comes back, a large dictionary too.
  add_test(NAME wine.win7-936.gui.upgrade-held
           COMMAND ${VORN_WINE_RUN} --variant win7-936 test test_upgrade_held.HeldUpgrade)
  set_tests_properties(wine.win7-936.gui.upgrade-held PROPERTIES
    FIXTURES_REQUIRED wine_win7-936 LABELS wine-gui TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")
  add_test(NAME wine.win7-936.gui.close COMMAND ${VORN_WINE_RUN} --variant win7-936 test test_gui.CloseBox)
  set_tests_properties(wine.win7-936.gui.close PROPERTIES
    FIXTURES_REQUIRED wine_win7-936 LABELS wine-gui TIMEOUT 200 ENVIRONMENT "${VORN_WINE_ENV}")
  # On both code pages: this input method as the only preload entry; an
  # upgrade over an earlier installation with user data: Yes, No, and the
  # input method file lost before the report.
  foreach(variant win7-936 win7-950)
    add_test(NAME wine.${variant}.gui.only-ime
             COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_imeui.OnlyPreloadEntry)
    set_tests_properties(wine.${variant}.gui.only-ime PROPERTIES
      FIXTURES_REQUIRED wine_${variant} LABELS wine-gui TIMEOUT 300 ENVIRONMENT "${VORN_WINE_ENV}")
    foreach(pair upgrade:Upgrade upgrade-no:UpgradeNo lost-ime:LostImeFile)
      string(REPLACE ":" ";" pair "${pair}")
      list(GET pair 0 name)
      list(GET pair 1 class)
      add_test(NAME wine.${variant}.gui.${name} COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_upgrade.${class})
      set_tests_properties(wine.${variant}.gui.${name} PROPERTIES
        FIXTURES_REQUIRED wine_${variant} LABELS wine-gui TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")
    endforeach()
  endforeach()
else()
  message(WARNING "Xvfb or xdotool missing: the window tests under Wine are not registered")
endif()

# An unattended install (/quiet, a log path with a space) on the 936 prefix
# and on Windows 10: no message box in any process, and the log it leaves
# (on Windows 10: the version 10.0, and no input.dll for the input profile).
foreach(variant win7-936 win10)
  add_test(NAME wine.${variant}.quiet COMMAND ${VORN_WINE_RUN} --variant ${variant} test test_quiet.QuietInstall)
  set_tests_properties(wine.${variant}.quiet PROPERTIES
    FIXTURES_REQUIRED wine_${variant} LABELS wine-full TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")
endforeach()
# A second silent install while a program holds the first one's input method
# loaded: exit code 3010.
add_test(NAME wine.win10.restart COMMAND ${VORN_WINE_RUN} --variant win10 test test_quiet.LoadedInputMethod)
set_tests_properties(wine.win10.restart PROPERTIES
  FIXTURES_REQUIRED wine_win10 LABELS wine-full TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")

# The platform contract suite against Wine's Win32.
add_test(NAME contract.wine COMMAND ${VORN_WINE_RUN} --variant win7-936 contract)
set_tests_properties(contract.wine PROPERTIES
  FIXTURES_REQUIRED wine_win7-936 LABELS "contract;wine" TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")
