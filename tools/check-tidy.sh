#!/usr/bin/env bash
# Runs clang-tidy with the committed .clang-tidy over the product's sources (runtime, keys,
# pairing, server, app), every finding an error.
#   bash tools/check-tidy.sh [BUILD_DIR]   (default build/ci: a configured build whose
#                                            compile_commands.json it reads)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages clang-tidy
build_dir="$ROOT/${1:-build/ci}"
[[ -f "$build_dir/compile_commands.json" ]] || { echo "no $build_dir/compile_commands.json" >&2; exit 2; }

echo "== clang-tidy"
# The other platform's files are not in this build's compile commands; Qt's moc output is not ours.
git -C "$ROOT" ls-files -z 'runtime/*.cpp' 'keys/*.cpp' 'pairing/*.cpp' 'server/*.cpp' 'app/*.cpp' |
    grep -zv 'Win\.cpp$' |
    (cd "$ROOT" && xargs -0 -n 4 -P "$(nproc)" clang-tidy -p "$build_dir" --quiet \
        --warnings-as-errors='*' 2> >(grep -Ev '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' >&2))
