#!/usr/bin/env bash
# Download benchmark: `quillory fetch` beside curl and wget, against one
# loopback HTTP server (tests/servers/http_server.py serving files with
# sendfile), in the same run:
#   1. one large file (BENCH_BIG_MB, default 1024 MiB),
#   2. BENCH_SMALL_COUNT small files (default 1000) of BENCH_SMALL_KB KiB
#      (default 16), all URLs in one command: quillory starts one worker per
#      URL, curl runs them in parallel (BENCH_CURL_PARALLEL, default 50, and
#      once with 1000), wget one after the other.
# Prints wall time, CPU time, peak memory and throughput per client, then
# the ratios to curl.
#
# usage: bench/download/run.sh [path/to/quillory]
# Needs about 2 x BENCH_BIG_MB of free space under TMPDIR; everything it
# writes is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
quillory=${1:-$root/build/host/quillory}
big_mb=${BENCH_BIG_MB:-1024}
small_count=${BENCH_SMALL_COUNT:-1000}
small_kb=${BENCH_SMALL_KB:-16}
curl_parallel=${BENCH_CURL_PARALLEL:-50}
python=${QUILLORY_PYTHON:-python3}
[ -x /usr/bin/python3 ] && [ -z "${QUILLORY_PYTHON:-}" ] && python=/usr/bin/python3

[ -x "$quillory" ] || { echo "bench: no quillory at $quillory (build it, or pass its path)" >&2; exit 1; }
command -v curl >/dev/null && command -v wget >/dev/null || { echo "bench: needs curl and wget" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillory-bench-XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  exec 3>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Served files: the big one sparse (no disk, the kernel serves zeros as
# fast as real data), the small ones real.
mkdir -p "$work/srv/small"
truncate -s "${big_mb}M" "$work/srv/big.bin"
for i in $(seq 1 "$small_count"); do
  head -c $((small_kb * 1024)) /dev/urandom > "$work/srv/small/f$i.bin"
done

# The server leaves when its stdin (fd 3's pipe) closes.
exec 3> >(exec "$python" -u "$root/tests/servers/http_server.py" --root "$work/srv" --lifetime 3600 > "$work/port.txt")
server_pid=$!
for _ in $(seq 1 100); do grep -q PORT "$work/port.txt" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/PORT/ {print $2}' "$work/port.txt")
[ -n "$port" ] || { echo "bench: server did not start" >&2; exit 1; }
base="http://127.0.0.1:$port/files"

small_urls=()
for i in $(seq 1 "$small_count"); do small_urls+=("$base/small/f$i.bin"); done
printf '%s\n' "${small_urls[@]}" > "$work/small-urls.txt"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
mkdir -p "$HOME"

measure() { # label outdir -- command...
  local out=$2
  rm -rf "$out"; mkdir -p "$out"
  "$python" "$here/measure.py" "$@" | tee -a "$work/results.txt"
  rm -rf "$out"
}

echo "== one file of ${big_mb} MiB"
measure "quillory fetch" "$work/o" -- "$quillory" fetch -o "$work/o" "$base/big.bin"
measure "curl" "$work/o" -- curl -sS -o "$work/o/big.bin" "$base/big.bin"
measure "wget" "$work/o" -- wget -q -P "$work/o" "$base/big.bin"

echo "== ${small_count} files of ${small_kb} KiB"
measure "quillory fetch (1/URL)" "$work/o" -- "$quillory" fetch -o "$work/o" "${small_urls[@]}"
measure "curl -Z max $curl_parallel" "$work/o" -- curl -sS -Z --parallel-max "$curl_parallel" --output-dir "$work/o" --remote-name-all "${small_urls[@]}"
measure "curl -Z max $small_count" "$work/o" -- curl -sS -Z --parallel-max "$small_count" --output-dir "$work/o" --remote-name-all "${small_urls[@]}"
measure "wget (sequential)" "$work/o" -- wget -q -P "$work/o" -i "$work/small-urls.txt"

echo "== ratios (quillory / curl)"
"$python" - "$work/results.txt" <<'PY'
import re, sys
rows = {}
for line in open(sys.argv[1]):
    m = re.match(r"(.+?)\s+wall\s+([\d.]+) s\s+cpu\s+([\d.]+) s\s+peak\s+([\d.]+) MiB", line)
    if m:
        rows.setdefault(m.group(1).strip(), []).append(tuple(float(x) for x in m.groups()[1:]))
def ratio(a, b, i):
    return rows[a][0][i] / rows[b][0][i] if rows[b][0][i] else float("nan")
for q, c in (("quillory fetch", "curl"), ("quillory fetch (1/URL)", next(k for k in rows if k.startswith("curl -Z max")))):
    if q in rows and c in rows:
        print("%-24s vs %-18s wall x%.2f  cpu x%.2f  peak memory x%.2f" % (q, c, ratio(q, c, 0), ratio(q, c, 1), ratio(q, c, 2)))
PY
