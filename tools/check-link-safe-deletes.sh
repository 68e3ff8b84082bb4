#!/usr/bin/env bash
# Fails when a product source outside the POSIX file backend names remove_all. On Windows
# remove_all follows a directory link and deletes what it points to, so every tree delete
# goes through remove_tree (src/file_util), whose POSIX backend alone may use it.
#   tools/check-link-safe-deletes.sh [REPOSITORY]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
allowed=src/file_util/native_file_posix.cpp
cd "$root"
test -f "$allowed" || { echo "the POSIX file backend $allowed is gone; update this check" >&2; exit 1; }

found=0
while IFS= read -r -d '' file; do
    [ "$file" = "$allowed" ] && continue
    # Comments may name it; code may not, in any spelling (std::filesystem::, fs::, a using).
    hits=$(awk '
        {
            line = $0; code = ""
            while (line != "") {
                if (in_block) {
                    end = index(line, "*/"); if (!end) { line = ""; break }
                    line = substr(line, end + 2); in_block = 0
                } else {
                    start = index(line, "/*"); slash = index(line, "//")
                    if (slash && (!start || slash < start)) { code = code substr(line, 1, slash - 1); line = "" }
                    else if (start) { code = code substr(line, 1, start - 1) " "; line = substr(line, start + 2); in_block = 1 }
                    else { code = code line; line = "" }
                }
            }
            if (code ~ /(^|[^A-Za-z0-9_])remove_all([^A-Za-z0-9_]|$)/) print FILENAME ":" FNR ": " $0
        }' "$file")
    if [ -n "$hits" ]; then
        echo "$hits"
        found=1
    fi
done < <(find src -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.inl' -o -name '*.in' \) -print0)

if [ "$found" -ne 0 ]; then
    echo "remove_all outside $allowed: delete trees with remove_tree (file_util/file_util.h)." >&2
    exit 1
fi
