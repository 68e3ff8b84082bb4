# Registers this build folder's desktop-wallpaper stand-in (tools/desktop-wallpaper) for the
# DesktopWallpaper class, which Wine lacks, in the fresh prefix: one reg import, since every
# wine start costs time.
set -euo pipefail
dll="$BUILD/tools/desktop-wallpaper/veltrane_desktop_wallpaper.dll"
if [ ! -f "$dll" ]; then
    echo "20-desktop-wallpaper: $dll is missing; build the default target first" >&2
    exit 1
fi
reg=$(mktemp "$BUILD/wine/desktop-wallpaper-XXXXXX.reg")
trap 'rm -f "$reg"' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
dll_value=$(winpath "$dll")
dll_value=${dll_value//\\/\\\\}  # .reg strings double each backslash
key='HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{C2CF3110-460E-4FC1-B9D0-8A1C0C9CC4BD}'
cat >"$reg" <<EOF
Windows Registry Editor Version 5.00

[$key]
@="Veltrane test stand-in: DesktopWallpaper"

[$key\\InprocServer32]
@="$dll_value"
"ThreadingModel"="Both"
EOF
if ! out=$(wine reg import "$(winpath "$reg")" </dev/null 2>&1); then
    echo "20-desktop-wallpaper: reg import failed: $out" >&2
    exit 1
fi
