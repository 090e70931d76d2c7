#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file of the project names its licence in its first lines, so that a file copied
# out of the tree still says under which terms. Data (JSON, SVG, images, the fuzz corpus, the
# Wayland protocol we carry under its own licence) is covered by the package's copyright file.
# Usage: licence-headers.sh SOURCE_DIR
set -euo pipefail
cd "$1"
# Outside a git checkout (an unpacked release) there is no list of the project's own files.
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }

sources() {
    git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' file; do
        case $file in
            tests/fuzz/corpus/* | scripts/*.* | scripts/*/*) ;;
            *.cpp | *.h | *.js | *.mjs | *.css | *.py | *.sh | *.cmake | *.html | CMakeLists.txt | \
                */CMakeLists.txt | scripts/* | .ci/run)
                [[ -f $file ]] && printf '%s\0' "$file"
                ;;
        esac
    done
}
missing=$(sources | xargs -0 awk '
    FNR == 1 { if (file != "" && !named) print file; file = FILENAME; named = 0 }
    FNR <= 3 && /SPDX-License-Identifier: GPL-3\.0-or-later/ { named = 1 }
    END { if (file != "" && !named) print file }')
if [[ -n $missing ]]; then
    sed "s/\$/: no 'SPDX-License-Identifier: GPL-3.0-or-later' in its first 3 lines/" <<<"$missing" >&2
    echo "$(wc -l <<<"$missing") files name no licence" >&2
    exit 1
fi
echo "$(sources | tr -cd '\0' | wc -c) source files name their licence"
