#!/usr/bin/env bash
# Builds the two commands, splits a small sample image in a scratch
# directory, shows what came out, rebuilds the image and checks that it
# matches the original. The scratch directory is removed afterwards, unless
# --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."
keep=false
[[ "${1:-}" == --keep ]] && keep=true

cmake --preset tool > /dev/null
cmake --build --preset tool --parallel "$(nproc)" \
  --target parse_logo_bin rebuild_logo_image > /dev/null
bin="$PWD/build-tool"

scratch=$(mktemp -d)
if [[ $keep == true ]]; then
  trap 'echo "== kept $scratch"' EXIT
else
  trap 'rm -rf "$scratch"' EXIT
fi
cd "$scratch"
# A 16-byte header (the bytes 0x00 to 0x0f) and a 32-byte body of text.
printf '\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f' \
  > logo_no_compressed.bin
printf 'the body of the logo image ....\n' >> logo_no_compressed.bin
cp logo_no_compressed.bin original.bin

echo "== in $scratch, before:"
ls -l
echo "== parse_logo_bin says (exit status follows):"
"$bin/parse_logo_bin" | cat -A
echo "exit status ${PIPESTATUS[0]}"
echo "== after:"
ls -l
echo "== logo_no_compressed_header.bin:"
od -A d -t x1 logo_no_compressed_header.bin
echo "== logo_no_compressed.bin:"
od -A d -c logo_no_compressed.bin
echo "== rebuild_logo_image says (exit status follows):"
"$bin/rebuild_logo_image" | cat -A
echo "exit status ${PIPESTATUS[0]}"
echo "== after:"
ls -l
if cmp -s original.bin logo_no_compressed.bin; then
  echo "== logo_no_compressed.bin matches the original, byte for byte"
else
  echo "== logo_no_compressed.bin differs from the original"
  exit 1
fi
