#!/usr/bin/env bash
# Makes the setup program from the files of the release zip with NSIS
# (packaging/setup.nsi):
#   tools/make-setup.sh <folder of the zip's files> <version a.b.c.d> <setup.exe to write> <release time> <commit>
# NSIS keeps each file's time (in two-second steps), which the install gives
# the installed file: tools/pack-release.sh gives the files the release time
# first. The setup program and its uninstaller carry the release time
# (seconds since 1970) in their PE headers; with VORN_SIGN_CERT set
# (tools/sign.sh) both are signed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Stamps a PE file that NSIS wrote with the release time, pads it as
# signing does (so that a signed file with its signature taken out is this
# file again) and signs it where a certificate is given.
finish() {
    bash "$here/pe.sh" stamp "$2" "$1"
    [ -z "${VORN_SIGN_CERT:-}" ] || bash "$here/sign.sh" "$2"
}
# makensis runs this on the uninstaller (!uninstfinalize) before it packs it.
if [ "${1:-}" = --finish ]; then
    finish "$2" "$3"
    exit
fi

# The key's password reaches the signing tool only through a file that
# only this user may read: makensis and the shell it runs do not inherit it.
if [ -n "${VORN_SIGN_PASS:-}" ]; then
    pass_dir=$(mktemp -d)
    trap 'rm -rf "$pass_dir"' EXIT
    (umask 077 && printf '%s' "$VORN_SIGN_PASS" >"$pass_dir/pass")
    unset VORN_SIGN_PASS
    export VORN_SIGN_PASS_FILE=$pass_dir/pass
fi

files=$(cd "$1" && pwd) version_full=$2 out=$3 release_time=$4 commit=$5
version=${version_full%.*}
out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"
# Add or Remove Programs shows the size of what one build's install places
# (the zip's folder for it and INSTALL.txt); the patched layer is added at
# install time.
size_kb() { find "$files/$1" "$files/INSTALL.txt" -type f -printf '%s\n' | awk '{ kb += int(($1 + 1023) / 1024) } END { print kb }'; }
makensis -V2 -NOCD "-DVERSION=$version" "-DVERSION_FULL=$version_full" "-DFILES=$files" "-DOUTFILE=$out" \
    "-DSIZE_KB_32=$(size_kb LCDSmartie-32bit)" "-DSIZE_KB_64=$(size_kb LCDSmartie-64bit)" \
    "-DSOURCE_COMMIT=$commit" "-DFINISH_UNINSTALLER=bash \"$here/make-setup.sh\" --finish $release_time" \
    "$here/../packaging/setup.nsi"
finish "$release_time" "$out"
