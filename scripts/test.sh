#!/usr/bin/env bash
# Builds Quirnel and runs every test: the normal build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build. With --tsan, the
# ThreadSanitizer build of the threaded tests runs as well.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# A compiler cache, where the machine has one, makes a rebuild after a small
# change take seconds; the builds are the same without it.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi

presets=(normal asan)
[ "${1:-}" = "--tsan" ] && presets+=(tsan)

for preset in "${presets[@]}"; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset tests"
  ctest --preset "$preset" -j "$jobs" --timeout 900
done
