#!/usr/bin/env bash
# Fails when a source file includes a folder its layer may not use: dependencies point downwards
# only, the client interface's core knows no driver, product code never includes a test fake,
# and only the console window includes Qt.
#   check_includes.sh SRC_DIR         check a source tree
#   check_includes.sh --self-test     prove that each kind of forbidden edge is caught
set -uo pipefail

# The folders each one may include, itself always allowed.
declare -A allowed=(
  [common]=""
  [platform]="common"
  [sandbox]="common"
  [db]="common"
  [db/drivers/sandbox]="common db sandbox"
  [db/drivers/odbc]="common db platform"
  [format]="common db platform"
  [servers]="common db platform"
  [collections]="common db platform servers format"
  [security]="common db platform servers format collections"
  [dialogs]="common db platform servers format collections security"
  [console]="common db platform servers format collections security dialogs"
  [gui]="common db platform servers format collections security dialogs console"
)

# The layer of a file: its folder below src/, or a driver folder of db/.
layer_of() {
  case "$1" in
    db/drivers/*) echo "$1" | cut -d/ -f1-3 ;;
    *) echo "${1%%/*}" ;;
  esac
}

check() {
  local src=$1 bad=0 file rel layer line target top
  while IFS= read -r file; do
    rel=${file#"$src"/}
    layer=$(layer_of "$rel")
    while IFS= read -r line; do
      if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]+) ]]; then
        if [ "$layer" != gui ]; then
          echo "$rel: includes Qt (${BASH_REMATCH[1]}); only gui/ may"
          bad=1
        fi
        continue
      fi
      [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
      target=${BASH_REMATCH[1]}
      top=${target%%/*}
      [ "$top" = "$target" ] && continue  # a file beside it
      if [[ $target == */testing/* && $rel != */testing/* ]]; then
        echo "$rel: includes the test fake $target"
        bad=1
        continue
      fi
      [ "$layer" = app ] && continue
      if [[ $target == db/drivers/* ]]; then
        if [[ $layer != db/drivers/* && $layer != app ]]; then
          echo "$rel: includes the driver $target; programs register drivers, layers do not"
          bad=1
        fi
        continue
      fi
      local base=${layer%%/*}
      [ "$top" = "$base" ] && continue
      [ "$top" = db ] && [[ $layer == db/drivers/* ]] && continue
      if [[ -z ${allowed[$layer]+set} ]]; then
        echo "$rel: folder $layer has no place among the layers"
        bad=1
        continue
      fi
      if [[ " ${allowed[$layer]} " != *" $top "* ]]; then
        echo "$rel: $layer/ may not include $target"
        bad=1
      fi
    done < "$file"
  done < <(find "$src" -type f \( -name '*.cc' -o -name '*.h' \) | sort)
  return $bad
}

self_test() {
  local dir failed=0
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' RETURN
  # name | file | content | expected: ok or bad
  while IFS='|' read -r name file content expected; do
    rm -rf "$dir/src"
    mkdir -p "$dir/src/$(dirname "$file")"
    printf '%s\n' "$content" > "$dir/src/$file"
    if check "$dir/src" >/dev/null; then got=ok; else got=bad; fi
    if [ "$got" != "$expected" ]; then
      echo "self-test '$name': expected $expected, got $got"
      failed=1
    fi
  done <<'CASES'
downward edge|collections/a.cc|#include "servers/server.h"|ok
upward edge|servers/a.cc|#include "collections/database.h"|bad
console reaching the engine|console/a.cc|#include "sandbox/server.h"|bad
db core linking a driver|db/a.cc|#include "db/drivers/sandbox/sandbox_driver.h"|bad
driver using the engine|db/drivers/sandbox/a.cc|#include "sandbox/server.h"|ok
product code using a fake|servers/a.cc|#include "platform/testing/fake_platform.h"|bad
fake beside fake|platform/testing/a.cc|#include "platform/testing/fake_platform.h"|ok
Qt outside the window|console/a.cc|#include <QWidget>|bad
Qt in the window|gui/a.cc|#include <QWidget>|ok
program using anything|app/a.cc|#include "sandbox/server.h"|ok
engine using the domain|sandbox/a.cc|#include "collections/database.h"|bad
unknown folder|misc/a.cc|#include "common/text.h"|bad
CASES
  return $failed
}

if [ "${1:-}" = --self-test ]; then
  self_test
elif [ $# -eq 1 ] && [ -d "$1" ]; then
  check "$1"
else
  echo "usage: $0 SRC_DIR | --self-test" >&2
  exit 2
fi
