#!/usr/bin/env bash
# Writes tests/corpus_outputs.sha256: the SHA-256 of the output of every
# corpus file in both forms, as the morvel command at BUILD_DIR writes them.
# The corpus test compares each output with its line here, so a change that
# alters any output byte is seen; a change meant to alter outputs runs this
# again and commits the new list with it.
#
# usage: scripts/corpus-digests.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release}/morvel
corpus=../shared/corpus
[ -x "$bin" ] || { echo "no $bin: build first" >&2; exit 1; }
[ -d "$corpus" ] || { echo "no corpus at $corpus" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for f in "$corpus"/*.pdf; do
  name=$(basename "$f")
  for form in default compact; do
    opt=(); [ $form = compact ] && opt=(--object-streams)
    if "$bin" optimize -q "${opt[@]}" "$f" "$work/out.pdf" 2>/dev/null; then
      echo "$(sha256sum < "$work/out.pdf" | cut -d' ' -f1)  $form/$name"
    fi
    rm -f "$work/out.pdf"
  done
done > tests/corpus_outputs.sha256
echo "$(wc -l < tests/corpus_outputs.sha256) outputs in tests/corpus_outputs.sha256"
