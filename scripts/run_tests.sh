#!/usr/bin/env bash
# Builds the project and runs all its tests.
#   SANITIZE=1  build and test under AddressSanitizer and
#               UndefinedBehaviorSanitizer instead, in build-sanitize/
#   CI=true     compiler warnings are errors
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
options=()
if [[ "${SANITIZE:-}" == 1 ]]; then
  build_dir=build-sanitize
  options+=(-DPARSE_LOGO_BIN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
if [[ "${CI:-}" == true ]]; then
  options+=(-DPARSE_LOGO_BIN_WERROR=ON)
fi

cmake -S . -B "$build_dir" "${options[@]}"
cmake --build "$build_dir" --parallel "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"
