#!/usr/bin/env bash
# Builds the project and runs all its tests, through the CMake presets.
#   SANITIZE=1  build and test under AddressSanitizer and
#               UndefinedBehaviorSanitizer instead, in build-sanitize/
#   CI=true     compiler warnings are errors
set -euo pipefail
cd "$(dirname "$0")/.."

preset=default
if [[ "${SANITIZE:-}" == 1 ]]; then
  preset=sanitize
fi
options=()
if [[ "${CI:-}" == true ]]; then
  options+=(-DPARSE_LOGO_BIN_WERROR=ON)
fi

cmake --preset "$preset" "${options[@]}"
cmake --build --preset "$preset" --parallel "$(nproc)"
ctest --preset "$preset" --parallel "$(nproc)"
