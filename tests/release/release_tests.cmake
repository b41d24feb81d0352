# The release: the three executables built again elsewhere and later by
# tools/release.sh (the same bytes), then signed with a throw-away
# certificate (signatures that verify) and unsigned again (the same bytes
# once more); the signed setup's silent install under Wine leaves a
# registration program that still verifies.
#   ctest -L release
set(VORN_RELEASE_WORK ${CMAKE_BINARY_DIR}/release-test)
foreach(case rebuild sign)
  add_test(NAME release.${case}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/release/release_test.sh ${case} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                   ${VORN_RELEASE_WORK})
  set_tests_properties(release.${case} PROPERTIES LABELS release TIMEOUT 1800 SKIP_RETURN_CODE 77)
endforeach()
set_tests_properties(release.rebuild PROPERTIES FIXTURES_SETUP release_rebuilt)
set_tests_properties(release.sign PROPERTIES FIXTURES_REQUIRED release_rebuilt FIXTURES_SETUP release_signed)

if(VORN_WINE_RUN)
  set(signed ${VORN_RELEASE_WORK}/signed)
  add_test(NAME wine.win7-936.signed
           COMMAND ${VORN_WINE_RUN} --setup ${signed}/vornsetup64.exe --setupw64 ${signed}/setupw64.exe
                   --variant win7-936 test test_signed.SignedInstall)
  set_tests_properties(wine.win7-936.signed PROPERTIES
    FIXTURES_REQUIRED "wine_win7-936;release_signed" LABELS "wine;release" TIMEOUT 300
    ENVIRONMENT "${VORN_WINE_ENV};VORN_SIGN_CA=${signed}/ca.pem")
endif()
