#!/usr/bin/env bash
# The way from `tavero create` to an app users install: makes an app with a
# URL scheme and an icon, packages it with `tavero package --deb`, checks
# the package with lintian, installs it beside Tavero's own package
# (scripts/package), runs it headless from its desktop entry's Exec line,
# opens it through its scheme with xdg-open, and removes both packages
# again, checking that every file went and the scheme no longer resolves.
# It changes the system's packages, so it runs only as root and only when
# neither package is installed already; it skips (77) otherwise.
#   app-package-test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source_dir=$1
build_dir=$2
tavero=$build_dir/src/app/tavero
app_id=org.example.packagetest
package=$app_id
scheme=taveropackagetest

skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[[ $(id -u) -eq 0 ]] || skip "installing packages needs root"
installed() { [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" == "install ok installed" ]]; }
installed tavero && skip "the tavero package is installed already; this test would replace it"
installed "$package" && skip "$package is installed already"
for tool in lintian xdg-open xdg-mime dpkg-deb python3 Xvfb; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tavero-package-test.XXXXXX")
app_pid=""
xvfb_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
  dpkg -r "$package" >/dev/null 2>&1 || true
  dpkg -r tavero >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
started=$(date +%s)

# The app: a URL scheme, an icon outside webapp/, a maintainer, and names
# that need escaping in the desktop entry and the metainfo.
# A folder with a space and quotes in its name: nothing may depend on plain paths.
bundle="$work/My \"App\""
"$tavero" create "$bundle" --id "$app_id" --name 'Pack & "Test" <App>' >/dev/null
python3 - "$bundle" "$scheme" <<'PY'
import struct, sys, zlib
bundle, scheme = sys.argv[1], sys.argv[2]
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
rows = b"".join(b"\0" + b"\x20\x80\xc0\xff" * 48 for _ in range(48))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 48, 48, 8, 6, 0, 0, 0)) \
    + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")
open(bundle + "/icon.png", "wb").write(png)
plist = bundle + "/Info.plist"
text = open(plist).read().replace("<key>IndexPage</key>", f"""<key>CFBundleIconFile</key>
  <string>icon.png</string>
  <key>TaveroPackageMaintainer</key>
  <string>Ana Lima &lt;ana@example.org&gt;</string>
  <key>TaveroPackageDescription</key>
  <string>A test application for Tavero's packages.

It opens {scheme}: links.</string>
  <key>TaveroPackageLicense</key>
  <string>MIT</string>
  <key>NSHumanReadableCopyright</key>
  <string>© 2026 Ana Lima</string>
  <key>CFBundleURLTypes</key>
  <array><dict><key>CFBundleURLSchemes</key><array><string>{scheme}</string></array></dict></array>
  <key>IndexPage</key>""")
open(plist, "w").write(text)
PY
mkdir "$bundle/.git" && echo "secret" >"$bundle/.git/config"
echo "swap" >"$bundle/webapp/.app.js.swp"

echo "== tavero package"
deb=$(SOURCE_DATE_EPOCH=1780000000 "$tavero" package "$bundle" --deb --output "$work/out" | tail -n 1)
[[ -f "$deb" ]] || fail "tavero package printed no package path"
again=$(SOURCE_DATE_EPOCH=1780000000 "$tavero" package "$bundle" --deb --output "$work/again" | tail -n 1)
cmp "$deb" "$again" || fail "packaging the same bundle twice gave different bytes"
ls -l "$deb"
contents=$(dpkg-deb -c "$deb")
grep -qE '\.git|\.swp|README|device\.json' <<<"$contents" && fail "the package holds development files: $contents"
if dpkg-deb --fsys-tarfile "$deb" | grep -aqF -e "$work" -e "$build_dir" -e "$source_dir"; then
  fail "the package names a folder of the machine that made it"
fi

echo "== lintian"
lintian --fail-on error --display-level '>=info' "$deb" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian found errors"
if command -v appstreamcli >/dev/null; then
  mkdir "$work/extracted" && dpkg-deb -x "$deb" "$work/extracted"
  appstreamcli validate --no-net "$work/extracted/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli finds the metainfo invalid"
fi

echo "== install"
tavero_deb=$("$source_dir/scripts/package" --build-dir "$build_dir" --output "$work/tavero" | tail -n 1)
dpkg -i "$tavero_deb" "$deb" || fail "dpkg -i failed"
files=$(dpkg -L "$package")
entry=/usr/share/applications/$app_id.desktop
[[ -f "$entry" ]] || fail "no $entry"
[[ -f /usr/share/icons/hicolor/48x48/apps/$app_id.png ]] || fail "no icon in the theme"
grep -q "x-scheme-handler/$scheme=$app_id.desktop" /usr/share/applications/mimeinfo.cache ||
  fail "the desktop database trigger did not register $scheme:"

echo "== run from the desktop entry"
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
# Field codes dropped: a start from the menu has no URL.
eval "command=(${exec_line//%u/})"
"${command[@]}" --headless --port 0 >"$work/app.log" 2>&1 &
app_pid=$!
home=$XDG_DATA_HOME/tavero/$app_id
device() { /usr/bin/tavero device --home "$home" "$@"; }
for _ in $(seq 100); do
  device page eval 'document.readyState' 2>/dev/null | grep -q complete && break
  kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log"; fail "the installed app ended"; }
  sleep 0.3
done
device page eval 'Kio.url.onOpen((opened) => { window.openedURL = opened.url; }); return true' >/dev/null ||
  { cat "$work/app.log"; fail "the installed app's page does not answer"; }

echo "== xdg-open $scheme:"
[[ "$(xdg-mime query default "x-scheme-handler/$scheme")" == "$app_id.desktop" ]] ||
  fail "xdg-mime does not name $app_id.desktop for $scheme:"
# xdg-open opens URLs with desktop entries only on a display: a private one.
Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || fail "Xvfb did not start"
# xdg-open runs the Exec line, which hands the URL to the running app (same home).
DISPLAY=:$(cat "$work/display") xdg-open "$scheme://inbox/42?from=xdg" || fail "xdg-open failed"
opened=""
for _ in $(seq 50); do
  opened=$(device page eval 'window.openedURL || ""' 2>/dev/null || true)
  [[ "$opened" == *"$scheme://inbox/42?from=xdg"* ]] && break
  sleep 0.3
done
[[ "$opened" == *"$scheme://inbox/42?from=xdg"* ]] || { cat "$work/app.log"; fail "the page did not receive the URL ($opened)"; }
kill "$app_pid"; wait "$app_pid" 2>/dev/null || true; app_pid=""

echo "== nothing written into the bundle"
written=$(find "/usr/share/tavero/apps/$app_id" | while read -r path; do grep -qxF "$path" <<<"$files" || echo "$path"; done)
[[ -z "$written" ]] || fail "the app wrote into its installed bundle: $written"
dpkg --verify "$package" || fail "installed files changed"

echo "== remove"
dpkg -r "$package" >/dev/null || fail "dpkg -r $package failed"
dpkg -r tavero >/dev/null || fail "dpkg -r tavero failed"
while read -r path; do
  [[ -f "$path" || -L "$path" ]] && fail "$path is left after removal"
done <<<"$files"
[[ -e "/usr/share/tavero/apps/$app_id" ]] && fail "the bundle folder is left after removal"
[[ -z "$(xdg-mime query default "x-scheme-handler/$scheme")" ]] || fail "$scheme: still resolves after removal"
grep -q "x-scheme-handler/$scheme=" /usr/share/applications/mimeinfo.cache && fail "$scheme: is still in the desktop database"
echo "passed in $(( $(date +%s) - started )) s"
