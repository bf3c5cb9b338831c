#!/usr/bin/env bash
# Whether this Linux machine runs 32-bit (i386) programs, and user-mode
# emulation where its kernel does not (32-bit emulation switched off):
# 32-bit Wine, and so every 32-bit Windows program of ours, needs one or
# the other.
#   i386-support.sh ensure          (as root) make sure i386 programs run;
#                                   prints the one line of `describe`
#   i386-support.sh describe        "natively", "under qemu-i386 <version>"
#                                   or "not at all"
#   i386-support.sh probe [PROGRAM] exit 0 when PROGRAM (default: the i386
#                                   dynamic loader) starts with --version
set -euo pipefail

loader=/lib/ld-linux.so.2
binfmt=/proc/sys/fs/binfmt_misc
rule_name=qemu-i386
# An i386 ELF executable or shared object (e_machine 3), as the rule in
# the kernel's binfmt_misc documentation has it.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

probe() {
    "${1:-$loader}" --version >/dev/null 2>&1
}

qemu_program() {
    command -v qemu-i386-static || command -v qemu-i386 || true
}

# binfmt_misc is asked before the kernel's own ELF loader, so where the
# rule is registered and enabled, every i386 program runs under qemu.
rule_enabled() {
    [ -r "$binfmt/$rule_name" ] && head -n 1 "$binfmt/$rule_name" | grep -qx enabled
}

describe() {
    if ! probe; then
        echo "not at all"
    elif rule_enabled; then
        local interpreter version
        interpreter=$(sed -n 's/^interpreter //p' "$binfmt/$rule_name")
        version=$("$interpreter" --version 2>/dev/null | sed -n '1s/.*version \([0-9][0-9.]*\).*/\1/p')
        echo "under qemu-i386 ${version:-(version unknown)}"
    else
        echo "natively"
    fi
}

# The mirror that this machine's apt takes bookworm from (a deb822 stanza or
# a one-line source), so that backports come from the same place.
bookworm_mirror() {
    local files=(/etc/apt/sources.list.d/*.sources)
    awk '/^URIs:/ { uri = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm" && uri) { print uri; exit } }
         /^$/ { uri = "" }' "${files[@]}" 2>/dev/null | head -n 1 | grep . && return
    awk '$1 == "deb" && $0 ~ / bookworm / { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -n 1
}

install_qemu() {
    if ! grep -qs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
        local mirror
        mirror=$(bookworm_mirror)
        if [ -z "$mirror" ]; then
            echo "i386 emulation: no bookworm source in apt's lists to take backports from" >&2
            exit 1
        fi
        printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$mirror" >/etc/apt/sources.list.d/bookworm-backports.sources
        apt-get update -qq >/dev/null 2>&1 || true
    fi
    # Bookworm's own qemu 7.2 spends most of a minute in Wine's address-space
    # reservation at every start; 10 does not.
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user >/dev/null
}

register_rule() {
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    [ -e "$binfmt/$rule_name" ] && { echo 1 >"$binfmt/$rule_name"; return; }
    local interpreter
    interpreter=$(qemu_program)
    # F: the interpreter is opened now, so it is found inside any root or
    # namespace that Wine's processes see later.
    printf ':%s:M::%s:%s:%s:F' "$rule_name" "$magic" "$mask" "$interpreter" >"$binfmt/register"
}

ensure() {
    if ! probe; then
        echo "this machine does not run 32-bit programs; setting up user-mode emulation with qemu"
        local version
        version=$("$(qemu_program)" --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\)\..*/\1/p' || true)
        [ "${version:-0}" -ge 10 ] 2>/dev/null || install_qemu
        register_rule
        if ! probe; then
            echo "i386 emulation: $loader still does not start under $(qemu_program);" \
                 "32-bit Wine cannot run here (see the README on machines without 32-bit support)" >&2
            exit 1
        fi
    fi
    echo "32-bit programs run $(describe)"
}

case "${1:-}" in
    probe) probe "${2:-}" ;;
    describe) describe ;;
    ensure) ensure ;;
    *) echo "usage: $0 ensure | describe | probe [PROGRAM]" >&2; exit 2 ;;
esac
