#!/usr/bin/env bash
# Prints the one time of a release, in seconds since 1970 (UTC), that every
# time stamp in it carries: SOURCE_DATE_EPOCH where it is set, else the time
# of the commit checked out here. Fails outside a git checkout without it.
set -euo pipefail
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || { echo "SOURCE_DATE_EPOCH is not a number of seconds: $SOURCE_DATE_EPOCH" >&2; exit 1; }
    echo "$SOURCE_DATE_EPOCH"
else
    git -C "$(dirname "${BASH_SOURCE[0]}")" log -1 --format=%ct HEAD
fi
