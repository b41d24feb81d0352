#!/usr/bin/env bash
# Signs one executable in place with an Authenticode signature (SHA-256):
#   sign.sh --pkcs12 FILE [--timestamp URL] EXE
# The certificate and key come from the PKCS#12 file, its password from the
# environment variable VORN_SIGN_PASSWORD (none when unset or empty), so the
# password never stands on a command line or in the build's cache.  With
# --timestamp the signature gets an RFC 3161 time stamp from that server;
# SOURCE_DATE_EPOCH, when set, is the signing time.
# Uses only what osslsigncode 2.5 (Debian 12) offers.  No description (-n):
# osslsigncode writes it as an ASCII string, which cannot hold 智能砚舟.
set -euo pipefail

p12= url=
while [[ $# -gt 1 ]]; do
  case $1 in
    --pkcs12) p12=$2; shift 2 ;;
    --timestamp) url=$2; shift 2 ;;
    *) break ;;
  esac
done
exe=${1:-}
if [[ -z "$p12" || -z "$exe" || $# -ne 1 ]]; then
  echo "usage: $0 --pkcs12 FILE [--timestamp URL] EXE" >&2
  exit 2
fi

args=(sign -pkcs12 "$p12" -h sha256)
[[ -n "$url" ]] && args+=(-ts "$url")
# A fixed signing time makes the signed file the same bytes on every build
# with the same key (RSA signatures are deterministic).
[[ -n "${SOURCE_DATE_EPOCH:-}" ]] && args+=(-time "$SOURCE_DATE_EPOCH")
out="$exe.signing"
rm -f "$out"
[[ -n "${VORN_SIGN_PASSWORD:-}" ]] && args+=(-readpass /dev/stdin)
if ! log=$(printf '%s' "${VORN_SIGN_PASSWORD:-}" | osslsigncode "${args[@]}" -in "$exe" -out "$out" 2>&1); then
  echo "$log" >&2
  echo "sign.sh: osslsigncode could not sign $exe" >&2
  rm -f "$out"
  exit 1
fi
mv -f "$out" "$exe"
echo "signed $exe"
