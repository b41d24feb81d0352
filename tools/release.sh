#!/usr/bin/env bash
# Builds the shipping setup from this checkout and packs what a vendor ships:
#   tools/release.sh [--build DIR] [--dist DIR]      (default build-release/, dist/)
# dist/ then holds vornsetup.exe, SHA256SUMS and RELEASE.txt (version,
# commit, payload digest, how it was built).  The build makes the three
# executables only (no tests) and is reproducible: the same commit and
# payload give the same bytes anywhere.
#
# The environment passes on the vendor's choices:
#   VORN_PAYLOAD_DIR         the real input-method files (default: the sample payload)
#   VORN_SIGN_PKCS12         certificate and key; without it nothing is signed
#   VORN_SIGN_PASSWORD       its password
#   VORN_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
#   SOURCE_DATE_EPOCH        the signing time (default: the commit's time)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-release
dist=$root/dist
while [[ $# -gt 0 ]]; do
  case $1 in
    --build) build=$(realpath -m "$2"); shift 2 ;;
    --dist) dist=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--dist DIR]" >&2; exit 2 ;;
  esac
done

commit=$(git -C "$root" rev-parse HEAD 2>/dev/null || echo "unknown (not a git checkout)")
if [[ "$commit" != unknown* && -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]]; then
  commit="$commit, with uncommitted changes"
fi
# A signature made twice with the same key and time is the same bytes.
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
p12=${VORN_SIGN_PKCS12:+$(realpath "$VORN_SIGN_PKCS12")}
payload_dir=${VORN_PAYLOAD_DIR:+$(realpath "$VORN_PAYLOAD_DIR")}

started=$(date +%s)
cmake -S "$root" -B "$build" -G Ninja -DVORN_PRODUCT_ONLY=ON -DVORN_PAYLOAD_DIR="$payload_dir" \
  -DVORN_SIGN_PKCS12="$p12" -DVORN_SIGN_TIMESTAMP_URL="${VORN_SIGN_TIMESTAMP_URL:-}" >/dev/null
cmake --build "$build" --target win32

version=$(sed -n 's/^#define VORN_VERSION_\(MAJOR\|MINOR\|BUILD\|REVISION\) \([0-9]*\)$/\2/p' \
  "$root/setup/version.h" | paste -sd.)
rm -rf "$dist"
mkdir -p "$dist"
cp "$build/win32/vornsetup.exe" "$dist/"
(cd "$dist" && sha256sum vornsetup.exe > SHA256SUMS)
if [[ -n "$p12" ]]; then
  signed="Authenticode, SHA-256, signing time $SOURCE_DATE_EPOCH"
  signed+=${VORN_SIGN_TIMESTAMP_URL:+", RFC 3161 time stamp from $VORN_SIGN_TIMESTAMP_URL"}
else
  signed="no (unsigned)"
fi
cat > "$dist/RELEASE.txt" <<EOF
智能砚舟 setup $version
commit:     $commit
payload:    sha256 $(sha256sum "$build/win64/payload.voz" | cut -d' ' -f1) (${payload_dir:-the sample payload})
setupw64:   sha256 $(sha256sum "$build/win64/setupw64.exe" | cut -d' ' -f1) (the 64-bit registration program inside it)
signed:     $signed
built with: tools/release.sh on $(. /etc/os-release && echo "$PRETTY_NAME"); $(cmake --version | head -1);
            $(i686-w64-mingw32-g++ --version | head -1); $(i686-w64-mingw32-ld --version | head -1)
EOF
cat "$dist/SHA256SUMS" "$dist/RELEASE.txt"
echo "release: $dist in $(( $(date +%s) - started )) s"
