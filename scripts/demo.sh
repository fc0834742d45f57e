#!/usr/bin/env bash
# Quillory's main job on the bundled sample site: builds the program and
# runs `quillory demo`, which serves sample/site on two loopback origins,
# grabs it (the dialog in your browser when there is a display, the
# terminal progress table otherwise) and prints where the files went.
# Extra arguments go to `quillory demo` (e.g. --batch, -o DIR).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLORY_BUILD_ROOT:-$root/build-tests}/plain
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target quillory qvtovanix >/dev/null

QUILLORY_SAMPLE_SITE="$root/sample/site" exec "$build/host/quillory" demo "$@"
