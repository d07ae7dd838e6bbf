#!/usr/bin/env bash
# The demonstration's flows over the network: the DEMO instance served over TDS, registered in
# tessera-admin by address and port with a SQL login, and reached through the ODBC driver.
#   odbc_admin_flows.sh TESSERA_ADMIN TESSERA_SANDBOX
# Exit 77 (skipped) when FreeTDS's ODBC driver is not installed.
set -uo pipefail

admin=$1
sandbox=$2

found=""
for library in /usr/lib/*/odbc/libtdsodbc.so /usr/lib/odbc/libtdsodbc.so; do
  [ -f "$library" ] && found=$library
done
if [ -z "$found" ]; then
  echo "SKIP: FreeTDS's ODBC driver is not installed (scripts/setup-deps installs tdsodbc)"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/odbc-flows-XXXXXX")
serve_pid=""
cleanup() {
  if [ -n "$serve_pid" ]; then
    kill "$serve_pid" 2>/dev/null
    wait "$serve_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export TESSERA_SANDBOX_ROOT=$work/sandbox
export TESSERA_REGISTRY=$work/registry.db
export XDG_CONFIG_HOME=$work/config
export XDG_DATA_HOME=$work/data
unset TESSERA_ODBC_DRIVER

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# expect_output DESCRIPTION EXPECTED_SUBSTRING COMMAND...: runs the command, which must succeed
# and print the text.
expect_output() {
  local what=$1 expected=$2
  shift 2
  local out
  out=$("$@" 2>&1)
  local rc=$?
  if [ $rc -ne 0 ]; then
    fail "$what: exit status $rc"
    echo "$out"
  elif [[ $out != *"$expected"* ]]; then
    fail "$what: no \"$expected\" in the output"
    echo "$out"
  fi
}

"$admin" --yes demo >"$work/demo.out" 2>&1 || { cat "$work/demo.out"; echo "FAIL: demo"; exit 1; }
# Quotes, a semicolon, a brace and non-ASCII in the password the connection string carries.
password="Odbc;Pa}ss w'$(printf '\xc3\xb6')rd"
quoted=${password//\'/\'\'}
"$sandbox" sql -S '(sandbox)\DEMO' -Q "EXEC sp_password NULL, N'$quoted', 'sa'" >/dev/null ||
  { echo "FAIL: setting sa's password"; exit 1; }

: >"$work/serve.out"
"$sandbox" serve DEMO --port 0 >"$work/serve.out" 2>&1 &
serve_pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/.* port \([0-9][0-9]*\) .*/\1/p' "$work/serve.out" | head -1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/serve.out"; echo "FAIL: serve did not start"; exit 1; }
server="127.0.0.1,$port"

expect_output "server add" "Registered $server as ServerID 2, connected as sa." \
  "$admin" --yes server add "$server" --login sa --password "$password"
expect_output "server list" $'2\t2\t'"$server"$'\tsa\tyes' "$admin" --tsv server list

# The same collections through the network as through the in-process sandbox driver.
in_process=$("$admin" --tsv collection list 1)
over_network=$("$admin" --tsv collection list 2)
[ "$in_process" = "$over_network" ] || fail "collection lists differ:
$in_process
---
$over_network"
trace=$("$admin" --trace-sql --tsv collection list 2 2>&1)
[[ $trace == *"$server/master]"* ]] || fail "the statements did not go to $server: $trace"

data=$TESSERA_SANDBOX_ROOT/DEMO/drives/C/Data
expect_output "create" "Created the collection Network (ArchiveID 6" \
  "$admin" --yes collection create 2 Network 'C:\Data\Network.mdf'
[ -f "$data/Network.mdf" ] || fail "create made no data file"
expect_output "upgrade" "Upgraded the collection Letters from format 1.50 to 1.61." \
  "$admin" --yes collection upgrade 2 Letters
expect_output "plain text" "Generated the plain text of the collection Letters." \
  "$admin" --yes collection plaintext 2 Letters
expect_output "detach" "Detached the collection Minutes; its files stay on the server." \
  "$admin" --yes collection detach 2 Minutes
[ -f "$data/Minutes.mdf" ] || fail "detach lost the data file"
expect_output "attach" "Attached the collection Minutes" \
  "$admin" --yes collection attach 2 Minutes 'C:\Data\Minutes.mdf'
expect_output "delete" "Deleted the collection Network." \
  "$admin" --yes collection delete 2 Network
[ ! -f "$data/Network.mdf" ] || fail "delete left the data file"

expected=$'Name\tArchiveID\tDatabase\tVersion\tPlain text
Archive\t1\tQuillarchive_Archive\t1.61\tTrue
Contracts\t2\tQuillarchive_Contracts\t1.55\tTrue
Letters\t3\tQuillarchive_Letters\t1.61\tTrue
Minutes\t4\tQuillarchive_Minutes\t1.41\t
Projects\t5\tQuillarchive_Projects\t1.61\tTrue'
final=$("$admin" --tsv collection list 2)
[ "$final" = "$expected" ] || fail "collections at the end:
$final"

# A wrong password is refused with the server's login error.
out=$("$admin" --yes server add "$server" --login sa --password wrong 2>&1)
[ $? -ne 0 ] || fail "a wrong password was accepted"
[[ $out == *"Login failed for user 'sa'"* ]] || fail "wrong password: $out"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "The demonstration's flows work over ODBC on $server."
