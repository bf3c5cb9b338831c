#!/usr/bin/env bash
# Fails when a C++ file of the tree is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
files=$(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror $files; then
    echo "formatting differs from .clang-format: run clang-format -i on the files above"
    exit 1
fi
echo "formatting: $(echo "$files" | wc -l) files as .clang-format says"
