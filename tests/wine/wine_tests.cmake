# The Wine end-to-end tests: the setup run for real in throwaway win64
# prefixes under build/<family>/<variant>/ (the families below).  Each
# variant's prefix is booted once (fixture <family>_<variant>); every
# scenario works in a clone of it.  On Wine 8 the complete-install checks
# carry the label wine-full:
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
set(VORN_WINE_ARGS --setupw64 ${VORN_SETUPW64_EXE} --contract ${VORN_CONTRACT64_EXE}
    --payload ${CMAKE_BINARY_DIR}/win64/payload.voz --voz $<TARGET_FILE:voz>)
# Three families of the same scenarios, each with prefixes of its own under
# build/<family>/:
#   wine    the system's Wine 8, the x64 setup (vornsetup64.exe)
#   wine10  Wine 10 in the Debian trixie chroot of tools/wine10.sh, the x64
#           setup, Wine's 32-bit loader hidden (as without wine32)
#   wine32  Wine 10 in the chroot with wine32: the shipping 32-bit setup
#           (vornsetup.exe) in the main scenarios, where tools/i386.sh found
#           a way to run 32-bit programs; through qemu only a named subset
# A test of the chroot's families is skipped (exit 77) when the chroot could
# not be built or, for wine32, when 32-bit programs cannot run here.
set(VORN_CHROOT ${CMAKE_SOURCE_DIR}/tools/wine10.sh run ${CMAKE_BINARY_DIR})
set(VORN_I386_STATE ${CMAKE_BINARY_DIR}/wine32/i386-path)
set(VORN_RUN_wine ${Python3_EXECUTABLE} ${VORN_WINE_DIR}/run.py --root ${CMAKE_BINARY_DIR}/wine
    --setup ${VORN_WIN64_EXE} ${VORN_WINE_ARGS} --shots ${CMAKE_BINARY_DIR}/wine-gui-shots)
set(VORN_RUN_wine10 ${VORN_CHROOT} --no-wine32 python3 ${VORN_WINE_DIR}/run.py --root ${CMAKE_BINARY_DIR}/wine10
    --setup ${VORN_WIN64_EXE} ${VORN_WINE_ARGS} --shots ${CMAKE_BINARY_DIR}/wine10/shots)
set(VORN_RUN_wine32 ${VORN_CHROOT} python3 ${VORN_WINE_DIR}/run.py --root ${CMAKE_BINARY_DIR}/wine32
    --setup ${VORN_WIN32_EXE} --i386 ${VORN_I386_STATE} ${VORN_WINE_ARGS} --shots ${CMAKE_BINARY_DIR}/wine32/shots)
set(VORN_WINE_RUN ${VORN_RUN_wine})  # Wine 8's, as other test files know it
set(VORN_WINE_ENV VORN_WINE64=${VORN_WINE64})

# The harness's own decoders (relay trace, .reg files, archives), no Wine.
add_test(NAME wine.lib COMMAND ${Python3_EXECUTABLE} -B -m unittest -v test_winelib
         WORKING_DIRECTORY ${VORN_WINE_DIR})
set_tests_properties(wine.lib PROPERTIES LABELS wine TIMEOUT 60)

# One scenario: <family>.<variant>.<name> runs the unittest class `class`
# (module.Class) in a clone of the variant's prefix; the fixtures after the
# timeout (full_<variant>, gui_<variant>) are what it needs besides the
# booted prefix, each the family's own.  The chroot's families carry the
# label wine10 (wine32 also its own) instead of `label`.
function(vorn_wine_test family variant name class label timeout)
  set(fixtures ${family}_${variant})
  foreach(fixture ${ARGN})
    list(APPEND fixtures ${family}${fixture})
  endforeach()
  set(test ${family}.${variant}.${name})
  add_test(NAME ${test} COMMAND ${VORN_RUN_${family}} ${VORN_FLAGS_${family}} --variant ${variant} test ${class})
  set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "${fixtures}" TIMEOUT ${timeout})
  vorn_wine_properties(${family} ${test} ${label})
endfunction()

function(vorn_wine_properties family test label)
  if(family STREQUAL "wine")
    set_tests_properties(${test} PROPERTIES LABELS "${label}" ENVIRONMENT "${VORN_WINE_ENV}")
  else()
    set_tests_properties(${test} PROPERTIES LABELS "${VORN_LABELS_${family}}" SKIP_RETURN_CODE 77)
  endif()
endfunction()
set(VORN_LABELS_wine10 wine10)
set(VORN_LABELS_wine32 "wine10;wine32")

# Several: each of `pairs` is name:Class of `module`; the test is named
# <prefix><name>.
function(vorn_wine_tests family variant prefix module label timeout fixtures pairs)
  foreach(pair ${pairs})
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 class)
    if(NOT class MATCHES "\\.")
      set(class ${module}.${class})
    endif()
    vorn_wine_test(${family} ${variant} ${prefix}${name} ${class} ${label} ${timeout} ${fixtures})
  endforeach()
endfunction()

# The booted prefix of a variant, and the end of its wineservers.
function(vorn_wine_boot family variant timeout)
  set(run ${VORN_RUN_${family}} ${VORN_FLAGS_${family}} --variant ${variant})
  add_test(NAME ${family}.${variant}.boot COMMAND ${run} boot)
  set_tests_properties(${family}.${variant}.boot PROPERTIES FIXTURES_SETUP ${family}_${variant} TIMEOUT ${timeout})
  vorn_wine_properties(${family} ${family}.${variant}.boot wine)
  add_test(NAME ${family}.${variant}.cleanup COMMAND ${run} cleanup)
  set_tests_properties(${family}.${variant}.cleanup PROPERTIES FIXTURES_CLEANUP ${family}_${variant} TIMEOUT 120)
  vorn_wine_properties(${family} ${family}.${variant}.cleanup wine)
endfunction()

set(VORN_WINE_BASIC silent:Silent admin:Admin register:Register register-default:RegisterDefault
    planted:test_harden.PlantedProgram)
set(VORN_WINE_FULL outcome:Outcome files:Files system:SystemFiles registry:Registry reinstall:Reinstall)
set(VORN_WINE_GUI pages:Pages outcome:WalkOutcome files:WalkFiles system:WalkSystemFiles registry:WalkRegistry)
find_program(VORN_XVFB Xvfb)
find_program(VORN_XDOTOOL xdotool)
if(NOT VORN_XVFB OR NOT VORN_XDOTOOL)
  message(WARNING "Xvfb or xdotool missing: the window tests under Wine are not registered")
endif()

# Every scenario of the x64 setup, on the Wine of `family`.
function(vorn_wine_suite family)
  foreach(variant win7-936 win7-950 win7-32 winxp win10)
    vorn_wine_boot(${family} ${variant} 300)
    vorn_wine_tests(${family} ${variant} "" test_basic wine 300 "" "${VORN_WINE_BASIC}")
    vorn_wine_test(${family} ${variant} full.install test_full.FullInstall wine-full 400)
    set_tests_properties(${family}.${variant}.full.install PROPERTIES FIXTURES_SETUP ${family}full_${variant})
    vorn_wine_tests(${family} ${variant} full. test_full wine-full 400 full_${variant} "${VORN_WINE_FULL}")
  endforeach()

  # An upgrade whose installation directory (a small tmpfs, mounted as root)
  # fills up half-way through the unpack: the earlier input method stays whole.
  vorn_wine_test(${family} win7-936 full.disk test_fulldisk.FullDisk wine-full 400)
  set_tests_properties(${family}.win7-936.full.disk PROPERTIES
    SKIP_REGULAR_EXPRESSION "the full-disk scenario is skipped")

  # A program of the user rewriting every program in the installation
  # directory all through a silent install.
  vorn_wine_test(${family} win7-936 watched test_harden.WatchedInstall wine 300)

  # Deployment: over the complete install, the address a silent upgrade keeps
  # and /url= sets; in Xvfb, second setups while the first waits at a message
  # box (1618, nothing changed).
  vorn_wine_test(${family} win7-936 full.address test_deploy.Address wine-full 400 full_win7-936)
  if(VORN_XVFB AND VORN_XDOTOOL)
    vorn_wine_test(${family} win7-936 gui.second-setup test_deploy.SecondSetup wine-gui 400)
  endif()

  # The per-user step of every user's next logon (Active Setup), run as the
  # prefix's user twice: the layout once in his preload list; none on the
  # "32-bit" system, which has no 64-bit step program.
  foreach(variant win7-936 win7-32 win10)
    vorn_wine_test(${family} ${variant} peruser test_peruser.PerUserStep wine 300)
  endforeach()

  # On the code-page-950 prefix: the layout entry the next install recognises.
  vorn_wine_test(${family} win7-950 traditional test_harden.TraditionalLayoutText wine 300)

  # The setup window in Xvfb, on the 64-bit systems of both code pages, on
  # the "32-bit" one (where the install ends without the last page) and on
  # Windows 10.
  if(VORN_XVFB AND VORN_XDOTOOL)
    foreach(variant win7-936 win7-950 win7-32 win10)
      vorn_wine_test(${family} ${variant} gui.walk test_gui.Walk wine-gui 400)
      set_tests_properties(${family}.${variant}.gui.walk PROPERTIES FIXTURES_SETUP ${family}gui_${variant})
      vorn_wine_tests(${family} ${variant} gui. test_gui wine-gui 120 gui_${variant} "${VORN_WINE_GUI}")
      vorn_wine_test(${family} ${variant} gui.abandon test_gui.Abandon wine-gui 200)
    endforeach()
    # On both code pages: a program holding the input method, its shared
    # memory, the skin dialog; this input method as the only preload entry; an
    # upgrade over an earlier installation with user data: Yes, No, Yes after
    # a first walk that stopped dead at the keep question, and the input
    # method file lost before the report.
    foreach(variant win7-936 win7-950)
      vorn_wine_test(${family} ${variant} gui.held test_imeui.HeldInputMethod wine-gui 400)
      vorn_wine_test(${family} ${variant} gui.only-ime test_imeui.OnlyPreloadEntry wine-gui 300)
      vorn_wine_tests(${family} ${variant} gui. test_upgrade wine-gui 400 ""
                      "upgrade:Upgrade;upgrade-no:UpgradeNo;upgrade-stopped:UpgradeAfterAStop;lost-ime:LostImeFile")
    endforeach()
    # A second upgrade while a program holds the input method and keeps the
    # user's files open: every earlier file comes back, a large dictionary too.
    vorn_wine_test(${family} win7-936 gui.upgrade-held test_upgrade_held.HeldUpgrade wine-gui 400)
    vorn_wine_test(${family} win7-936 gui.close test_gui.CloseBox wine-gui 200)
  endif()

  # An unattended install (/quiet, a log path with a space) on the 936 prefix
  # and on Windows 10: no message box in any process, and the log it leaves
  # (on Windows 10: the version 10.0, and the input profile that could not
  # be added).
  foreach(variant win7-936 win10)
    vorn_wine_test(${family} ${variant} quiet test_quiet.QuietInstall wine-full 400)
  endforeach()
  # A second silent install while a program holds the first one's input method
  # loaded: exit code 3010.
  vorn_wine_test(${family} win10 restart test_quiet.LoadedInputMethod wine-full 400)

  # The platform contract suite against Wine's Win32.
  add_test(NAME contract.${family} COMMAND ${VORN_RUN_${family}} --variant win7-936 contract)
  set_tests_properties(contract.${family} PROPERTIES FIXTURES_REQUIRED ${family}_win7-936 TIMEOUT 400)
  vorn_wine_properties(${family} contract.${family} "contract;wine")
endfunction()

vorn_wine_suite(wine)
vorn_wine_suite(wine10)

# The shipping 32-bit setup, on Wine 10 (whose chroot has wine32), in the
# main scenarios: silent, quiet, the whole install, the window, the upgrade
# that keeps the user's files, code page 950 and Windows 10.  tools/i386.sh
# decides first how 32-bit programs run here and takes back what it added.
# Through qemu (about 150 times slower) only the silent installs on 936 and
# 950 and the upgrade run (--qemu-subset); the rest is skipped and says why.
add_test(NAME wine32.i386 COMMAND ${CMAKE_SOURCE_DIR}/tools/i386.sh setup ${VORN_I386_STATE})
set_tests_properties(wine32.i386 PROPERTIES FIXTURES_SETUP wine32_i386 LABELS "wine10;wine32" TIMEOUT 60)
add_test(NAME wine32.i386.cleanup COMMAND ${CMAKE_SOURCE_DIR}/tools/i386.sh cleanup ${VORN_I386_STATE})
set_tests_properties(wine32.i386.cleanup PROPERTIES FIXTURES_CLEANUP wine32_i386 LABELS "wine10;wine32" TIMEOUT 60)
foreach(variant win7-936 win7-950 win10)
  set(VORN_FLAGS_wine32)
  if(NOT variant STREQUAL "win10")
    set(VORN_FLAGS_wine32 --qemu-subset)
  endif()
  vorn_wine_boot(wine32 ${variant} 1500)
  set_tests_properties(wine32.${variant}.boot PROPERTIES FIXTURES_REQUIRED wine32_i386)
  vorn_wine_test(wine32 ${variant} silent test_basic.Silent wine 1200 _i386)
endforeach()
set(VORN_FLAGS_wine32)
foreach(variant win7-936 win10)
  vorn_wine_test(wine32 ${variant} quiet test_quiet.QuietInstall wine 400 _i386)
endforeach()
vorn_wine_test(wine32 win7-936 full.install test_full.FullInstall wine 400 _i386)
set_tests_properties(wine32.win7-936.full.install PROPERTIES FIXTURES_SETUP wine32full_win7-936)
vorn_wine_tests(wine32 win7-936 full. test_full wine 400 "_i386;full_win7-936" "${VORN_WINE_FULL}")
if(VORN_XVFB AND VORN_XDOTOOL)
  vorn_wine_test(wine32 win7-936 gui.walk test_gui.Walk wine 400 _i386)
  set_tests_properties(wine32.win7-936.gui.walk PROPERTIES FIXTURES_SETUP wine32gui_win7-936)
  vorn_wine_tests(wine32 win7-936 gui. test_gui wine 120 "_i386;gui_win7-936" "${VORN_WINE_GUI}")
  set(VORN_FLAGS_wine32 --qemu-subset)
  vorn_wine_test(wine32 win7-936 gui.upgrade test_upgrade.Upgrade wine 2400 _i386)
  set(VORN_FLAGS_wine32)
endif()
