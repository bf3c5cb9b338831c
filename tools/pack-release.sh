#!/usr/bin/env bash
# Packs the release from the two build trees (tools/package.sh, and the
# release tests) into <out>:
#   vorn-mediapad-<version>.zip          vorn-mediapad-<version>.zip.sha256
#   vorn-mediapad-<version>-setup.exe    vorn-mediapad-<version>-setup.exe.sha256
# usage: tools/pack-release.sh <32-bit build tree> <64-bit build tree> <out>
#
# The same build trees give the same bytes, wherever and whenever they are
# packed: every time stamp is the release time (tools/release-time.sh, which
# SOURCE_DATE_EPOCH sets; the build trees' programs carry it from their
# link), the zip's entries are in a fixed order with fixed modes and no
# owner, and the zip's BUILDINFO names the commit and the tools. With
# VORN_SIGN_CERT set (tools/sign.sh) every PE file is signed before it goes
# into the zip and the setup program, and the setup program after.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build32=$(cd "$1" && pwd) build64=$(cd "$2" && pwd)
mkdir -p "$3"
out=$(cd "$3" && pwd)
export LC_ALL=C TZ=UTC
umask 022
release_time=$(bash "$here/release-time.sh")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
# The key's password reaches the signing tool only through a file that
# only this user may read: no child (makensis, its shell) inherits it.
if [ -n "${VORN_SIGN_PASS:-}" ]; then
    (umask 077 && printf '%s' "$VORN_SIGN_PASS" >"$work/pass")
    unset VORN_SIGN_PASS
    export VORN_SIGN_PASS_FILE=$work/pass
fi

for tree in "$build32" "$build64"; do
    cmake --install "$tree" --component release --prefix "$stage" >/dev/null
done
version_full=$(sed -n '1s/^Vorn MediaPad display chain \([0-9.]*\).*/\1/p' "$stage/INSTALL.txt")
# The programs took their time at the build's configure (tools/build.sh).
while IFS= read -r file; do
    linked=$(bash "$here/pe.sh" times "$file" | sed -n 's/^header //p')
    [ "$linked" = "$release_time" ] ||
        { echo "${file#"$stage/"} was linked with the time $linked, not the release time $release_time: run tools/build.sh" >&2; exit 1; }
done < <(find "$stage" -type f \( -name '*.exe' -o -name '*.dll' \))
name=vorn-mediapad-${version_full%.*}

commit=$(git -C "$here/.." rev-parse HEAD 2>/dev/null || echo unknown)
source_state="the commit as it is"
if [ "$commit" != unknown ] && [ -n "$(git -C "$here/.." status --porcelain --untracked-files=no)" ]; then
    source_state="the commit with uncommitted changes: not what the commit builds"
    echo "warning: the source tree has uncommitted changes; BUILDINFO says so" >&2
fi
{
    echo "Vorn MediaPad display chain $version_full"
    echo "commit $commit"
    echo "source $source_state"
    echo "release time $release_time ($(date -u -d "@$release_time" '+%Y-%m-%d %H:%M:%S UTC'))"
    echo "built with:"
    dpkg-query -W -f='  ${Package} ${Version}\n' g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
        binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 mingw-w64-i686-dev mingw-w64-x86-64-dev \
        cmake nsis nsis-common zip 2>/dev/null || echo "  (not from Debian packages)"
    echo "Check it against its source: tools/verify-release.sh in the source (README)."
} | sed 's/$/\r/' >"$stage/BUILDINFO"

if [ -n "${VORN_SIGN_CERT:-}" ]; then
    # A file that is in both folders is signed once, so that both hold the
    # same bytes (and NSIS stores it once).
    declare -A signed
    while IFS= read -r file; do
        sum=$(sha256sum <"$file")
        if [ -n "${signed[$sum]:-}" ]; then
            cp "${signed[$sum]}" "$file"
        else
            bash "$here/sign.sh" "$file"
            signed[$sum]=$file
        fi
    done < <(find "$stage" -type f \( -name '*.exe' -o -name '*.dll' \) | sort)
    echo "signed with $VORN_SIGN_CERT"
else
    echo "not signed: VORN_SIGN_CERT names no certificate"
fi

chmod -R u=rwX,go=rX "$stage"
# The zip and NSIS keep a file's time as a DOS time, in steps of two
# seconds (zip rounds an odd second up, NSIS down): both get the release
# time rounded down to an even second.
find "$stage" -exec touch -h -d "@$((release_time - release_time % 2))" {} +
# Info-ZIP's zip: -X leaves out the owner and the extra time fields, so an
# entry holds only its name, its mode and its DOS time (in UTC here).
rm -f "$out/$name.zip"
(cd "$stage" && find . -mindepth 1 \( -type d -printf '%P/\n' -o -printf '%P\n' \) | sort |
    zip -q -X -9 -@ "$out/$name.zip")

bash "$here/make-setup.sh" "$stage" "$version_full" "$out/$name-setup.exe" "$release_time" "$commit"
(cd "$out" && for file in "$name.zip" "$name-setup.exe"; do sha256sum "$file" >"$file.sha256"; done)
