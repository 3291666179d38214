#!/usr/bin/env bash
# Lays out the C++ sources as .clang-format says.
#   scripts/format.sh          rewrites the files that differ
#   scripts/format.sh --check  lists them and fails instead (CI)
set -euo pipefail
cd "$(dirname "$0")/.."
format=clang-format-14
command -v "$format" >/dev/null || { echo "format.sh: $format is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  bad=()
  for f in "${files[@]}"; do
    "$format" --style=file "$f" | cmp -s - "$f" || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    printf 'format.sh: not laid out as .clang-format says (run scripts/format.sh):\n' >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
  fi
  echo "format.sh: ${#files[@]} files laid out as .clang-format says"
else
  "$format" --style=file -i "${files[@]}"
fi
