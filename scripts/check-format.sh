#!/usr/bin/env bash
# Checks that every tracked C and C++ file is laid out as .clang-format says; lists the files
# that are not and fails. scripts/check-format.sh --fix rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
mapfile -t files < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
off=()
for file in "${files[@]}"; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || off+=("$file")
done
if ((${#off[@]})); then
  printf 'not formatted: %s\n' "${off[@]}" >&2
  echo "run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "${#files[@]} files formatted"
