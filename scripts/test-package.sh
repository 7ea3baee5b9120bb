#!/usr/bin/env bash
# Checks the program as an installed desktop application: builds the Debian package, checks it
# with lintian, unpacks it into a folder made read-only, validates the desktop entry and the
# metainfo it ships, and starts the unpacked program as an ordinary user under Xvfb. The program
# must make its knowledge base in that user's data folder, show its icon, save an entry typed
# into it and exit cleanly. Run as root, the user is pelloquin-test (created when missing);
# otherwise the calling user with a temporary home folder. The screen at the end and the
# program's output are left in build/test-package/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

app_id=org.pelloquin.Pelloquin
out="$PWD/build/test-package"
work="$(mktemp -d /tmp/pelloquin-package.XXXXXX)"
cleanup() {
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$out"
mkdir -p "$out"
fail() {
  echo "test-package: $*" >&2
  exit 1
}

deb="$(scripts/package.sh)"
lintian --fail-on error "$deb"

root="$work/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/pelloquin usr/share/applications/$app_id.desktop \
         usr/share/metainfo/$app_id.metainfo.xml usr/share/icons/hicolor/scalable/apps/$app_id.svg \
         usr/share/man/man1/pelloquin.1.gz; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done
for size in 16 22 24 32 48 64 128 256; do
  icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  file "$icon" | grep -q "PNG image data, $size x $size," || fail "no ${size}x${size} icon"
done
desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"
grep -qx "Icon=$app_id" "$root/usr/share/applications/$app_id.desktop" ||
  fail "the desktop entry names another icon"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" \
  "$root/usr/share/metainfo/$app_id.metainfo.xml" || fail "the metainfo launches another entry"
chmod -R a-w,a+rX "$root"
chmod 755 "$work"

if [ "$(id -u)" -eq 0 ]; then
  user=pelloquin-test
  id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
  home="$(getent passwd "$user" | cut -d: -f6)"
  as_user=(runuser -u "$user" --)
else
  home="$work/home"
  mkdir -p "$home"
  as_user=()
fi
data="$home/.local/share/Pelloquin"
"${as_user[@]}" rm -rf "$data"
shots="$work/shots"
mkdir -m 777 "$shots"

# Runs under Xvfb as the user: starts the program, waits for its main window after the splash,
# types an entry into the two boxes, clicks Save, then Exit. Coordinates are those of the main
# window's first layout (828 x 562 with the menu bar).
drive() {
  set -euo pipefail
  local program="$1" shots="$2" problem="$3" solution="$4"
  QT_QPA_PLATFORM=xcb "$program" >"$shots/program.log" 2>&1 &
  local pid=$! win="" i
  for i in $(seq 1 100); do
    win="$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null || true)"
    [ "$(wc -w <<<"$win")" -eq 1 ] && [[ "$(xdotool getwindowname "$win")" == "Pelloquin: "* ]] && break
    win=""
    sleep 0.2
  done
  [ -n "$win" ] || { echo "no main window" >&2; kill "$pid"; return 1; }
  sleep 0.5
  xprop -id "$win" _NET_WM_ICON >"$shots/icon.txt"
  xdotool mousemove --window "$win" 180 120 click 1
  xdotool type --delay 10 "$problem"
  xdotool mousemove --window "$win" 180 400 click 1
  xdotool type --delay 10 "$solution"
  import -window root "$shots/typed.png"
  xdotool mousemove --window "$win" 243 546 click 1
  sleep 1
  import -window root "$shots/saved.png"
  xdotool mousemove --window "$win" 331 546 click 1
  for i in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "the program did not exit" >&2
    kill "$pid"
    return 1
  fi
  wait "$pid"
}

problem="Printer $$ jams on every second page"
solution="Cleaned the pickup roller"
status=0
timeout 180 "${as_user[@]}" env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
  bash -c "$(declare -f drive); drive \"\$@\"" drive \
  "$root/usr/bin/pelloquin" "$shots" "$problem" "$solution" || status=$?
cp -r "$shots"/. "$out"/
[ "$status" -eq 0 ] || fail "the program failed under Xvfb (status $status, see $out)"

grep -q "Icon (16 x 16)" "$out/icon.txt" && grep -q "Icon (128 x 128)" "$out/icon.txt" ||
  fail "the main window carries no icon"
[ -f "$data/pelloquin.dat" ] || fail "no knowledge base in $data"
[ "$(stat -c %U "$data/pelloquin.dat")" = "$(stat -c %U "$home")" ] ||
  fail "the knowledge base does not belong to the user"
stored="$(sqlite3 "file:$data/pelloquin.dat?mode=ro" \
  "select texttype || '=' || description from textdata order by texttype")"
[ "$stored" = "P=$problem"$'\n'"S=$solution" ] || fail "the knowledge base holds: $stored"
echo "test-package: the unpacked package made $data/pelloquin.dat and saved an entry there"
