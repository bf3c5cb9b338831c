#!/usr/bin/env bash
# What makes two builds of one commit give the same bytes, checked on one
# build: every PE file (each of the zip, the setup program, its uninstaller)
# carries the commit's time in its header and export table, and no symbol
# table or debug section; each zip entry carries it too, in the zip's
# two-second steps, and the entries stand in the byte order of their names;
# BUILDINFO names the commit; no file holds the path of the source or the
# build tree.
# usage: release_time_test.sh <source tree> <32-bit build tree> <out of pack_for_tests.sh>
set -euo pipefail
source=$(cd "$1" && pwd) build=$(cd "$2" && pwd) out=$3
tools=$source/tools
release_time=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct HEAD)}
zip=$(ls "$out"/vorn-mediapad-*.zip)
setup=$(ls "$out"/vorn-mediapad-*-setup.exe)
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

names=$(unzip -Z1 "$zip")
[ "$names" = "$(LC_ALL=C sort <<<"$names")" ] || fail "the zip's entries are not in the byte order of their names: $names"
dos_time=$(date -u -d "@$((release_time - release_time % 2))" +%Y%m%d.%H%M%S)
while read -r _ _ _ _ _ _ time name; do
    [ "$time" = "$dos_time" ] || fail "zip entry $name has the time $time, not the commit's $dos_time"
done < <(TZ=UTC unzip -Z -T "$zip" | grep -E '^[-d]')

buildinfo=$(tr -d '\r' <"$out/unpacked/BUILDINFO")
grep -qx "commit $(git -C "$source" rev-parse HEAD)" <<<"$buildinfo" || fail "BUILDINFO does not name the commit: $buildinfo"
grep -q "^release time $release_time " <<<"$buildinfo" || fail "BUILDINFO does not name the release time $release_time"

7z x -y -aou -o"$work/setup" "$setup" >/dev/null
pe_files=("$setup" "$work/setup/vorn-mediapad-uninstall.exe")
while IFS= read -r name; do pe_files+=("$out/unpacked/$name"); done < <(grep -E '\.(exe|dll)$' <<<"$names")
for file in "${pe_files[@]}"; do
    while read -r where seconds; do
        case $where in
        header | export) [ "$seconds" = "$release_time" ] || fail "$file: the $where time stamp is $seconds, not the commit's $release_time" ;;
        *) [ "$seconds" = 0 ] || [ "$seconds" = "$release_time" ] || fail "$file: the $where time stamp is $seconds" ;;
        esac
    done < <(bash "$tools/pe.sh" times "$file")
    layout=$(bash "$tools/pe.sh" layout "$file")
    if grep -E '^[0-9]+ 40 section header (\.debug|/)' <<<"$layout"; then
        fail "$file has debug sections"
    fi
    [ "$(od -An -tu4 -j $(($(od -An -tu4 -j 60 -N 4 "$file") + 12)) -N 4 "$file" | tr -d ' ')" = 0 ] ||
        fail "$file has a symbol table"
done

# The setup program's own bytes are compressed: its files are looked at unpacked.
while IFS= read -r -d '' file; do
    for path in "$source" "$build"; do
        # Not grep -q: its early exit would fail strings, and so the pipe.
        if { strings -a "$file" && strings -a -el "$file"; } | grep -F "$path" >/dev/null; then
            fail "$file holds the path $path"
        fi
    done
done < <(find "$out/unpacked" "$work/setup" "$setup" -type f -print0)

[ "$failures" -eq 0 ] || exit 1
echo "${#pe_files[@]} PE files and $(wc -l <<<"$names") zip entries carry the commit's time $release_time"
