#!/usr/bin/env bash
# Fresh Debian machine, as root: install what is missing, build both
# architectures, run the whole suite under Wine.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
bash "$here/install-deps.sh"
bash "$here/test.sh" "$@"
