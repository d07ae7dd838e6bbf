#!/usr/bin/env bash
# Writes a help2man include file with a COMMANDS section: the help of every command, as
# 'tessera-admin NOUN VERB --help' or 'tessera-sandbox COMMAND --help' prints it. The commands are
# those tessera-admin's completion query lists, or the Commands section of tessera-sandbox's help,
# so the manual page follows the program.
#   man-commands.sh PROGRAM OUTPUT
set -euo pipefail
program=$1
output=$2

commands() {
  local noun verb verbs
  if [ "$(basename "$program")" = tessera-sandbox ]; then
    "$program" --help | sed -n '/^Commands:/,/^$/p' | grep -oE '^  [a-z]+' | sed 's/^  //'
    return
  fi
  for noun in $("$program" --complete 0 "" | tail -n +2); do
    verbs=$("$program" --complete 1 "$noun" "" | tail -n +2)
    if [ -z "$verbs" ]; then
      echo "$noun"
    else
      for verb in $verbs; do echo "$noun $verb"; done
    fi
  done
}

# One command's help in roff: the usage line as a subsection, the text as it stands, each
# option as a tagged paragraph.
to_roff() {
  awk '
    function escape(text) {
      gsub(/\\/, "\\e", text)
      gsub(/-/, "\\-", text)
      if (text ~ /^[.\047]/) text = "\\&" text
      return text
    }
    NR == 1 {
      sub(/^Usage: [^ ]+ (\[[^]]*\] )*/, "")
      print ".SS \"" escape($0) "\""
      next
    }
    /^Options:$/ { options = 1; next }
    /^$/ { if (!options) print ".PP"; next }
    options && /^  -/ {
      line = $0
      sub(/^  /, "", line)
      split(line, parts, /  +/)
      print ".TP"
      print "\\fB" escape(parts[1]) "\\fR"
      text = line
      sub(/^[^ ]+( [^ ]+)?  +/, "", text)
      print escape(text)
      next
    }
    options { sub(/^ +/, ""); print escape($0); next }
    { print escape($0) }
  '
}

{
  echo "[COMMANDS]"
  while read -r noun verb; do
    # shellcheck disable=SC2086
    "$program" $noun $verb --help | to_roff
  done < <(commands)
} >"$output"
