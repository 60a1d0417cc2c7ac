#!/bin/sh
# Checks the command-line conventions of Beaconry's programs:
#   --help     usage on standard output, nothing on standard error, exit 0
#   --version  "<program> <version>" (the window adds the engine), exit 0
#   an unknown option: the usage on standard error, nothing on standard output, exit 2
# Usage: cli-options.sh VERSION PROGRAM-PATH...
# Each run is made in a network namespace of its own with no interface up,
# so that a program that wrongly went on to start its engine could not put
# a datagram on any real network; without a way to make one the test is
# skipped (77).
set -u
version=$1
shift

if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  isolate="unshare -n"
elif unshare -rn true 2>/dev/null; then
  isolate="unshare -rn"
else
  echo "cli-options: cannot make a network namespace (needs root or user namespaces): skipped"
  exit 77
fi

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# run PROGRAM ARGS...: sets status; output in $out and $err
run() {
  # the window's unknown-option check comes after Qt has read its own options
  # shellcheck disable=SC2086 # $isolate is a command and its option
  QT_QPA_PLATFORM=offscreen timeout 20 $isolate "$@" >"$out" 2>"$err"
  status=$?
}

for program in "$@"; do
  name=$(basename "$program")

  run "$program" --help
  [ "$status" = 0 ] || fail "$name --help: exit $status"
  grep -q "^usage: $name" "$out" || fail "$name --help: no usage on standard output"
  [ -s "$err" ] && fail "$name --help: wrote to standard error: $(head -c 200 "$err")"

  run "$program" --version
  [ "$status" = 0 ] || fail "$name --version: exit $status"
  # the window names the engine it runs on after its own version
  first=$(head -n 1 "$out")
  case "$name:$first" in
    "beaconry:beaconry $version (Corvid "*")") ;;
    "$name:$name $version") [ "$name" != beaconry ] || fail "beaconry --version does not name the engine: '$first'" ;;
    *) fail "$name --version: '$first', wanted '$name $version'" ;;
  esac

  run "$program" --no-such-option
  [ "$status" = 2 ] || fail "$name --no-such-option: exit $status, wanted 2"
  grep -q "^usage: $name" "$err" || fail "$name --no-such-option: no usage on standard error"
  [ -s "$out" ] && fail "$name --no-such-option: wrote to standard output: $(head -c 200 "$out")"
done

if [ "$failures" != 0 ]; then
  echo "cli-options: $failures failure(s)"
  exit 1
fi
echo "cli-options: $# programs follow the conventions"
