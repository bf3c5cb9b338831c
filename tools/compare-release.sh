#!/usr/bin/env bash
# Compares a release (its zip or its setup program) with its rebuild, as
# tools/verify-release.sh makes it:
#   tools/compare-release.sh <release> <rebuilt file> <commit> <empty or new work folder>
# Signed files are compared with their signatures taken out (osslsigncode
# remove-signature), so a signed release equals its unsigned rebuild but for
# the signatures. BUILDINFO names the versions of the tools that packed the
# release: where only those differ, they are a note, not a difference; the
# result says "NOT" only when bytes that the commit builds differ. A file
# that differs is named with its first differing offset and the structures
# its differing bytes fall in (tools/pe.sh), or, for text, its first
# differing lines. A signed setup program whose bytes differ is compared by
# the files in it (7z) and by its bytes up to its packed data; it is
# accepted only when 7z gives the same set of files from both, the
# installer script ([NSIS].nsi) among them, since the script is packed data
# that no signature vouches for. Exit status: 0 the same (but for
# signatures and tool versions), 1 it differs, 2 it could not be checked.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C TZ=UTC
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
release=$(absolute "$1") rebuilt=$(absolute "$2") commit=$3 work=$4
mkdir -p "$work"
work=$(absolute "$work")
give_up() { echo "$*" >&2; exit 2; }
case $(head -c 2 "$release") in
PK) kind=zip ;;
MZ) kind=setup ;;
*) give_up "$release is neither a zip nor a setup program" ;;
esac

is_pe() { [ "$(head -c 2 "$1")" = MZ ]; }
is_signed() { bash "$here/pe.sh" layout "$1" | grep ' certificate table ' >/dev/null; }

# Says where <file> differs from <rebuilt file>.
describe() {
    local file=$1 rebuilt=$2 size rebuilt_size first count
    size=$(stat -c %s "$file") rebuilt_size=$(stat -c %s "$rebuilt")
    first=$({ cmp "$file" "$rebuilt" 2>/dev/null || true; } | sed -n 's/.* differ: [a-z]* \([0-9]*\),.*/\1/p')
    if [ -z "$first" ]; then  # one is the start of the other
        first=$((size < rebuilt_size ? size + 1 : rebuilt_size + 1))
    fi
    first=$((first - 1))
    count=$({ cmp -l "$file" "$rebuilt" 2>/dev/null || true; } | wc -l)
    echo "      $size bytes, rebuilt $rebuilt_size; $count of the bytes both have differ, the first at offset $first ($(printf '0x%x' "$first"))"
    if is_pe "$file" && bash "$here/pe.sh" times "$file" >/dev/null 2>&1; then
        echo "      in: $(echo "$first" | bash "$here/pe.sh" where "$file")"
        echo "      the differing bytes lie in:"
        # (Filters that read to the end: an early exit would fail the pipe.)
        { cmp -l "$file" "$rebuilt" 2>/dev/null || true; } | awk 'NR <= 20000 { print $1 - 1 }' |
            bash "$here/pe.sh" where "$file" | sort | uniq -c | sort -rn | sed -n '1,12s/^/        /p'
    elif grep -Iq . "$file"; then
        echo "      first differing lines (< release, > rebuild):"
        { diff <(tr -d '\r' <"$file") <(tr -d '\r' <"$rebuilt") || true; } | sed -n '1,10s/^/        /p'
    fi
}

# BUILDINFO's lines of tool versions, and its other lines.
tool_lines() { tr -d '\r' <"$1" | sed -n '/^built with:$/,/^Check it against/{/^  /p}'; }
other_lines() { tr -d '\r' <"$1" | sed '/^built with:$/,/^Check it against/{/^  /d}'; }

differ=0 signed=0 tools_differ=0
# Compares <file> of the release, named <name>, with <rebuilt file>.
compare() {
    local file=$1 name=$2 rebuilt=$3 mark=""
    if [ ! -f "$rebuilt" ]; then
        echo "ONLY IN THE RELEASE: $name"
        differ=$((differ + 1))
        return
    fi
    if [ "$name" = BUILDINFO ] && ! cmp -s "$file" "$rebuilt" && [ "$(other_lines "$file")" = "$(other_lines "$rebuilt")" ]; then
        echo "same:    $name, but for the tool versions it names (a note, not a difference):"
        { diff <(tool_lines "$file") <(tool_lines "$rebuilt") || true; } |
            sed -n '/^[<>]/{s/^</  release:/;s/^>/  rebuild:/;s/^/        /;p}'
        tools_differ=1
        return
    fi
    if is_pe "$file" && is_signed "$file"; then
        # Who signed, as the signature says; whether Windows trusts the
        # certificate is for Windows to say.
        [ -n "${signer:-}" ] ||
            signer=$(osslsigncode verify -in "$file" 2>&1 | sed -n 's/^[[:space:]]*Subject: //p' | sed -n 1p || true)
        osslsigncode remove-signature -in "$file" -out "$work/unsigned" >/dev/null 2>&1 ||
            give_up "cannot take the signature out of $name"
        file=$work/unsigned mark=" (signature taken out)"
        signed=$((signed + 1))
    fi
    if cmp -s "$file" "$rebuilt"; then
        echo "same:    $name$mark"
    else
        echo "DIFFERS: $name$mark"
        describe "$file" "$rebuilt"
        differ=$((differ + 1))
    fi
    rm -f "$work/unsigned"
}

# Compares two folders of unpacked files, in the order of <list of names>.
compare_folders() {
    local folder=$1 rebuilt_folder=$2 names=$3 name
    while IFS= read -r name; do
        [ -f "$folder/$name" ] || continue
        compare "$folder/$name" "$name" "$rebuilt_folder/$name"
    done <<<"$names"
    while IFS= read -r name; do
        [ -e "$folder/$name" ] || { echo "ONLY IN THE REBUILD: $name"; differ=$((differ + 1)); }
    done < <(cd "$rebuilt_folder" && find . -type f | sed 's|^\./||' | sort)
}

if cmp -s "$release" "$rebuilt"; then
    echo "same:    $(basename "$release"), byte for byte (sha256 $(sha256sum <"$release" | cut -c1-64))"
    echo "result:  the release is what commit $commit builds"
    exit 0
fi

if [ "$kind" = zip ]; then
    echo "the zip's bytes differ from the rebuild's: comparing its entries and files"
    entries() { unzip -Z -T "$1" | awk '/^[-d]/ { print $1, $7, $8 }'; }
    if [ "$(entries "$release")" != "$(entries "$rebuilt")" ]; then
        echo "DIFFERS: the zip's entries (mode, time, name, in order; < release, > rebuild):"
        { diff <(entries "$release") <(entries "$rebuilt") || true; } | sed -n '1,20s/^/        /p'
        differ=$((differ + 1))
    else
        echo "same:    the zip's entries (mode, time, name, in order)"
    fi
    mkdir "$work/release" "$work/rebuilt"
    (cd "$work/release" && unzip -q "$release")
    (cd "$work/rebuilt" && unzip -q "$rebuilt")
    compare_folders "$work/release" "$work/rebuilt" "$(unzip -Z1 "$release")"
else
    copy=$work/setup.exe
    cp "$release" "$copy"
    if is_signed "$copy"; then
        osslsigncode remove-signature -in "$release" -out "$copy.unsigned" >/dev/null 2>&1 ||
            give_up "cannot take the signature out of $release"
        mv -f "$copy.unsigned" "$copy"
        if cmp -s "$copy" "$rebuilt"; then
            echo "same:    $(basename "$release") (signature taken out)"
            echo "result:  the release is what commit $commit builds, and signed"
            exit 0
        fi
        echo "DIFFERS: $(basename "$release") (signature taken out)"
    else
        echo "DIFFERS: $(basename "$release")"
    fi
    describe "$copy" "$rebuilt"
    # NSIS packs its data after the stub, at a 512-byte boundary marked
    # 0xDEADBEEF "NullsoftInst". The stubs are compared without their PE
    # checksums, which cover the packed data too.
    stub=$({ grep -m 1 -obUaP '\xef\xbe\xad\xdeNullsoftInst' "$copy" || true; } | cut -d: -f1)
    stub=$((${stub:-4} - 4))
    for file in "$copy" "$rebuilt"; do
        head -c "$stub" "$file" >"$file.stub"
        checksum_at=$(($(od -An -tu4 -j 60 -N 4 "$file") + 88))
        [ "$checksum_at" -ge "$stub" ] || printf '\0\0\0\0' | dd of="$file.stub" bs=1 seek="$checksum_at" conv=notrunc status=none
    done
    if [ "$stub" -gt 0 ] && cmp -s "$copy.stub" "$rebuilt.stub"; then
        echo "same:    its first $stub bytes, the stub before its packed data (but for the PE checksum)"
    else
        echo "DIFFERS: its stub, before its packed data"
        differ=$((differ + 1))
    fi
    echo "comparing the files packed in it (7z)"
    7z x -y -aou -o"$work/release" "$release" >/dev/null || give_up "7z cannot unpack $release"
    7z x -y -aou -o"$work/rebuilt" "$rebuilt" >/dev/null || give_up "7z cannot unpack the rebuilt setup program"
    compare_folders "$work/release" "$work/rebuilt" "$(cd "$work/release" && find . -type f | sed 's|^\./||' | sort)"
    # The files alone do not vouch for the packed data: the installer script
    # is packed there too, and must have come out of both.
    script='[NSIS].nsi'
    if [ ! -f "$work/rebuilt/$script" ]; then
        [ "$differ" -ne 0 ] || [ "$signed" -eq 0 ] ||
            give_up "7z gave no installer script ($script) from the rebuilt setup program: the packed data of the" \
                "signed one cannot be checked file by file with this 7z; check the zip, or use a 7z that unpacks the script"
    elif [ ! -f "$work/release/$script" ]; then
        echo "DIFFERS: no installer script ($script) came out of the release's packed data"
        differ=$((differ + 1))
    fi
    [ "$differ" -ne 0 ] || [ "$signed" -eq 0 ] ||
        echo "its packed data differs because the files in it are signed: their signatures are packed with them"
fi

[ -z "${signer:-}" ] || echo "signed:  $signed files, by $signer"
if [ "$differ" -eq 0 ] && [ "$signed" -eq 0 ] && [ "$tools_differ" -eq 0 ]; then
    # Every file is the same and none is signed, yet the bytes differ.
    echo "DIFFERS: the files are the same, but not how $(basename "$release") packs them (its headers, order, times or compression)"
    differ=1
fi
if [ "$differ" -eq 0 ]; then
    but=()
    [ "$signed" -eq 0 ] || but+=("its signatures")
    [ "$tools_differ" -eq 0 ] || but+=("the tool versions BUILDINFO names")
    echo "result:  the release is what commit $commit builds, but for $(IFS=/; echo "${but[*]}" | sed 's|/| and |')"
    exit 0
fi
echo "result:  $differ difference(s): the release is NOT what commit $commit builds"
exit 1
