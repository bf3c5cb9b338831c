#!/usr/bin/env bash
# The probe that decides whether a machine needs i386 emulation: it must
# answer "cannot" for a program that cannot start, whatever the kernel, and
# "can" for the i386 loader wherever this suite runs at all (32-bit Wine
# needs it, natively or emulated).
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# An i386 ELF header and nothing behind it: no loader can start it.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' >"$work/header-only"
chmod +x "$work/header-only"
bash "$tool" probe "$work/header-only" && fail "a header without a program counted as a 32-bit program that starts"
bash "$tool" probe "$work/missing" && fail "a missing program counted as one that starts"

bash "$tool" probe || fail "the i386 loader does not start, yet 32-bit Wine runs this suite"
way=$(bash "$tool" describe)
case "$way" in
    natively | "under qemu-i386 "[0-9]*) echo "32-bit programs run $way" ;;
    *) fail "describe said '$way'" ;;
esac

bash "$tool" no-such-verb 2>/dev/null
[ $? -eq 2 ] || fail "an unknown verb did not exit with status 2"

exit $((failures > 0))
