#!/usr/bin/env bash
# The main job on the embedded default: builds Quirnel, makes a demo profile
# in the build tree with a generated sample source store and an empty target,
# and copies one into the other, printing the activity log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset normal >/dev/null
cmake --build --preset normal -j "$(nproc)"

bin=build/normal
demo=$bin/demo
if [ ! -x "$bin/copy/quirnel-copy" ] || [ ! -x "$bin/platform/mapi/tools/mapiprofile" ]; then
  echo "The copy engine is not yet available in this build." >&2
  exit 1
fi
rm -rf "$demo" && mkdir -p "$demo"
export MAPI_PROFILE="$PWD/$demo/profile.ini"
export XDG_DOCUMENTS_DIR="$PWD/$demo"
"$bin/platform/mapi/tools/mapiprofile" sample "Sample mail" "$demo/sample.qdb" --items 3000 --seed 1
"$bin/platform/mapi/tools/mapiprofile" create "Rescued mail" "$demo/rescued.qdb"
"$bin/copy/quirnel-copy" --source "Sample mail" --target "Rescued mail"
echo
"$bin/platform/mapi/tools/mapiprofile" dump "Rescued mail"
