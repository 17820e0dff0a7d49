#!/usr/bin/env bash
# Builds the tool, splits a small sample image in a scratch directory and
# shows what came out.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-sample -DBUILD_TESTING=OFF > /dev/null
cmake --build build-sample --parallel "$(nproc)" --target parse_logo_bin > /dev/null
tool="$PWD/build-sample/parse_logo_bin"

scratch=$(mktemp -d)
cd "$scratch"
# A 16-byte header (the bytes 0x00 to 0x0f) and a 32-byte body of text.
printf '\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f' \
  > logo_no_compressed.bin
printf 'the body of the logo image ....\n' >> logo_no_compressed.bin

echo "== in $scratch, before:"
ls -l
echo "== the tool says (exit status follows):"
"$tool" | cat -A
echo "exit status ${PIPESTATUS[0]}"
echo "== after:"
ls -l
echo "== logo_no_compressed_header.bin:"
od -A d -t x1 logo_no_compressed_header.bin
echo "== logo_no_compressed.bin:"
od -A d -c logo_no_compressed.bin
