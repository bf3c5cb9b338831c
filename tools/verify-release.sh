#!/usr/bin/env bash
# Checks a release against its source: builds the commit that the release
# names again, from a clean clone in a temporary folder, with that commit's
# tools/package.sh and the release's time, and compares file by file.
#   tools/verify-release.sh <release zip or setup program> [<repository>]
# The zip names its commit in BUILDINFO, the setup program in its version
# resource (SourceCommit). The repository to clone is the one this script
# is in, unless named; it must hold the commit.
# The comparison is tools/compare-release.sh's (it says how). Exit status:
# 0 the same (but for signatures, and the tool versions BUILDINFO names),
# 1 it differs, 2 the release or its rebuild could not be read, made or
# checked. As root on Debian, as tools/package.sh; VORN_VERIFY_KEEP=1 keeps
# the temporary folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C TZ=UTC
release=${1:?usage: verify-release.sh <release zip or setup program> [<repository>]}
repository=${2:-$(cd "$here/.." && pwd)}
[ -f "$release" ] || { echo "no such file: $release" >&2; exit 2; }
release=$(cd "$(dirname "$release")" && pwd)/$(basename "$release")
work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-verify.XXXXXX")
if [ "${VORN_VERIFY_KEEP:-}" = 1 ]; then
    echo "temporary folder (kept): $work"
else
    trap 'rm -rf "$work"' EXIT
fi
give_up() { echo "$*" >&2; exit 2; }

case $(head -c 2 "$release") in
PK) kind=zip ;;
MZ) kind=setup ;;
*) give_up "$release is neither a zip nor a setup program" ;;
esac
if [ "$kind" = zip ]; then
    unzip -p "$release" BUILDINFO 2>/dev/null | tr -d '\r' >"$work/BUILDINFO" ||
        give_up "$release holds no BUILDINFO: it names no commit"
    commit=$(sed -n 's/^commit //p' "$work/BUILDINFO")
    release_time=$(sed -n 's/^release time \([0-9]*\).*/\1/p' "$work/BUILDINFO")
    if grep -q '^source .*uncommitted' "$work/BUILDINFO"; then
        echo "warning: BUILDINFO says the release was built with uncommitted changes: expect differences"
    fi
else
    # The value follows its key among the version resource's UTF-16 strings.
    commit=$(strings -a -el "$release" | grep -A1 -x SourceCommit | sed -n 2p)
    release_time=$(bash "$here/pe.sh" times "$release" | sed -n 's/^header //p')
fi
[[ $commit =~ ^[0-9a-f]{40}$ ]] || give_up "$release names no commit (found: '${commit}')"
[[ $release_time =~ ^[0-9]+$ ]] || give_up "$release names no release time"
echo "release:      $release ($kind)"
echo "commit:       $commit"
echo "release time: $release_time ($(date -u -d "@$release_time" '+%Y-%m-%d %H:%M:%S UTC'))"
if [ -f "$release.sha256" ]; then
    if (cd "$(dirname "$release")" && sha256sum --quiet -c "$(basename "$release").sha256" >/dev/null 2>&1); then
        echo "checksum:     $(basename "$release").sha256 matches"
    else
        echo "checksum:     $(basename "$release").sha256 DOES NOT MATCH"
    fi
fi

echo "cloning $repository at ${commit:0:12} into $work/source"
git clone -q --no-checkout "$repository" "$work/source" || give_up "cannot clone $repository"
git -C "$work/source" -c advice.detachedHead=false checkout -q "$commit" 2>/dev/null ||
    give_up "commit $commit is not in $repository: fetch it first, or name a repository that has it"
echo "rebuilding with tools/package.sh (log: $work/rebuild.log)"
if ! (unset VORN_SIGN_CERT VORN_SIGN_KEY VORN_SIGN_PASS VORN_SIGN_PASS_FILE VORN_SIGN_TIMESTAMP_URL
      SOURCE_DATE_EPOCH=$release_time bash "$work/source/tools/package.sh") >"$work/rebuild.log" 2>&1; then
    tail -n 20 "$work/rebuild.log" >&2
    give_up "the rebuild failed"
fi
rebuilt=$work/source/dist/$(basename "$release")
if [ ! -f "$rebuilt" ]; then  # a release renamed after its download
    rebuilt=$(ls "$work/source/dist"/*"$([ "$kind" = zip ] && echo .zip || echo -setup.exe)")
fi

status=0
bash "$here/compare-release.sh" "$release" "$rebuilt" "$commit" "$work/compare" || status=$?
exit "$status"
