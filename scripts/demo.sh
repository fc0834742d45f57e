#!/usr/bin/env bash
# Quillory's main job on the bundled sample site: serves sample/site on two
# loopback origins and prints the page's resource document after the frame
# source filter (every address absolute, with its relative forms).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLORY_BUILD_ROOT:-$root/build-tests}/plain
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target quillory qvtovanix >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/quillory-demo-XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts the site server; prints its port.
serve() { # name, extra args...
  local name=$1; shift
  python3 "$root/tests/servers/site_server.py" --root "$root/sample/site" --lifetime 600 \
    --ignore-stdin "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  for _ in $(seq 1 100); do
    if grep -q '^PORT ' "$work/$name.out" 2>/dev/null; then
      sed -n 's/^PORT //p' "$work/$name.out" | head -n 1
      return 0
    fi
    sleep 0.1
  done
  echo "demo: the sample site server did not start" >&2
  cat "$work/$name.err" >&2
  return 1
}

other=$(serve other)
main=$(serve main --define "OTHER_ORIGIN=http://127.0.0.1:$other")
url="http://127.0.0.1:$main/index.html"
echo "demo: sample site at $url (second origin on port $other)" >&2
"$build/host/quillory" list --filtered "$url"
