#!/usr/bin/env bash
# Runs one fuzz target for a bounded time on a copy of its seed corpus, so
# that what the run adds never lands in the source tree.  Any crash,
# sanitizer report, leak, slow input or memory blow-up (a single allocation
# of over 256 MiB: every seed is tiny) fails; libFuzzer
# keeps the input that did it in the artifact folder.
#   run_fuzz_target.sh <target> <seed folder> <seconds> <artifact folder> [libFuzzer options...]
set -euo pipefail
target=$1 seeds=$2 seconds=$3 artifacts=$4
shift 4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp -r "$seeds"/. "$work/corpus/"
mkdir -p "$artifacts"
# Targets that need scratch files make them here, so they go with the rest.
export TMPDIR="$work"
"$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1 \
  -artifact_prefix="$artifacts/$(basename "$target")-" "$@" "$work/corpus"
