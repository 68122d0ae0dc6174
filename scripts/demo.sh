#!/usr/bin/env bash
# The main job on the embedded default: builds Quirnel, makes a demo profile
# in the build tree with a generated sample source store and an empty target,
# and copies one into the other. With a display, the application starts on
# that profile (pick "Sample mail" as source, "Rescued mail" as target, press
# Start); without one, quirnel-copy runs the same copy and prints the log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset normal >/dev/null
cmake --build --preset normal -j "$(nproc)"

bin=build/normal
demo=$bin/demo
if [ ! -x "$bin/copy/quirnel-copy" ] || [ ! -x "$bin/platform/mapi/tools/mapiprofile" ]; then
  echo "quirnel-copy or mapiprofile is missing from the build in $bin." >&2
  exit 1
fi
rm -rf "$demo" && mkdir -p "$demo"
export MAPI_PROFILE="$PWD/$demo/profile.ini"
export XDG_DOCUMENTS_DIR="$PWD/$demo"
"$bin/platform/mapi/tools/mapiprofile" sample "Sample mail" "$demo/sample.qdb" --items 3000 --seed 1
"$bin/platform/mapi/tools/mapiprofile" create "Rescued mail" "$demo/rescued.qdb"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/app/quirnel" ]; then
  exec "$bin/app/quirnel"
fi
"$bin/copy/quirnel-copy" --source "Sample mail" --target "Rescued mail"
echo
echo "The target store now holds:"
"$bin/platform/mapi/tools/mapiprofile" dump "Rescued mail"
echo "(the activity log is also in $demo/quirnel.log)"
