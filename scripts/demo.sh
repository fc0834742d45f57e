#!/usr/bin/env bash
# Runs Quillory's main job on the bundled sample site.
set -euo pipefail
echo "demo: the discovery command is not built yet; nothing to run." >&2
exit 1
