# Puts this build folder's Windows PowerShell stand-in (tools/powershell) where the program
# looks for powershell.exe, over Wine's own, in the fresh prefix.
set -euo pipefail
exe="$BUILD/tools/powershell/veltrane_powershell.exe"
if [ ! -f "$exe" ]; then
    echo "30-powershell: $exe is missing; build the default target first" >&2
    exit 1
fi
dir="$WINEPREFIX/drive_c/windows/system32/WindowsPowerShell/v1.0"
mkdir -p "$dir"
cp -f "$exe" "$dir/powershell.exe"
