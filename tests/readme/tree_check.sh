#!/usr/bin/env bash
# Holds the README's dependency list to what the scripts install, and the
# layout (docs/layout.md) to the folders of the tree, so that neither goes
# stale unseen.
#   tests/readme/tree_check.sh [TOP]
# Outside a git checkout there is no telling the tree from a build's leftovers:
# the check is skipped with status 77.
set -euo pipefail
export LC_ALL=C
RECORDER_TOP=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
readme="$RECORDER_TOP/README.md"
layout="$RECORDER_TOP/docs/layout.md"
. "$RECORDER_TOP/scripts/dependencies.sh"

# The lines of one "## " section of the README.
section() { awk -v heading="## $1" '$0 == heading { on = 1; next } /^## / { on = 0 } on' "$readme"; }
# The words in backquotes that can be package names: no capitals, no slashes.
packages() { { grep -o '`[a-z0-9][a-z0-9.+-]*`' || true; } | tr -d '`' | sort -u; }

# The lines of the first sorted list that the second lacks.
missing() { comm -23 <(echo "$1") <(echo "$2") | grep . || true; }

failed=0
# fail [FILE:] MESSAGE; the README when no file is named
fail() {
    local file=README.md
    case "$1" in *.md:) file=${1%:} && shift ;; esac
    echo "$file: $*" >&2
    failed=1
}
# One failure for each word of a list: fail_each [FILE:] LIST "MESSAGE WITH %s"
fail_each() {
    local file=README.md: word
    case "$1" in *.md:) file=$1 && shift ;; esac
    for word in $1; do
        # shellcheck disable=SC2059
        fail "$file" "$(printf "$2" "$word")"
    done
}

dependencies=$(section Dependencies)
[ -n "$dependencies" ] || fail "no section \"## Dependencies\""
installed=$(for package in $RECORDER_PACKAGES $(recorder_cross_packages armel armhf arm64 board); do
    echo "$package"
done | sort -u)
listed=$(sed '/^Optional/,$d' <<<"$dependencies" | packages)
optional=$(sed -n '/^Optional/,$p' <<<"$dependencies" | packages)
fail_each "$(missing "$installed" "$listed")" "the scripts install %s, the dependency list does not name it"
fail_each "$(missing "$listed" "$installed")" \
    "the dependency list names %s, which no script installs (is it optional?)"
fail_each "$(comm -12 <(echo "$optional") <(echo "$installed"))" \
    "%s is listed as optional, but the scripts install it"

if ! git -C "$RECORDER_TOP" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "skipped: not a git checkout, so the layout cannot be told from a build's files"
    [ "$failed" = 0 ] || exit 1
    exit 77
fi
# Every folder of the tree two levels deep, against the first column of the
# layout's block, which comes before the layout's first "## " section.
folders=$(git -C "$RECORDER_TOP" ls-files | grep / | cut -d/ -f1-2 | while read -r path; do
    [ -d "$RECORDER_TOP/$path" ] && echo "$path" || dirname "$path"
done | sort -u)
[ -f "$layout" ] || fail docs/layout.md: "missing"
described=$(awk '/^## /{exit} 1' "$layout" 2>/dev/null |
    sed -n 's|^    \([.a-z0-9_-][.a-z0-9_/-]*\)/ .*|\1|p' | sort -u)
fail_each docs/layout.md: "$(missing "$folders" "$described")" "the layout does not describe %s/"
fail_each docs/layout.md: "$(missing "$described" "$folders")" \
    "the layout describes %s/, which the tree does not hold"

[ "$failed" = 0 ] && echo "the README's dependency list and the layout match the scripts and the tree"
exit "$failed"
