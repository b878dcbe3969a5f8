#!/bin/sh
# Installs Tavero into a temporary prefix, moves the prefix elsewhere, and
# runs the demo and `tavero create` from there with the source and build
# trees hidden: the installed files must be all the program needs.
#   install-test.sh SOURCE_DIR BUILD_DIR DEMO_DIR
set -eu
source_dir=$1
build_dir=$2
demo=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
fail() { echo "install-test: $*" >&2; exit 1; }

# --strip: the debugging information names the build tree; packages move it
# to a separate file the same way.
"${CMAKE:-cmake}" --install "$build_dir" --prefix "$work/first" --strip >"$work/install.log" ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
# Relocatable: the files work wherever the prefix ends up.
mv "$work/first" "$work/prefix"
prefix=$work/prefix

for file in bin/tavero share/tavero/client/kio-communicator.js share/tavero/client/tavero.d.ts \
            share/man/man1/tavero.1; do
  [ -s "$prefix/$file" ] || fail "$file is not installed"
done
[ -x "$prefix/bin/tavero" ] || fail "bin/tavero is not executable"
# The web process extension, in <libdir>/tavero/web-extensions (libdir may
# carry the machine's multiarch folder).
extension=$(find "$prefix" -path '*/tavero/web-extensions/libtavero-web-extension.so')
[ -n "$extension" ] || fail "the web process extension is not installed"
# The address book module, loaded when a page first reads the contacts.
books=$(find "$prefix" -path '*/tavero/modules/libtavero-address-books.so')
[ -n "$books" ] || fail "the address book module is not installed"
grep -q '^\.SS "tavero run"' "$prefix/share/man/man1/tavero.1" ||
  fail "the man page does not describe tavero run"
for tree in "$source_dir" "$build_dir"; do
  if grep -rlF "$tree" "$prefix"; then fail "the files above name $tree"; fi
done

cp -R "$demo" "$work/demo"

# Everything that runs the installed program, in $work alone.
cat >"$work/use-installed.sh" <<'SCRIPT'
set -eu
work=$1
cd "$work"
TAVERO_LOG=debug timeout 120 "$work/prefix/bin/tavero" run "$work/demo" --headless --port 0 --home "$work/home" \
  --screenshot "$work/shot.png" 2>"$work/run.log"
grep -q "native calls: pages call through the web process extension in $work/prefix/" "$work/run.log" ||
  { echo "install-test: the installed web process extension is not used" >&2; grep "native calls" "$work/run.log" >&2; exit 1; }
grep -q "contacts: the address books load from $work/prefix/" "$work/run.log" ||
  { echo "install-test: the installed address book module is not found" >&2; grep "contacts" "$work/run.log" >&2; exit 1; }
printf '\211PNG\r\n\032\n' >"$work/png-signature"
cmp -s -n 8 "$work/png-signature" "$work/shot.png" || { echo "install-test: shot.png is no PNG" >&2; exit 1; }

timeout 30 "$work/prefix/bin/tavero" create "$work/made" --id org.example.made >/dev/null
for file in Info.plist webapp/index.html types/tavero.d.ts tests/smoke.sh; do
  [ -s "$work/made/$file" ] || { echo "install-test: tavero create wrote no $file" >&2; exit 1; }
done
TAVERO="$work/prefix/bin/tavero" timeout 120 sh "$work/made/tests/smoke.sh" "$work/made.png" >/dev/null
SCRIPT

# Hide both trees behind empty folders in a private mount namespace (as root,
# or as a user namespace's root). The build tree first: it may lie inside
# the source tree, which then hides it again.
hide_trees="mount -t tmpfs tavero-hidden \"\$2\" && mount -t tmpfs tavero-hidden \"\$3\" && sh \"\$1/use-installed.sh\" \"\$1\""
if unshare --mount --propagation private true 2>/dev/null; then
  unshare --mount --propagation private sh -c "$hide_trees" sh "$work" "$build_dir" "$source_dir"
elif unshare --user --map-root-user --mount --propagation private true 2>/dev/null; then
  unshare --user --map-root-user --mount --propagation private sh -c "$hide_trees" sh "$work" "$build_dir" "$source_dir"
else
  echo "install-test: no mount namespace here: the trees stay visible, the program runs from $work"
  sh "$work/use-installed.sh" "$work"
fi
echo "install-test: passed"
