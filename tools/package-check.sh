#!/usr/bin/env bash
# The Debian package checked the way a distribution checks one, then installed, used and removed
# on this machine. Run as root, on a machine where Pictavo is not installed (.ci/run does):
#   1. builds it (tools/package.sh); lintian (no errors), desktop-file-validate and
#      appstreamcli validate --pedantic on what it installs; Depends come from dpkg-shlibdeps;
#   2. installs it with apt-get; for a user whose JPEG files opened with another program,
#      /usr/bin/qmt /Associate makes Pictavo their opener, and xdg-mime says so;
#   3. removes it: nothing of the package is left, the user's pictures, settings and thumbnails
#      are untouched, no type opens with the removed program, and GIO opens JPEG files with the
#      other program again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

fail() {
  echo "package-check.sh: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "run as root: the package is installed into this system"
if dpkg-query -W -f='${Status}' pictavo 2>/dev/null | grep -q "ok installed"; then
  fail "pictavo is installed already; remove it first"
fi

QMT_WITH_PACKAGE_TOOLS=1 ./tools/setup.sh >/dev/null
deb=$(./tools/package.sh)
[ -f "$deb" ] || fail "no package was made"
echo "== $deb"

work=$(mktemp -d)
installed=0
cleanup() {
  [ "$installed" = 1 ] && apt-get remove -y -q pictavo >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

echo "== validators"
lintian --display-info --pedantic "$deb" || fail "lintian found errors"
dpkg-deb -x "$deb" "$work/content"
desktop-file-validate "$work/content/usr/share/applications/pictavo.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --pedantic --no-net \
  "$work/content/usr/share/metainfo/io.github.pictavo.pictavo.metainfo.xml" || fail "appstreamcli"
depends=$(dpkg-deb -f "$deb" Depends)
# The modern formats' libraries are needed by the module only: dpkg-shlibdeps must have seen it.
for library in libc6 libqt6core6 libqt6widgets6 libwebp7 libwebpdemux2 libheif1 libavif15 \
  libjxl0.7; do
  [[ $depends == *"$library "* ]] || fail "Depends names no $library: $depends"
done
module=$(find "$work/content/usr/lib" -path '*/pictavo/codecs/qmt-modern-codecs.so' -type f)
[ -n "$module" ] || fail "the module of the modern formats is not installed beside the program"
[ -f "$(dirname "$module")/../qmt" ] || fail "the module is not beside the program"
for icon in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256 512x512; do
  [ -f "$work/content/usr/share/icons/hicolor/$icon/apps/pictavo.png" ] || fail "no $icon icon"
done
[ -f "$work/content/usr/share/icons/hicolor/scalable/apps/pictavo.svg" ] || fail "no SVG icon"
for shot in browser viewer; do
  [ -f "$work/content/usr/share/pictavo/screenshots/$shot.png" ] || fail "no $shot screenshot"
done

echo "== install"
apt-get install -y -q "$deb"
installed=1
mapfile -t packaged < <(dpkg -L pictavo | while read -r f; do [ -d "$f" ] || echo "$f"; done)
[ -x /usr/bin/qmt ] || fail "no /usr/bin/qmt"
# Everything the module needs came with the package's dependencies.
installed_module=$(dirname "$(readlink -f /usr/bin/qmt)")/codecs/qmt-modern-codecs.so
[ -f "$installed_module" ] || fail "no $installed_module"
! ldd "$installed_module" | grep -q "not found" || fail "the module misses libraries: $(ldd "$installed_module")"
man -w qmt >/dev/null || fail "man cannot find qmt(1)"

# A user of this machine, with a picture, a thumbnail, a setting, and another program that opens
# JPEG files. The desktop is a plain one: xdg-mime answers from the freedesktop files.
export HOME=$work/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$work/runtime
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION DISPLAY WAYLAND_DISPLAY KDE_FULL_SESSION \
  GNOME_DESKTOP_SESSION_ID XDG_DATA_DIRS XDG_CONFIG_DIRS QMT_REGISTRY_DIR
mkdir -p "$HOME/Pictures" "$XDG_DATA_HOME/applications" "$XDG_CACHE_HOME/thumbnails/normal" \
  "$XDG_CONFIG_HOME/pictavo/registry" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cp /usr/share/icons/hicolor/256x256/apps/pictavo.png "$HOME/Pictures/mine.png"
thumbnail=$XDG_CACHE_HOME/thumbnails/normal/$(printf 'file://%s' "$HOME/Pictures/mine.png" | md5sum | cut -d' ' -f1).png
cp /usr/share/icons/hicolor/128x128/apps/pictavo.png "$thumbnail"
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Karvendel\\Pictavo Settings]\n"Slide Show Delay"="3000"\n' \
  > "$XDG_CONFIG_HOME/pictavo/registry/HKEY_LOCAL_MACHINE.reg"
cat > "$XDG_DATA_HOME/applications/otherviewer.desktop" <<'EOF'
[Desktop Entry]
Type=Application
Name=Other Viewer
Exec=true %f
MimeType=image/jpeg;
EOF
xdg-mime default otherviewer.desktop image/jpeg
[ "$(xdg-mime query default image/jpeg)" = otherviewer.desktop ] || fail "the other program is not set up"
(cd "$HOME" && sha256sum Pictures/mine.png "${thumbnail#$HOME/}" \
  .config/pictavo/registry/HKEY_LOCAL_MACHINE.reg) > "$work/user-files"

QMT_NONINTERACTIVE=1 QT_QPA_PLATFORM=offscreen timeout 120 /usr/bin/qmt /Associate ||
  fail "qmt /Associate failed"
opener=$(xdg-mime query default image/jpeg)
[ "$opener" = pictavo.desktop ] || fail "after /Associate JPEG files open with '$opener'"
# The package's entry is the one used: a copy in the user's folder would outlive the package.
[ ! -e "$XDG_DATA_HOME/applications/pictavo.desktop" ] || fail "a copy of the entry was made"

echo "== remove"
apt-get remove -y -q pictavo
installed=0
status=$(dpkg-query -W -f='${db:Status-Abbrev}' pictavo 2>/dev/null || true)
[[ $status == "" || $status == un* ]] || fail "the package is still known to dpkg: '$status'"
for f in "${packaged[@]}"; do
  [ -e "$f" ] || [ -L "$f" ] && fail "left behind: $f"
done
(cd "$HOME" && sha256sum --quiet -c "$work/user-files") || fail "the user's files changed"
[ -d "$XDG_CONFIG_HOME/pictavo/registry" ] || fail "the user's settings are gone"
# No type opens with the removed program any more. xdg-mime (xdg-utils 1.1.3) tries only the
# first entry of the user's list and then falls back on the system's choice; GIO, which most
# desktops use, takes the first installed entry of the list: the other program, kept behind ours.
opener=$(xdg-mime query default image/jpeg)
[ -n "$opener" ] && [ "$opener" != pictavo.desktop ] || fail "after removal xdg-mime says '$opener'"
[ -f "/usr/share/applications/$opener" ] || [ -f "$XDG_DATA_HOME/applications/$opener" ] ||
  fail "after removal JPEG files open with '$opener', which is not installed"
opener=$(gio mime image/jpeg | sed -n 's/^Default application for .*: //p')
[ "$opener" = otherviewer.desktop ] || fail "after removal GIO opens JPEG files with '$opener'"
echo "== the package installs, associates and leaves cleanly"
cd "$root"
