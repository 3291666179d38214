#!/usr/bin/env bash
# The bash completion of ombrik-cli, with and without the bash-completion library loaded:
# every option of the program's --help has a line in the completion, and what a Tab offers.
#   completion_test.sh COMPLETION_FILE OMBRIK_CLI
set -uo pipefail
completion=$(realpath "$1")
program=$(realpath "$2")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/专辑 一" "$work/music"
touch "$work/notes.txt"
# A program whose --help knows only some options: the rest are not offered.
printf '#!/bin/sh\necho "  --json  one object per line"; echo "  -o, --output DIR"\n' >"$work/old-cli"
chmod +x "$work/old-cli"
cd "$work"

passed=0 failed=0

# Each case: the command line typed so far (Tab at its end), then the expected offers, sorted.
cases=(
  "ombrik-cli |get list"
  "ombrik-cli g|get"
  "ombrik-cli get --existing |keep number replace"
  "ombrik-cli get --existing=n|number"
  "ombrik-cli get -o |music 专辑 一"
  "ombrik-cli get --output=m|music"
  "ombrik-cli -o 专辑 |get list"
  "ombrik-cli get --retries |"
  "ombrik-cli get 3921767 |"
  "ombrik-cli list --js|--json"
  "ombrik-cli list --ou|"
  "ombrik-cli --v|--version"
  "old-cli get -|--json --output -o"
)

run_cases() {  # $1: with or without the bash-completion library
  local mode=$1 entry line expected got
  for entry in "${cases[@]}"; do
    line=${entry%%|*} expected=${entry#*|}
    got=$(bash --norc --noprofile -c '
      mode=$1 completion=$2 line=$3
      [ "$mode" = library ] && source /usr/share/bash-completion/bash_completion
      source "$completion"
      [ "$(complete -p ombrik-cli)" = "complete -F _ombrik_cli ombrik-cli" ] || echo "not registered"
      # Split as bash does for completion: at blanks and around "=".
      read -ra COMP_WORDS <<<"${line//=/ = }"
      [[ $line == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
      _ombrik_cli "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      printf "%s\n" "${COMPREPLY[@]}" | sed "s,/$,," | sort | paste -sd" "
    ' _ "$mode" "$completion" "$line" 2>&1)
    if [ "$got" = "$expected" ]; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "FAIL ($mode) '$line': offered '$got', expected '$expected'"
    fi
  done
}

PATH="$(dirname "$program"):$work:$PATH"
run_cases library
run_cases plain

# Every option the program documents can be completed.
options=$("$program" --help | grep -E '^  -' | sed -E 's/^  //; s/  .*//' | grep -oE -- '--?[a-z][a-z-]*')
for option in $options; do
  if grep -qE -- "(^|[|])$option([| ]|$)" "$completion"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $option of --help has no line in $completion"
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
