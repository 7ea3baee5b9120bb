#!/usr/bin/env bash
# Fails, naming each offending line, when a layer reaches one above it: core/ (the program below
# its windows) and textsearch/ but its results panel must not include Qt or the windows (ui/),
# and textsearch/, a library of its own, must include neither the program's core nor its windows.
set -euo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root"

qt='^\s*#\s*include\s*[<"](Qt|Q[A-Z]|q[a-z]+\.h)'
status=0
complain() {  # what is wrong, then the offending lines
    local why="$1" lines="$2"
    if [[ -n "$lines" ]]; then
        printf '%s\n%s\n' "$why" "$lines" >&2
        status=1
    fi
}
sources() { find "$@" -type f \( -name '*.h' -o -name '*.cpp' \) -print0; }

complain "core/ includes Qt:" \
    "$(sources core | xargs -0 grep -HnE "$qt" || true)"
complain "textsearch/ (outside renderpanel/) includes Qt:" \
    "$(sources textsearch -path textsearch/renderpanel -prune -o | xargs -0 grep -HnE "$qt" || true)"
complain "core/ or textsearch/ includes the windows (ui/):" \
    "$(sources core textsearch | xargs -0 grep -HnE '^\s*#\s*include\s*"ui/' || true)"
complain "textsearch/ includes the program's core (core/):" \
    "$(sources textsearch | xargs -0 grep -HnE '^\s*#\s*include\s*"core/' || true)"
exit "$status"
