# Starts the desktop keeper (desktop_keeper.cpp) detached from every pipe, and waits until the
# desktop is up, so that no test starts Wine's desktop process with its own output.
set -euo pipefail
keeper="$BUILD/tools/wine/desktop_keeper.exe"
if [ ! -f "$keeper" ]; then
    echo "40-desktop-keeper: $keeper is missing; build the default target first" >&2
    exit 1
fi
ready="$WINEPREFIX/desktop-keeper.ready"
rm -f "$ready"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
setsid wine "$keeper" "$(winpath "$ready")" </dev/null >/dev/null 2>&1 &
for _ in $(seq 300); do
    [ -f "$ready" ] && exit 0
    sleep 0.1
done
echo "40-desktop-keeper: the desktop did not come up within 30 s" >&2
exit 1
