#!/bin/sh
# Packages a build with scripts/package and checks the .deb: lintian finds no
# error, no file names the source, build or home folder, packaging again
# gives the same bytes. As root, and when no tavero package is installed, it
# then installs the package, makes and runs an app with /usr/bin/tavero and
# purges the package again, checking that every file it brought is gone.
#   package-test.sh SOURCE_DIR BUILD_DIR
set -eu
source_dir=$1
build_dir=$2

work=$(mktemp -d)
installed=no
cleanup() {
  # Never leave the package behind, whichever step failed.
  if [ "$installed" = yes ]; then dpkg --purge tavero >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "package-test: $*" >&2; exit 1; }
skip() { echo "package-test: skipped: $*"; exit 77; }

command -v lintian >/dev/null || fail "lintian is missing (scripts/install-deps installs it)"

deb=$("$source_dir/scripts/package" --build-dir "$build_dir" --output "$work/first" 2>"$work/package.log" | tail -n 1) ||
  { cat "$work/package.log" >&2; fail "scripts/package failed"; }
[ -f "$deb" ] || fail "scripts/package printed '$deb', which is no file"
case "$deb" in */tavero_*_*.deb) ;; *) fail "$deb is not named tavero_VERSION_ARCH.deb" ;; esac

# Same bytes from a second run under another umask: nothing of the moment
# or the user's settings may reach the package.
second=$( (umask 077; "$source_dir/scripts/package" --build-dir "$build_dir" --output "$work/second" 2>/dev/null) | tail -n 1)
cmp "$deb" "$second" || fail "packaging the same build twice gave different files"

lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian reports errors"; }
grep -v '^N: running with root' "$work/lintian.log" || true

# Every file owned by root, directories and the program 0755, the rest 0644.
dpkg-deb -c "$deb" >"$work/listing"
awk '$2 != "root/root" ||
     ($1 !~ /^d/ && $1 != "-rw-r--r--" && !($1 == "-rwxr-xr-x" && $6 == "./usr/bin/tavero")) ||
     ($1 ~ /^d/ && $1 != "drwxr-xr-x")' "$work/listing" >"$work/odd-modes"
[ ! -s "$work/odd-modes" ] || { cat "$work/odd-modes" >&2; fail "the entries above have other owners or modes"; }

# No absolute path of this machine inside, compressed files included.
dpkg-deb -R "$deb" "$work/extracted"
find "$work/extracted" -name '*.gz' -exec gzip -d {} +
for tree in "$source_dir" "$build_dir" ${HOME:+"$HOME/"}; do
  [ "$tree" = / ] && continue
  if grep -rlF "$tree" "$work/extracted"; then fail "the files above name $tree"; fi
done
grep -q '^Depends:.*libwebkit2gtk' "$work/extracted/DEBIAN/control" ||
  fail "Depends does not name the web view's library"
grep -q '^Depends:.*libebook-1.2' "$work/extracted/DEBIAN/control" ||
  fail "Depends does not name the address book module's library"

[ "$(id -u)" -eq 0 ] || skip "the package is good; installing it needs root"
status=$(dpkg-query -W -f='${db:Status-Status}' tavero 2>/dev/null || true)
case "$status" in
  ""|not-installed) ;;
  *) skip "the package is good; a tavero package is already on this machine ($status), which this test leaves alone" ;;
esac

installed=yes
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
dpkg -L tavero >"$work/files"

cd "$work"
timeout 30 /usr/bin/tavero create "$work/made" --id org.example.packaged >/dev/null ||
  fail "the installed tavero could not create an app"
timeout 120 /usr/bin/tavero run "$work/made" --headless --port 0 --home "$work/home" \
  --screenshot "$work/shot.png" >"$work/run.log" 2>&1 ||
  { cat "$work/run.log" >&2; fail "the installed tavero could not run the new app"; }
printf '\211PNG\r\n\032\n' >"$work/png-signature"
cmp -s -n 8 "$work/png-signature" "$work/shot.png" || fail "the screenshot is no PNG"

if command -v man >/dev/null; then
  page=$(man -w tavero) || fail "man finds no tavero page"
  [ "$page" = /usr/share/man/man1/tavero.1.gz ] || fail "man finds $page, not the package's page"
fi

dpkg --purge tavero >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg --purge failed"; }
installed=no
while IFS= read -r path; do
  [ "$path" = /. ] && continue
  [ -e "$path" ] || [ -L "$path" ] || continue
  # Folders other packages also use (/usr/bin, man1) stay; an empty one that
  # no other package lists was left behind.
  if [ -d "$path" ] && [ -n "$(ls -A "$path")" ]; then continue; fi
  if [ -d "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1; then continue; fi
  fail "$path is still there after dpkg --purge"
done <"$work/files"
[ "$(dpkg-query -W -f='${db:Status-Status}' tavero 2>/dev/null || true)" != installed ] ||
  fail "dpkg still lists tavero as installed"
echo "package-test: passed"
