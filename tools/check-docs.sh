#!/usr/bin/env bash
# Checks that README.md and docs/*.md name only what exists in the tree:
#   - every constant name (an identifier kSomething) occurs in a source file
#     of the tree (C++, assembler, CMake, shell or NSIS; the docs themselves
#     do not count);
#   - every path of the tree they write: a word that begins with one of the
#     tree's top-level folders (common/..., tools/ci.sh, in prose or in a
#     command), a name in backquotes that holds a slash, or ends like a source
#     file (.cpp, .h, .sh, ...), and the target of every Markdown link
#     (taken relative to the page that links). A path with a * must match at
#     least one file.
# Not checked, since they are not files of the tree: Windows paths (with a
# backslash), names with a <placeholder>, addresses (with ://), and what the
# build and the release make (build/..., dist/..., ../shared/..., and the
# release's own folders LCDSmartie-32bit/..., displays/..., logs/...).
#
# Before it checks the docs it checks itself: a page naming a constant and
# a path that do not exist must give two faults, and one naming only real
# ones none. So this check cannot pass by finding nothing.
#
# Usage: tools/check-docs.sh [tree]   (default: the tree this script is in)
# Exit status 0 when every name exists, 1 otherwise (each missing name is
# printed as "<page>: <what> <name> does not exist").
set -uo pipefail
root=$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/..}" && pwd)

# Top-level folders of the tree, as an alternation for the path pattern.
top_folders() {
    (cd "$root" && find . -mindepth 1 -maxdepth 1 -type d ! -name build ! -name 'build-*' ! -name dist ! -name .git \
        -printf '%f\n' | sort | sed 's/\./\\./g' | paste -sd'|')
}

constant_exists() {
    grep -rqw --exclude-dir=.git --exclude-dir=build --exclude-dir='build-*' --exclude-dir=dist --exclude-dir=docs \
        --include='*.h' --include='*.cpp' --include='*.S' --include='*.cmake' --include='CMakeLists.txt' \
        --include='*.sh' --include='*.nsi' --exclude=check-docs.sh -- "$1" "$root"
}

path_exists() { # $1: a path from the tree's root
    local p=${1%/}
    if [[ $p == *'*'* ]]; then
        compgen -G "$root/$p" >/dev/null
    else
        [ -e "$root/$p" ]
    fi
}

skipped_path() { # what is not a file of the tree
    case "$1" in
        *'\'* | *'<'* | *'>'* | *'://'* | build/* | build | dist/* | dist | ../* | /*) return 0 ;;
        LCDSmartie-*/* | displays/* | logs/*) return 0 ;; # the release's layout, not the tree's
    esac
    return 1
}

# Prints one line per missing name of page $1; returns the number of faults.
check_page() {
    local page=$1 rel=${1#"$root"/} faults=0 name tops
    tops=$(top_folders)
    # Constants.
    while read -r name; do
        [ -n "$name" ] || continue
        if ! constant_exists "$name"; then
            echo "$rel: constant $name does not exist"
            faults=$((faults + 1))
        fi
    done < <(grep -oE '\bk[A-Z][A-Za-z0-9_]+\b' "$page" | sort -u)
    # Paths: words that begin with a top-level folder, and names in backquotes.
    while read -r name; do
        [ -n "$name" ] || continue
        name=${name%%:[0-9]*}
        skipped_path "$name" && continue
        if ! path_exists "$name"; then
            echo "$rel: path $name does not exist"
            faults=$((faults + 1))
        fi
    done < <({
        grep -oE "(^|[[:space:](\`\"'])(${tops})/[A-Za-z0-9_.*/-]*" "$page" | sed -E "s/^[[:space:](\`\"']//"
        grep -oE '`[^` ]+`' "$page" | tr -d '`' |
            grep -E '/|\.(cpp|h|S|sh|cmake|nsi|in|def|rc|md|json)$' | grep -vE '^-|^\.?/?$'
    } | sed -E 's/[.,;:)]+$//' | sort -u)
    # Markdown links, relative to the page.
    while read -r name; do
        [ -n "$name" ] || continue
        case "$name" in *://* | mailto:*) continue ;; esac
        if [ ! -e "$(dirname "$page")/$name" ]; then
            echo "$rel: link $name does not exist"
            faults=$((faults + 1))
        fi
    done < <(grep -oE '\]\([^) ]+\)' "$page" | sed -E 's/^\]\(//; s/\)$//; s/#.*//' | sort -u)
    return $((faults > 255 ? 255 : faults))
}

# The self-check: one made-up constant and one made-up path give two faults,
# real ones none.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'The budget `kNoSuchBudgetAnywhereMs` in `common/no_such_file.h`.\n' >"$work/bad.md"
printf 'The channel in `common/channel.h`, see tools/ci.sh and [this](bad.md).\n' >"$work/good.md"
check_page "$work/bad.md" >"$work/bad.out"
bad=$?
check_page "$work/good.md" >"$work/good.out"
good=$?
if [ "$bad" -ne 2 ] || [ "$good" -ne 0 ]; then
    echo "check-docs.sh does not tell missing names from real ones:"
    cat "$work/bad.out" "$work/good.out"
    exit 1
fi

pages=("$root/README.md")
for page in "$root"/docs/*.md; do
    [ -e "$page" ] && pages+=("$page")
done
total=0
for page in "${pages[@]}"; do
    check_page "$page"
    total=$((total + $?))
done
if [ "$total" -gt 0 ]; then
    echo "docs: $total names that do not exist in the tree"
    exit 1
fi
echo "docs: every constant and path named in ${#pages[@]} pages exists in the tree"
