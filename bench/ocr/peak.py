#!/usr/bin/env python3
"""peak.py NAME COMMAND...: runs the command and prints its wall time, CPU (children's user+system) and
the peak of the summed resident memory of its whole process tree, sampled every 20 ms (ocrmypdf runs
Tesseract in processes of its own, so one process's peak would understate it)."""
import os, resource, subprocess, sys, time

def tree_rss(root):
    parents = {}
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open(f"/proc/{pid}/stat") as f:
                    parents[int(pid)] = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                pass
    total = 0
    for pid in parents:
        p = pid
        while p in parents and p != root and p > 1:
            p = parents[p]
        if p == root:
            try:
                with open(f"/proc/{pid}/statm") as f:
                    total += int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
            except OSError:
                pass
    return total

name, cmd = sys.argv[1], sys.argv[2:]
start = time.monotonic()
proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
peak = 0
while proc.poll() is None:
    peak = max(peak, tree_rss(proc.pid))
    time.sleep(0.02)
wall = time.monotonic() - start
use = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{name}: wall {wall:.2f} s, cpu {use.ru_utime + use.ru_stime:.2f} s, peak {peak / 1048576:.0f} MiB"
      + ("" if proc.returncode == 0 else f", exit {proc.returncode}"))
