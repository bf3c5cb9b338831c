#!/usr/bin/env bash
# Signing a release: packed with a throwaway self-signed certificate made
# here, every PE file of the zip, the setup program and its uninstaller
# carry a signature that osslsigncode accepts against that certificate; with
# the signature taken out each is the file of the unsigned release again
# (the setup program: the unsigned one, signed and taken out again, since
# the files inside it are signed); the zip's entries stay as they were.
# usage: signing_test.sh <source tree> <32-bit build tree> <64-bit build tree> <out of pack_for_tests.sh> <release time>
set -euo pipefail
tools=$(cd "$1" && pwd)/tools build32=$2 build64=$3 unsigned=$4
export SOURCE_DATE_EPOCH=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

# A key under a password, which no child of the signing step but the
# signing tool may learn: makensis (here a wrapper that notes its
# environment) and the shell it runs for the uninstaller inherit none.
export VORN_SIGN_PASS="not for makensis $$"
openssl req -x509 -newkey rsa:2048 -days 1 -subj "/CN=Vorn test signing" -passout env:VORN_SIGN_PASS \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
export VORN_SIGN_CERT=$work/cert.pem VORN_SIGN_KEY=$work/key.pem
mkdir "$work/bin"
printf '#!/bin/sh\nenv >>"%s"\nexec "%s" "$@"\n' "$work/makensis.env" "$(command -v makensis)" >"$work/bin/makensis"
chmod +x "$work/bin/makensis"
PATH=$work/bin:$PATH bash "$tools/pack-release.sh" "$build32" "$build64" "$work/signed" |
    grep -x "signed with $VORN_SIGN_CERT"
[ -s "$work/makensis.env" ] || fail "makensis was not run through the wrapper"
! grep -q "$VORN_SIGN_PASS" "$work/makensis.env" || fail "makensis inherited the key's password"
zip=$(ls "$work"/signed/vorn-mediapad-*.zip)
setup=$(ls "$work"/signed/vorn-mediapad-*-setup.exe)
unsigned_zip=$unsigned/$(basename "$zip")
unsigned_setup=$unsigned/$(basename "$setup")

entries() { TZ=UTC unzip -Z -T "$1" | awk '/^[-d]/ { print $1, $7, $8 }'; }
[ "$(entries "$zip")" = "$(entries "$unsigned_zip")" ] ||
    fail "the signed zip's entries (names, order, modes, times) differ from the unsigned zip's"

# <signed file> <the unsigned file it must be without its signature>
check() {
    if ! osslsigncode verify -CAfile "$VORN_SIGN_CERT" -in "$1" >"$work/verify.log" 2>&1; then
        fail "$1: osslsigncode verify does not accept its signature: $(tail -n 3 "$work/verify.log")"
    elif ! osslsigncode remove-signature -in "$1" -out "$work/stripped" >/dev/null 2>&1; then
        fail "$1: its signature cannot be taken out"
    elif ! cmp "$work/stripped" "$2"; then
        fail "$1 without its signature is not the unsigned $2"
    fi
    rm -f "$work/stripped"
}

mkdir "$work/unpacked"
(cd "$work/unpacked" && unzip -q "$zip")
checked=0
while IFS= read -r name; do
    check "$work/unpacked/$name" "$unsigned/unpacked/$name"
    checked=$((checked + 1))
done < <(unzip -Z1 "$zip" | grep -E '\.(exe|dll)$')

7z x -y -aou -o"$work/setup" "$setup" >/dev/null
7z x -y -aou -o"$work/unsigned-setup" "$unsigned_setup" >/dev/null
check "$work/setup/vorn-mediapad-uninstall.exe" "$work/unsigned-setup/vorn-mediapad-uninstall.exe"
osslsigncode verify -CAfile "$VORN_SIGN_CERT" -in "$setup" >/dev/null 2>&1 ||
    fail "$setup: osslsigncode verify does not accept its signature"
cp "$unsigned_setup" "$work/setup.exe"
bash "$tools/sign.sh" "$work/setup.exe"  # the password given to sign.sh itself
check "$work/setup.exe" "$unsigned_setup"

[ "$failures" -eq 0 ] || exit 1
echo "$checked files of the zip, the setup program and its uninstaller signed and checked"
