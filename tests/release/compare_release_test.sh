#!/usr/bin/env bash
# Comparing a release with its rebuild (tools/compare-release.sh, the second
# half of tools/verify-release.sh), on the release that pack_for_tests.sh
# packed, standing in for the rebuild:
#  - a zip whose BUILDINFO names other tool versions is the same, with a
#    note; one whose BUILDINFO names another commit is NOT;
#  - a signed setup program whose installer script differs is never
#    accepted on the strength of the files that 7z gives.
# usage: compare_release_test.sh <source tree> <out of pack_for_tests.sh>
set -euo pipefail
tools=$(cd "$1" && pwd)/tools source=$(cd "$1" && pwd) release=$(cd "$2" && pwd)
export LC_ALL=C TZ=UTC
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }
zip=$(ls "$release"/vorn-mediapad-*.zip)
setup=$(ls "$release"/vorn-mediapad-*-setup.exe)
commit=$(unzip -p "$zip" BUILDINFO | tr -d '\r' | sed -n 's/^commit //p')
release_time=$(unzip -p "$zip" BUILDINFO | tr -d '\r' | sed -n 's/^release time \([0-9]*\).*/\1/p')
n=0

# <expected status> <what> <release file>: compares it with the packed one.
expect() {
    local want=$1 what=$2 file=$3 got=0 against=$zip
    [[ $file == *.exe ]] && against=$setup
    n=$((n + 1))
    bash "$tools/compare-release.sh" "$file" "$against" "$commit" "$work/compare$n" >"$work/out$n" 2>&1 || got=$?
    if [ "$got" -ne "$want" ]; then
        fail "$what: exit status $got, not $want:"
        sed 's/^/    /' "$work/out$n"
    fi
}

# A copy of the zip with <sed script> run over one of its files, packed as
# tools/pack-release.sh packs it.
variant() {
    local name=$1 file=$2 script=$3 dir=$work/$1
    mkdir "$dir"
    (cd "$dir" && unzip -q "$zip")
    local time
    time=$(stat -c %Y "$dir/$file")
    sed -i "$script" "$dir/$file"
    touch -d "@$time" "$dir/$file"
    (cd "$dir" && find . -mindepth 1 \( -type d -printf '%P/\n' -o -printf '%P\n' \) | sort |
        zip -q -X -9 -@ "$work/$name.zip")
    echo "$work/$name.zip"
}

expect 0 "the zip itself" "$zip"
grep -q "byte for byte" "$work/out$n" || fail "the zip itself is not said to be the same byte for byte"

tools_zip=$(variant tools BUILDINFO 's/^\(  cmake [0-9][0-9A-Za-z.:~+-]*\)/\1+other/')
unzip -p "$tools_zip" BUILDINFO | grep -q '+other' || fail "the variant's BUILDINFO names no other cmake"
expect 0 "a zip whose BUILDINFO names another cmake" "$tools_zip"
grep -q "but for the tool versions BUILDINFO names" "$work/out$n" ||
    fail "other tool versions are not noted: $(tail -n 1 "$work/out$n")"
grep -q "NOT" "$work/out$n" && fail "other tool versions make the release NOT what the commit builds"

expect 1 "a zip whose BUILDINFO names another commit" "$(variant commit BUILDINFO 's/^commit [0-9a-f]/commit g/')"
grep -q "result:.*NOT" "$work/out$n" || fail "another commit in BUILDINFO is not a difference"

# A setup program made from the same files, one of them signed as a release
# signs it, and signed itself, with one word of its installer script
# changed: its packed data differs from the rebuild's in more than the
# signatures.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Vorn test signing" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
export VORN_SIGN_CERT=$work/cert.pem VORN_SIGN_KEY=$work/key.pem
mkdir -p "$work/tree" "$work/files"
cp -r "$source/tools" "$source/packaging" "$work/tree/"
sed -i '0,/DetailPrint "/s/DetailPrint "/DetailPrint "(changed) /' "$work/tree/packaging/setup.nsi"
cmp -s "$source/packaging/setup.nsi" "$work/tree/packaging/setup.nsi" && fail "the installer script was not changed"
(cd "$work/files" && unzip -q "$zip")
find "$work/files" -type f -name VornApx.dll -exec bash "$tools/sign.sh" {} +  # signed files inside
bash "$work/tree/tools/make-setup.sh" "$work/files" "$(sed -n '1s/^Vorn MediaPad display chain \([0-9.]*\).*/\1/p' \
    "$work/files/INSTALL.txt" | tr -d '\r')" "$work/changed-setup.exe" "$release_time" "$commit" >/dev/null
n=$((n + 1))
status=0
bash "$tools/compare-release.sh" "$work/changed-setup.exe" "$setup" "$commit" "$work/compare$n" >"$work/out$n" 2>&1 ||
    status=$?
if [ "$status" -eq 0 ] || grep -q "result:  the release is what" "$work/out$n"; then
    fail "a signed setup program with another installer script is accepted:"
    sed 's/^/    /' "$work/out$n"
fi

[ "$failures" -eq 0 ] || exit 1
echo "$n comparisons as expected"
