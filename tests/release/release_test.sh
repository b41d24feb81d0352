#!/usr/bin/env bash
# The release build, checked against the build it runs in (BUILD, unsigned):
#   release_test.sh rebuild SRC BUILD WORK
#     a copy of the source in WORK/src, built again later by tools/release.sh
#     in WORK/build: each of the three executables has BUILD's SHA-256, none
#     names a source or build directory, dist/ lists the right digests.
#   release_test.sh sign SRC BUILD WORK      (after rebuild)
#     a throw-away root and code-signing certificate made with openssl; the
#     release signed with them: each executable verifies (the throw-away root
#     trusted); the signed build is kept in WORK/signed for the Wine test
#     (which checks the setupw64.exe its payload installs); unsigned again,
#     the bytes are BUILD's once more.
# Exits 77 (skipped) when BUILD itself is signed.
set -euo pipefail
case_=$1 src=$2 build=$3 work=$4
exes=(win64/setupw64.exe win64/vornsetup64.exe win32/vornsetup.exe)
fail() { echo "FAIL ($case_): $*"; exit 1; }
if grep -q '^VORN_SIGN_PKCS12:FILEPATH=.' "$build/CMakeCache.txt"; then
  echo "skipped: $build is signed, nothing unsigned to compare with"
  exit 77
fi

release() {
  local started=$SECONDS
  "$work/src/tools/release.sh" --build "$work/build" --dist "$work/dist" > "$work/release-$1.log" 2>&1 ||
    { tail -30 "$work/release-$1.log"; fail "tools/release.sh ($1) failed"; }
  echo "tools/release.sh ($1): $((SECONDS - started)) s"
}

same_as_build() {
  for exe in "${exes[@]}"; do
    local want got
    want=$(sha256sum < "$build/$exe" | cut -d' ' -f1)
    got=$(sha256sum < "$work/build/$exe" | cut -d' ' -f1)
    [[ "$got" == "$want" ]] || fail "$exe: sha256 $got, expected $want (built in $build)"
    echo "ok: $exe sha256 $got, as in $build ($1)"
  done
}

if [[ $case_ == rebuild ]]; then
  rm -rf "$work"
  mkdir -p "$work/src"
  (cd "$src" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$work/src"
  release unsigned
  same_as_build "another directory, $(( $(date +%s) - $(stat -c %Y "$build/win32/vornsetup.exe") )) s later"
  for exe in "${exes[@]}"; do
    for dir in "$src" "$build" "$work"; do
      ! grep -qaF "$dir" "$build/$exe" "$work/build/$exe" || fail "$exe names $dir"
    done
  done
  echo "ok: no source or build directory in the executables"
  (cd "$work/dist" && sha256sum -c --quiet SHA256SUMS) || fail "dist/SHA256SUMS"
  payload=$(sha256sum < "$build/win64/payload.voz" | cut -d' ' -f1)
  grep -q "^payload: *sha256 $payload " "$work/dist/RELEASE.txt" || fail "RELEASE.txt lacks the payload digest $payload"
  echo "ok: dist/ holds $(ls "$work/dist" | paste -sd' '), the payload's digest in RELEASE.txt"
  exit 0
fi

[[ -f "$work/dist/SHA256SUMS" ]] || fail "no rebuild in $work"
cert=$work/cert
rm -rf "$cert" "$work/signed"
mkdir -p "$cert" "$work/signed"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/ca.key" -out "$cert/ca.pem" -days 2 \
  -subj "/CN=vorn throw-away root" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$cert/sign.key" -out "$cert/sign.csr" \
  -subj "/CN=vorn throw-away signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > "$cert/ext"
openssl x509 -req -in "$cert/sign.csr" -CA "$cert/ca.pem" -CAkey "$cert/ca.key" -CAcreateserial -days 2 \
  -extfile "$cert/ext" -out "$cert/sign.pem" 2>/dev/null
export VORN_SIGN_PASSWORD=throw-away
openssl pkcs12 -export -inkey "$cert/sign.key" -in "$cert/sign.pem" -certfile "$cert/ca.pem" \
  -passout env:VORN_SIGN_PASSWORD -out "$cert/sign.p12"

VORN_SIGN_PKCS12=$cert/sign.p12 release signed
for exe in "${exes[@]}" ../dist/vornsetup.exe; do
  osslsigncode verify -in "$work/build/$exe" -CAfile "$cert/ca.pem" > "$cert/verify.log" 2>&1 &&
    grep -q '^Signature verification: ok' "$cert/verify.log" || { cat "$cert/verify.log"; fail "$exe does not verify"; }
  grep -q 'Message digest algorithm *: SHA256' "$cert/verify.log" || fail "$exe: not a SHA-256 signature"
  cp "$work/build/$exe" "$work/signed/"
done
echo "ok: the three executables and dist/vornsetup.exe carry a SHA-256 signature that verifies"
cp "$cert/ca.pem" "$work/signed/"

release unsigned-again
same_as_build "unsigned again after signing"
