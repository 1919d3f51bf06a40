#!/usr/bin/env bash
# Holds the documentation's other lists to the code they describe, so that
# none goes stale unseen:
#   tests/readme/lists_check.sh environment|programs|variants|links [TOP]
# environment: the project's environment variables (HANDHELD_*, RECORDER_*,
#   MODEL_*, KEEP_*, FUZZ_*) that the program, the tests and the scripts read,
#   against the rows of the documentation's variable tables.
# programs: the build's executables that are not tests, against the
#   README's table of programs.
# variants: the variants ./test.sh accepts, against the README's table of them.
# links: every relative link of README.md and docs/*.md, and every path of
#   the tree a document names in backquotes, exists (a program of the build
#   counts by the folder of its source).
set -euo pipefail
export LC_ALL=C
what=${1:?usage: lists_check.sh environment|programs|variants|links [TOP]}
RECORDER_TOP=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$RECORDER_TOP"
docs=(README.md docs/*.md)

# The lines of one "## " section of the README.
section() { awk -v heading="## $1" '$0 == heading { on = 1; next } /^## / { on = 0 } on' README.md; }
# The words in backquotes of the first column of a markdown table.
first_column() { { grep '^| `' || true; } | cut -d'|' -f2 | { grep -o '`[^`]*`' || true; } | tr -d '`'; }
# The build's executables that are not tests.
programs() {
    # shellcheck disable=SC2046
    sed -n 's/^ *add_executable(\([A-Za-z0-9_.+-]*\).*/\1/p' $(git ls-files '*CMakeLists.txt') |
        grep -vE '_tests?$' || true
}
# The lines of the first sorted list that the second lacks.
missing() { comm -23 <(echo "$1" | sort -u) <(echo "$2" | sort -u) | grep . || true; }

failed=0
# fail_each FILE LIST "MESSAGE WITH %s": one failure for each word of LIST.
fail_each() {
    local word
    for word in $2; do
        # shellcheck disable=SC2059
        echo "$1: $(printf "$3" "$word")" >&2
        failed=1
    done
}

# compare FILE ACTUAL LISTED "WHAT IS MISSING, %s" "WHAT IS LISTED FOR NOTHING, %s"
compare() {
    fail_each "$1" "$(missing "$2" "$3")" "$4"
    fail_each "$1" "$(missing "$3" "$2")" "$5"
}

case "$what" in
environment)
    project='(HANDHELD|RECORDER|MODEL|KEEP|FUZZ)_[A-Z0-9_]+'
    sources=$(git ls-files '*.cpp' '*.h' '*.sh' '*.py' '*.cmake' '*CMakeLists.txt' run.sh test.sh .ci)
    # shellcheck disable=SC2086
    read_by_code=$(
        # C++: getenv("NAME"), and the tests' own readers named Env...("NAME".
        grep -ohE '(getenv|Env[A-Za-z]*)\("'"$project"'"' $sources | grep -oE "$project"
        # Shell: a value taken from the environment, with a default or a test
        # of whether it is set: ${NAME:-...}, ${NAME-...}, ${NAME:+...}.
        grep -ohE '\$\{'"$project"':?[-+=]' $sources | grep -oE "$project"
        # Python: os.environ.get("NAME"), os.environ["NAME"], os.getenv("NAME").
        grep -ohE '(environ\.get\(|environ\[|getenv\()"'"$project"'"' $sources | grep -oE "$project"
        # CMake: $ENV{NAME}.
        grep -ohE '\$ENV\{'"$project"'\}' $sources | grep -oE "$project"
    )
    documented=$(cat "${docs[@]}" | first_column | sed 's/=.*//' | grep -xE "$project" || true)
    compare documentation "$read_by_code" "$documented" \
        "%s is read by the code or the scripts, and no table of variables names it" \
        "a table of variables names %s, which nothing reads"
    ok="every environment variable read is in a table of the documentation, and no other"
    ;;
programs)
    targets=$(programs)
    listed=$(section Build | first_column | sed 's/ .*//; s|.*/||')
    compare README.md "$targets" "$listed" \
        "the build makes the program %s, and the table of programs does not name it" \
        "the table of programs names %s, which the build does not make"
    ok="the README's table of programs matches the build's executables that are not tests"
    ;;
variants)
    # The patterns of test.sh's case on its variants, but the catch-all.
    accepted=$(awk '/case "\$variant" in/ { on = 1; next } on && /esac/ { exit }
        on && /^ *[a-z0-9 |]+\)/ { sub(/\).*/, ""); print }' test.sh | tr '|' '\n' | tr -d ' ')
    listed=$(section Tests | first_column)
    [ -n "$accepted" ] || fail_each test.sh "case" "no %s on the variants found"
    compare README.md "$accepted" "$listed" \
        "./test.sh accepts the variant %s, and the table of variants does not name it" \
        "the table of variants names %s, which ./test.sh does not accept"
    ok="the README's table of variants matches those ./test.sh accepts"
    ;;
links)
    tracked_tops=$(git ls-files | cut -d/ -f1 | sort -u | tr '\n' '|')
    targets=$(programs)
    for doc in "${docs[@]}"; do
        dir=$(dirname "$doc")
        # Markdown links that are not web addresses, without their anchors.
        for target in $(grep -oE '\]\([^)#]+' "$doc" | sed 's/^](//' | grep -v '://' || true); do
            [ -e "$dir/$target" ] || fail_each "$doc" "$target" "the link to %s leads nowhere"
        done
        # Backquoted paths under a folder of the tree, taken up to their first
        # space (a command's arguments) and without a trailing "/".
        for path in $(grep -oE '`[^`]+`' "$doc" | tr -d '`' | cut -d' ' -f1 |
            grep -E "^(${tracked_tops%|})/" | grep -v '[*<>$]' | sed 's|/$||' | sort -u); do
            # A program of the build is named by the folder of its source.
            [ -e "$path" ] || grep -qxF "${path##*/}" <<<"$targets" ||
                fail_each "$doc" "$path" "names %s, which the tree does not hold"
        done
    done
    ok="every link of the documentation resolves, and every path it names is in the tree"
    ;;
*)
    echo "usage: lists_check.sh environment|programs|variants|links [TOP]" >&2
    exit 2
    ;;
esac
[ "$failed" = 0 ] && echo "$ok"
exit "$failed"
