#!/usr/bin/env bash
# Checks the built LV2 bundle as hosts see it: its descriptions validate
# against the LV2 specification, every plug-in is listed, and one file renders
# through each of them with lv2apply. Any error fails.
#   scripts/check_lv2.sh [build directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bundle=$build/lv2/quor.lv2
work=$build/lv2-check
rm -rf "$work" && mkdir -p "$work"

if ! lv2_validate "$bundle"/*.ttl > "$work/validate.log" 2>&1; then
  cat "$work/validate.log" >&2
  echo "lv2_validate found errors in $bundle" >&2
  exit 1
fi
grep -E '^Found' "$work/validate.log"

exported=$(nm -D --defined-only "$bundle/quor.so" | awk '{print $3}')
if [ "$exported" != lv2_descriptor ]; then
  echo "quor.so exports more than lv2_descriptor:" $exported >&2
  exit 1
fi

export LV2_PATH=$PWD/$build/lv2
mapfile -t uris < <(lv2ls | grep '^urn:mornvale:quor:')
described=$(grep -c 'a lv2:Plugin' "$bundle/manifest.ttl")
if [ "${#uris[@]}" -ne "$described" ]; then
  echo "lv2ls lists ${#uris[@]} Quor plug-ins, the manifest describes $described" >&2
  exit 1
fi

"$build/tests/quor_lv2_test_signal" "$work/in.wav"
for uri in "${uris[@]}"; do
  if ! lv2apply -i "$work/in.wav" -o "$work/${uri##*:}.wav" "$uri" 2> "$work/lv2apply.log" ||
    [ -s "$work/lv2apply.log" ]; then
    cat "$work/lv2apply.log" >&2
    echo "lv2apply failed on $uri" >&2
    exit 1
  fi
done
echo "lv2apply rendered $work/in.wav through ${#uris[@]} plug-ins"
