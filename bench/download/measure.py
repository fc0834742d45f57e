#!/usr/bin/env python3
"""Runs one command and prints: label, wall seconds, CPU seconds (user+sys),
peak resident memory (MiB), bytes downloaded, throughput (MiB/s), exit code.

usage: measure.py LABEL OUTDIR -- COMMAND...
OUTDIR is measured after the run (total size of the files in it)."""
import os
import subprocess
import sys
import time


def tree_size(path):
    total = 0
    for base, _, files in os.walk(path):
        for f in files:
            try:
                total += os.path.getsize(os.path.join(base, f))
            except OSError:
                pass
    return total


def main():
    label, outdir = sys.argv[1], sys.argv[2]
    cmd = sys.argv[sys.argv.index("--") + 1:]
    start = time.monotonic()
    with open(os.devnull, "wb") as null:
        proc = subprocess.Popen(cmd, stdout=null, stderr=null, stdin=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    size = tree_size(outdir)
    cpu = usage.ru_utime + usage.ru_stime
    code = os.waitstatus_to_exitcode(status)
    print("%-28s wall %7.2f s  cpu %7.2f s  peak %7.1f MiB  got %8.1f MiB  %8.1f MiB/s  exit %d"
          % (label, wall, cpu, usage.ru_maxrss / 1024.0, size / 1048576.0, size / 1048576.0 / wall, code),
          flush=True)


if __name__ == "__main__":
    main()
