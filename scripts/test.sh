#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   ASan + UBSan build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then
	build_dir=build-sanitize
	sanitize=ON
fi

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXA_SANITIZE="$sanitize" -DVEXA_WERROR=ON
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
