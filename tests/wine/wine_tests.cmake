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

# One scenario: wine.<variant>.<name> runs the unittest class `class`
# (module.Class) in a clone of the variant's prefix; the fixtures after the
# timeout are what it needs besides the booted prefix.
function(vorn_wine_test variant name class label timeout)
  add_test(NAME wine.${variant}.${name} COMMAND ${VORN_WINE_RUN} --variant ${variant} test ${class})
  set_tests_properties(wine.${variant}.${name} PROPERTIES
    FIXTURES_REQUIRED "wine_${variant};${ARGN}" LABELS ${label} TIMEOUT ${timeout} ENVIRONMENT "${VORN_WINE_ENV}")
endfunction()

# Several: each of `pairs` is name:Class of `module`; the test is named
# <prefix><name>.
function(vorn_wine_tests variant prefix module label timeout fixtures pairs)
  foreach(pair ${pairs})
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 class)
    if(NOT class MATCHES "\\.")
      set(class ${module}.${class})
    endif()
    vorn_wine_test(${variant} ${prefix}${name} ${class} ${label} ${timeout} ${fixtures})
  endforeach()
endfunction()

set(VORN_WINE_BASIC silent:Silent admin:Admin register:Register register-default:RegisterDefault
    planted:test_harden.PlantedProgram)
set(VORN_WINE_FULL outcome:Outcome files:Files system:SystemFiles registry:Registry reinstall:Reinstall)
set(VORN_WINE_GUI pages:Pages outcome:WalkOutcome files:WalkFiles system:WalkSystemFiles registry:WalkRegistry)

foreach(variant win7-936 win7-950 win7-32 winxp win10)
  add_test(NAME wine.${variant}.boot COMMAND ${VORN_WINE_RUN} --variant ${variant} boot)
  set_tests_properties(wine.${variant}.boot PROPERTIES
    FIXTURES_SETUP wine_${variant} LABELS wine TIMEOUT 300 ENVIRONMENT "${VORN_WINE_ENV}")
  add_test(NAME wine.${variant}.cleanup COMMAND ${VORN_WINE_RUN} --variant ${variant} cleanup)
  set_tests_properties(wine.${variant}.cleanup PROPERTIES
    FIXTURES_CLEANUP wine_${variant} LABELS wine TIMEOUT 120 ENVIRONMENT "${VORN_WINE_ENV}")

  vorn_wine_tests(${variant} "" test_basic wine 300 "" "${VORN_WINE_BASIC}")
  vorn_wine_test(${variant} full.install test_full.FullInstall wine-full 400)
  set_tests_properties(wine.${variant}.full.install PROPERTIES FIXTURES_SETUP winefull_${variant})
  vorn_wine_tests(${variant} full. test_full wine-full 400 winefull_${variant} "${VORN_WINE_FULL}")
endforeach()

# An upgrade whose installation directory (a small tmpfs, mounted as root)
# fills up half-way through the unpack: the earlier input method stays whole.
vorn_wine_test(win7-936 full.disk test_fulldisk.FullDisk wine-full 400)
set_tests_properties(wine.win7-936.full.disk PROPERTIES SKIP_REGULAR_EXPRESSION "the full-disk scenario is skipped")

# On the code-page-950 prefix: the layout entry the next install recognises.
vorn_wine_test(win7-950 traditional test_harden.TraditionalLayoutText wine 300)

# The setup window in Xvfb, on the 64-bit systems of both code pages, on
# the "32-bit" one (where the install ends without the last page) and on
# Windows 10.
find_program(VORN_XVFB Xvfb)
find_program(VORN_XDOTOOL xdotool)
if(VORN_XVFB AND VORN_XDOTOOL)
  foreach(variant win7-936 win7-950 win7-32 win10)
    vorn_wine_test(${variant} gui.walk test_gui.Walk wine-gui 400)
    set_tests_properties(wine.${variant}.gui.walk PROPERTIES FIXTURES_SETUP winegui_${variant})
    vorn_wine_tests(${variant} gui. test_gui wine-gui 120 winegui_${variant} "${VORN_WINE_GUI}")
    vorn_wine_test(${variant} gui.abandon test_gui.Abandon wine-gui 200)
  endforeach()
  # On both code pages: a program holding the input method, its shared
  # memory, the skin dialog; this input method as the only preload entry; an
  # upgrade over an earlier installation with user data: Yes, No, Yes after
  # a first walk that stopped dead at the keep question, and the input
  # method file lost before the report.
  foreach(variant win7-936 win7-950)
    vorn_wine_test(${variant} gui.held test_imeui.HeldInputMethod wine-gui 400)
    vorn_wine_test(${variant} gui.only-ime test_imeui.OnlyPreloadEntry wine-gui 300)
    vorn_wine_tests(${variant} gui. test_upgrade wine-gui 400 "" "upgrade:Upgrade;upgrade-no:UpgradeNo;upgrade-stopped:UpgradeAfterAStop;lost-ime:LostImeFile")
  endforeach()
  # A second upgrade while a program holds the input method and keeps the
  # user's files open: every earlier file comes back, a large dictionary too.
  vorn_wine_test(win7-936 gui.upgrade-held test_upgrade_held.HeldUpgrade wine-gui 400)
  vorn_wine_test(win7-936 gui.close test_gui.CloseBox wine-gui 200)
else()
  message(WARNING "Xvfb or xdotool missing: the window tests under Wine are not registered")
endif()

# An unattended install (/quiet, a log path with a space) on the 936 prefix
# and on Windows 10: no message box in any process, and the log it leaves
# (on Windows 10: the version 10.0, and no input.dll for the input profile).
foreach(variant win7-936 win10)
  vorn_wine_test(${variant} quiet test_quiet.QuietInstall wine-full 400)
endforeach()
# A second silent install while a program holds the first one's input method
# loaded: exit code 3010.
vorn_wine_test(win10 restart test_quiet.LoadedInputMethod wine-full 400)

# The platform contract suite against Wine's Win32.
add_test(NAME contract.wine COMMAND ${VORN_WINE_RUN} --variant win7-936 contract)
set_tests_properties(contract.wine PROPERTIES
  FIXTURES_REQUIRED wine_win7-936 LABELS "contract;wine" TIMEOUT 400 ENVIRONMENT "${VORN_WINE_ENV}")
