#!/usr/bin/env bash
# Fails when the sandbox engine words a server message where it raises it instead of taking it
# from its message table: a SqlError, ParseError or numbered Info given a number and its own text.
#   check_messages.sh SANDBOX_DIR     check the engine's sources
#   check_messages.sh --self-test     prove that each kind of inline message is caught
set -uo pipefail

# Prints file:line of each inline message under $1; a number directly after the opening
# parenthesis, on the same line or the next, is one.
inline_messages() {
  find "$1" -name '*.cc' -o -name '*.h' | sort | while read -r file; do
    perl -0777 -ne '
      while (/\b(SqlError|ParseError)\(\s*\d+|\bInfo\(\s*[1-9]\d*\s*,\s*"/g) {
        my $line = 1 + (substr($_, 0, $-[0]) =~ tr/\n//);
        print "$ARGV:$line\n";
      }' "$file"
  done
}

if [[ "${1:-}" == "--self-test" ]]; then
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  failures=0
  while IFS='|' read -r what text expected; do
    printf '%b\n' "$text" >"$dir/a.cc"
    found=$(inline_messages "$dir" | wc -l)
    if [[ "$found" != "$expected" ]]; then
      echo "self-test: $what: $found found, $expected expected"
      failures=$((failures + 1))
    fi
  done <<'CASES'
inline error|throw SqlError(208, 16, "Invalid object name.");|1
inline error on two lines|throw SqlError(\n    208, 16, "x");|1
inline syntax error|throw ParseError(102, "Incorrect syntax.", line);|1
numbered information|Info(5701, "Changed database context.");|1
table error|throw errors::Raise<208>(name);|0
rethrown error|throw SqlError(e.number(), e.severity(), e.message());|0
print text|Info(0, text, 0);|0
CASES
  echo "$((7 - failures)) passed, $failures failed"
  exit $((failures > 0))
fi

found=$(inline_messages "${1:?usage: check_messages.sh SANDBOX_DIR | --self-test}")
if [[ -n "$found" ]]; then
  echo "messages worded where they are raised (add them to src/sandbox/messages.h):"
  echo "$found"
  exit 1
fi
echo "1 passed, 0 failed"
