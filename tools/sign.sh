#!/usr/bin/env bash
# Signs PE files in place with Authenticode (osslsigncode, SHA-256), with the
# code-signing certificate that the environment names:
#   VORN_SIGN_CERT           the certificate, PEM or DER (with its chain), or a
#                            PKCS#12 file (.pfx, .p12) that holds key and chain too
#   VORN_SIGN_KEY            its private key, PEM or DER (not with a PKCS#12 file)
#   VORN_SIGN_PASS           the password of the key or the PKCS#12 file, if any;
#                            taken into a private file and unset before any
#                            child starts
#   VORN_SIGN_PASS_FILE      or a file that holds it (tools/pack-release.sh and
#                            tools/make-setup.sh pass it so to their children)
#   VORN_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, if any: a signature
#                            with a time stamp stays valid after the certificate expires
# usage: tools/sign.sh <file>...
set -euo pipefail
: "${VORN_SIGN_CERT:?names no certificate}"
args=(-h sha256 -n "Vorn MediaPad display chain")
case ${VORN_SIGN_CERT,,} in
*.pfx | *.p12) args+=(-pkcs12 "$VORN_SIGN_CERT") ;;
*) args+=(-certs "$VORN_SIGN_CERT" -key "${VORN_SIGN_KEY:?names no key for $VORN_SIGN_CERT}") ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "${VORN_SIGN_PASS:-}" ]; then
    # From a file, so that the password is neither on a command line nor in
    # the environment of osslsigncode.
    (umask 077 && printf '%s' "$VORN_SIGN_PASS" >"$work/pass")
    unset VORN_SIGN_PASS
    args+=(-readpass "$work/pass")
elif [ -n "${VORN_SIGN_PASS_FILE:-}" ]; then
    args+=(-readpass "$VORN_SIGN_PASS_FILE")
fi
[ -z "${VORN_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$VORN_SIGN_TIMESTAMP_URL")
for file in "$@"; do
    if ! osslsigncode sign "${args[@]}" -in "$file" -out "$work/signed" >"$work/log" 2>&1; then
        cat "$work/log" >&2
        echo "signing $file failed" >&2
        exit 1
    fi
    # Keeps the file's mode.
    cat "$work/signed" >"$file"
    rm -f "$work/signed"
done
