#!/bin/sh
# Builds the Debian package and checks it the way a user meets it: its
# contents, the desktop entry, lintian, then installed with apt-get, every
# program's --help and --version from /usr/bin and its manual page. The
# package is removed again at the end, also when a check fails.
# Usage: package-test.sh BUILD-DIR VERSION PROGRAM...
# Needs root (apt-get); skipped (77) otherwise.
set -u
build=$1 version=$2
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" != 0 ]; then
  echo "package-test: installs a package, needs root: skipped"
  exit 77
fi
if dpkg-query -W -f='${Status}' beaconry 2>/dev/null | grep -q "install ok installed"; then
  echo "package-test: a beaconry package is installed already; remove it first (apt-get purge beaconry)"
  exit 1
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
work=$(mktemp -d)
cleanup() {
  # whatever state an install left it in, even half-way
  state=$(dpkg-query -W -f='${Status}' beaconry 2>/dev/null)
  if [ -n "$state" ] && [ "${state##* }" != not-installed ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 beaconry >/dev/null 2>&1 \
      || echo "package-test: could not remove the package"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

start=$(date +%s)
PACKAGE_BUILD_DIR=$build "$root/scripts/package" >"$work/build.log" 2>&1 || {
  tail -n 40 "$work/build.log"
  echo "package-test: the package did not build"
  exit 1
}
deb=$(tail -n 1 "$work/build.log")
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "beaconry_${version}_${arch}.deb" ] || fail "package named $(basename "$deb")"
echo "package-test: built $deb in $(($(date +%s) - start)) s"

# contents
dpkg-deb --contents "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
expect() {
  grep -qx "$1" "$work/contents" || fail "not in the package: $1"
}
for program in "$@"; do
  expect "/usr/bin/$program"
  expect "/usr/share/man/man1/$program.1.gz"
done
expect /usr/share/applications/beaconry.desktop
for size in 16 32 48 64 128 256; do
  expect "/usr/share/icons/hicolor/${size}x${size}/apps/beaconry.png"
done
depends=$(dpkg-deb --field "$deb" Depends)
case "$depends" in
  *libqt6widgets6*) ;;
  *) fail "Depends lacks the Qt libraries the window links: $depends" ;;
esac
[ "$(dpkg-deb --field "$deb" Section)" = net ] || fail "section is not net"

# the desktop entry as packaged
dpkg-deb -x "$deb" "$work/tree"
desktop-file-validate "$work/tree/usr/share/applications/beaconry.desktop" || fail "desktop-file-validate"

# lintian: errors fail the test, the rest is shown
lintian --tag-display-limit 0 -I -E "$deb" 2>&1 | grep -v "running with root privileges" >"$work/lintian"
cat "$work/lintian"
grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"

# installed: the programs, their options and their manual pages
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 \
  "$deb" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "apt-get install"
else
  paths=""
  for program in "$@"; do
    [ -x "/usr/bin/$program" ] || fail "/usr/bin/$program not installed"
    paths="$paths /usr/bin/$program"
    page=$(man -w "$program" 2>/dev/null)
    [ "$page" = "/usr/share/man/man1/$program.1.gz" ] || fail "man -w $program: '$page'"
  done
  # shellcheck disable=SC2086
  "$here/cli-options.sh" "$version" $paths || fail "installed programs' options"
fi

echo "package-test: done in $(($(date +%s) - start)) s, $failures failure(s)"
[ "$failures" = 0 ]
