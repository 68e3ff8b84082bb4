#!/usr/bin/env bash
# The program's main job under Wine, on the sample content: sets up the machine and builds
# like the test command, serves content/sample from the content-server stand-in, installs
# the executable and the Nanum font into a fresh LOCALAPPDATA, starts the background service
# (--run), waits until it has composed the wallpaper, then switches it to overlay windows and
# takes a screenshot. Everything it starts is stopped again, also on failure.
#   tools/run-demo.sh [OUTPUT_FOLDER]        default: build/demo/pictures
# The pictures: wallpaper-monitor-<i>.png (the composed wallpaper of each monitor, as the
# service wrote it) and overlay-screen.png (the screen with the overlay windows).
set -Eeuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/demo
out=$(mkdir -p "${1:-$build/pictures}" && cd "${1:-$build/pictures}" && pwd)
# The stand-in's port, compiled into this build's content origin (the origin is a build-time
# constant); not the test builds' port, so a test run elsewhere on the machine is no obstacle.
port=47453
run=$build/run
install_dir=$run/LocalAppData/Veltrane_Desktop
nanum=/usr/share/fonts/truetype/nanum/NanumGothic.ttf
standin_state=$run/Temp/desktop-wallpaper.state
# The stand-in's name for the first monitor Wine reports.
monitor0='\\?\DISPLAY#VLT0000#0&0&UID0#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}'

say() { printf 'run-demo: %s\n' "$*" >&2; }
fail() { say "$*"; exit 1; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
unixpath() { local p=${1#[Zz]:}; printf '%s' "${p//\\//}"; }

# --- set-up and build ------------------------------------------------------------------
deps=$("$root/tools/setup.sh" | tail -n 1)
say "building Veltrane_Desktop.exe for the stand-in's origin https://localhost:$port in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DVELTRANE_DEPS_PREFIX="$deps" \
    -DVELTRANE_CONTENT_ORIGIN="https://localhost:$port" \
    -DVELTRANE_TEST_SERVER_PORT=$port -DVELTRANE_TEST_UNTRUSTED_PORT=$((port + 1)) >/dev/null
cmake --build "$build" -j "$(nproc)" --target Veltrane_Desktop veltrane_desktop_wallpaper \
    veltrane_trust_ca veltrane_launcher veltrane_demo_control veltrane_powershell

for p in $port $((port + 1)); do
    python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1', $p))" 2>/dev/null ||
        fail "port $p is in use (another run-demo.sh?)"
done

# --- everything below is stopped by this trap -------------------------------------------
launcher_pid=
cleanup() {
    local code=$?
    trap - EXIT INT TERM
    if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
        control stop || true
        for _ in $(seq 100); do kill -0 "$launcher_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    "$root/tools/content-server/control.sh" stop "$build" 0 0 || true
    "$root/tools/wine/prefix.sh" cleanup "$build" || true
    [ -n "$launcher_pid" ] && wait "$launcher_pid" 2>/dev/null
    exit $code
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export VELTRANE_XVFB_SCREEN=1920x1080x24
say "preparing a fresh Wine prefix and Xvfb (1920x1080) in $build/wine"
"$root/tools/wine/prefix.sh" setup "$build"
export WINEPREFIX=$build/wine/prefix WINEDEBUG=-all
export DISPLAY
DISPLAY=$(cat "$build/wine/display")

control() { timeout 60 wine "$build/tools/demo/veltrane_demo_control.exe" "$1" </dev/null 2>/dev/null; }

# --- content server ----------------------------------------------------------------------
"$root/tools/content-server/control.sh" start "$build" $port $((port + 1))
served=$build/content-server/root
sample=$root/content/sample
tag() { printf 'sample-%s' "$(sha256sum "$1" | cut -c1-16)"; }
image_tag=$(tag "$sample/Veltrane_Desktop.png")
text_tag=$(tag "$sample/Veltrane_Desktop.txt")
mkdir -p "$served/images" "$served/texts"
cp "$sample/Veltrane_Desktop.png" "$served/images/$image_tag.png"
cp "$sample/Veltrane_Desktop.txt" "$served/texts/$text_tag.txt"
cp "$sample/Veltrane_Desktop.duty.txt" "$served/duty.txt"
# The sample roster covers six weeks; outside them the same roster is served from yesterday on.
if ! python3 - "$served/duty.txt" <<'EOF'; then
import datetime, sys
head = open(sys.argv[1], encoding="utf-8").readline().rstrip("\n").split("\x1f")
start = datetime.date.fromisoformat(head[1])
offset = (datetime.date.today() - start).days
sys.exit(0 if 1 < offset < int(head[2]) else 1)
EOF
    python3 "$sample/make_text.py" "$build/content-server" "$(date -d '2 days ago' +%F)"
    cp "$build/content-server/Veltrane_Desktop.duty.txt" "$served/duty.txt"
fi
printf '{"updatedAt": "%s", "imageEtag": "%s", "textEtag": "%s"}\n' \
    "$(date -u +%FT%TZ)" "$image_tag" "$text_tag" >"$served/current.json"

# --- the user's folders, install folder and desktop ------------------------------------
rm -rf "$run"
mkdir -p "$install_dir" "$run/AppData" "$run/Temp" "$run/Pictures"
cp "$build/src/bin/Veltrane_Desktop/Veltrane_Desktop.exe" "$install_dir/"
cp "$nanum" "$install_dir/Veltrane_Desktop.ttf"
printf 'method=wallpaper_composite\nbackground=original\n' >"$install_dir/Veltrane_Desktop.config"
# The user's own wallpaper, which the service composes onto and must give back.
wallpaper=$run/Pictures/wallpaper.png
convert -size 1920x1080 gradient:'#3a6073-#16222a' "$wallpaper"
printf 'position=4\ncolor=3355443\nwallpaper=%s|%s\n' "$monitor0" "$(winpath "$wallpaper")" >"$standin_state"

export VELTRANE_TEST_LOCALAPPDATA VELTRANE_TEST_APPDATA VELTRANE_TEST_TEMP
VELTRANE_TEST_LOCALAPPDATA=$(winpath "$run/LocalAppData")
VELTRANE_TEST_APPDATA=$(winpath "$run/AppData")
VELTRANE_TEST_TEMP=$(winpath "$run/Temp")

wallpapers() { sed -n 's/^wallpaper=[^|]*|//p' "$standin_state" 2>/dev/null; }
composed() { wallpapers | grep -q '\\WallpaperComposite\\Content\\'; }
screenshot() { import -display "$DISPLAY" -window root "$1"; }
last_error() {
    [ -f "$install_dir/Veltrane_Desktop.last-error" ] || return 0
    say "the service's last error: $(cat "$install_dir/Veltrane_Desktop.last-error")"
}
wait_for() { # seconds condition...
    local seconds=$1; shift
    for _ in $(seq $((seconds * 2))); do
        "$@" && return 0
        kill -0 "$launcher_pid" 2>/dev/null || return 1
        sleep 0.5
    done
    return 1
}
give_up() {
    local why=$1
    kill -0 "$launcher_pid" 2>/dev/null || why="$why (the service has ended)"
    screenshot "$out/failure-screen.png" 2>/dev/null || true
    last_error
    fail "$why; the screen at that moment: $out/failure-screen.png, the service's output: $run/service.log"
}

# --- the service -----------------------------------------------------------------------
say "starting Veltrane_Desktop.exe --run (install folder $install_dir)"
wine "$build/tools/wine/veltrane_launcher.exe" "$(winpath "$install_dir/Veltrane_Desktop.exe")" --run \
    </dev/null >"$run/service.log" 2>&1 &
launcher_pid=$!

wait_for 180 composed || give_up "the service did not compose a wallpaper within 180 seconds"
rm -f "$out"/wallpaper-monitor-*.png "$out"/overlay-screen.png "$out"/failure-screen.png
i=0
while IFS= read -r path; do
    cp "$(unixpath "$path")" "$out/wallpaper-monitor-$i.png"
    i=$((i + 1))
done < <(wallpapers)

say "switching to overlay windows"
printf 'method=top_level\nbackground=original\n' >"$install_dir/Veltrane_Desktop.config"
control refresh || give_up "the refresh request found no service"
wait_for 60 bash -c '! grep -q WallpaperComposite "$0"' "$standin_state" ||
    give_up "the service did not give the wallpaper back for overlay mode"
sleep 3
# Wine paints no desktop wallpaper: show the one the stand-in now holds on the root window,
# behind the overlay windows, as the Windows desktop would.
desktop=$(wallpapers | head -n 1)
if [ -n "$desktop" ]; then
    # display reports failure even when it has set the root window
    display -display "$DISPLAY" -window root -resize '1920x1080!' "$(unixpath "$desktop")" || true
fi
sleep 1
screenshot "$out/overlay-screen.png"
last_error

say "stopping the service"
control stop || say "the service did not stop on request"
wait_for 30 bash -c '! grep -q "WallpaperComposite" "$0"' "$standin_state" || true
printf '\nThe pictures are in %s:\n' "$out"
ls -1 "$out" | sed 's/^/  /'
