#!/usr/bin/env bash
# Discovery benchmark: `quillory list` (the static page loader, the
# extractors and the resource document) beside `wget -p` fetching the same
# page's requisites from the same loopback server, in the same run, for
#   1. the bundled sample site (frames, two origins, every kind of resource),
#   2. a generated large page: BENCH_ELEMENTS elements (default 5000) and
#      BENCH_PICTURES distinct pictures (default 400), a stylesheet and a script.
# Prints wall time, CPU time and peak memory per client, then the ratios.
#
# usage: bench/discovery/run.sh [path/to/quillory]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
quillory=${1:-$root/build-tests/plain/host/quillory}
elements=${BENCH_ELEMENTS:-5000}
pictures=${BENCH_PICTURES:-400}
python=${QUILLORY_PYTHON:-python3}
[ -x /usr/bin/python3 ] && [ -z "${QUILLORY_PYTHON:-}" ] && python=/usr/bin/python3

[ -x "$quillory" ] || { echo "bench: no quillory at $quillory (build it, or pass its path)" >&2; exit 1; }
command -v wget >/dev/null || { echo "bench: needs wget" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillory-bench-discovery-XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

serve() { # name root [extra args]; prints the port
  local name=$1 dir=$2; shift 2
  "$python" -u "$root/tests/servers/site_server.py" --root "$dir" --lifetime 1800 --ignore-stdin "$@" \
    >"$work/$name.port" 2>"$work/$name.err" &
  pids+=($!)
  for _ in $(seq 1 100); do grep -q '^PORT' "$work/$name.port" 2>/dev/null && break; sleep 0.1; done
  awk '/^PORT/ {print $2; exit}' "$work/$name.port"
}

# The generated page: nested sections of paragraphs and links, and
# pictures that are distinct files, so neither client can reuse a fetch.
mkdir -p "$work/big/img"
gif="$root/sample/site/images/logo.gif"
for i in $(seq 1 "$pictures"); do cp "$gif" "$work/big/img/p$i.gif"; done
printf 'body { margin: 0 }\n' > "$work/big/style.css"
printf 'var loaded = true;\n' > "$work/big/app.js"
"$python" - "$work/big/index.html" "$elements" "$pictures" <<'PY'
import sys
path, elements, pictures = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
out = ['<!doctype html><html><head><meta charset="utf-8"><title>large</title>',
       '<link rel="stylesheet" href="style.css"><script src="app.js"></script></head><body>']
n = 0
while n < elements:
    out.append('<section class="s%d"><h2>Section %d</h2><p>Text <a href="#a%d">link</a> <em>more</em></p></section>' % (n, n, n))
    n += 6
for i in range(1, pictures + 1):
    out.append('<img src="img/p%d.gif" alt="p%d">' % (i, i))
out.append('</body></html>')
open(path, "w").write("\n".join(out))
PY

other=$(serve other "$root/sample/site")
sample=$(serve sample "$root/sample/site" --define "OTHER_ORIGIN=http://127.0.0.1:$other")
big=$(serve big "$work/big")
[ -n "$other" ] && [ -n "$sample" ] && [ -n "$big" ] || { echo "bench: a server did not start" >&2; cat "$work"/*.err >&2; exit 1; }

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" XDG_CACHE_HOME="$work/home/cache"
mkdir -p "$HOME"

measure() { # label outdir -- command...
  local out=$2
  rm -rf "$out"; mkdir -p "$out"
  "$python" "$root/bench/download/measure.py" "$@" | tee -a "$work/results.txt"
  rm -rf "$out"
}

for round in 1 2 3; do
  echo "== round $round: sample site (frames, two origins)"
  measure "quillory list (sample)" "$work/o" -- "$quillory" list "http://127.0.0.1:$sample/index.html"
  measure "wget -p (sample)" "$work/o" -- wget -q -p -H -P "$work/o" "http://127.0.0.1:$sample/index.html"
  echo "== round $round: generated page ($elements elements, $pictures pictures)"
  measure "quillory list (large)" "$work/o" -- "$quillory" list "http://127.0.0.1:$big/index.html"
  measure "wget -p (large)" "$work/o" -- wget -q -p -P "$work/o" "http://127.0.0.1:$big/index.html"
done

echo "== medians and ratios (quillory / wget)"
"$python" - "$work/results.txt" <<'PY'
import re, statistics, sys
rows = {}
for line in open(sys.argv[1]):
    m = re.match(r"(.+?)\s+wall\s+([\d.]+) s\s+cpu\s+([\d.]+) s\s+peak\s+([\d.]+) MiB", line)
    if m:
        rows.setdefault(m.group(1).strip(), []).append([float(x) for x in m.groups()[1:]])
med = {k: [statistics.median(v[i] for v in rows[k]) for i in range(3)] for k in rows}
for k, (w, c, p) in med.items():
    print("%-24s wall %6.2f s  cpu %6.2f s  peak %6.1f MiB" % (k, w, c, p))
for case in ("sample", "large"):
    q, g = "quillory list (%s)" % case, "wget -p (%s)" % case
    if q in med and g in med:
        r = [med[q][i] / med[g][i] if med[g][i] else float("nan") for i in range(3)]
        print("%-6s quillory/wget: wall x%.2f  cpu x%.2f  peak memory x%.2f" % (case, r[0], r[1], r[2]))
PY
