#!/usr/bin/env python3
"""The memory of a command and every process below it, sampled while it runs.

Usage: tree_memory.py [--every SECONDS] -- COMMAND [ARGS...]

Every 0.1 s (--every) it walks /proc for the command's process tree (workers, engines and
whatever they start, also in process namespaces of their own, where the host sees them as
ordinary children) and adds up their resident memory (VmRSS) and their proportional share
(Pss of smaps_rollup: pages shared between processes, such as the office suite's libraries,
counted once in all). Prints on standard error the largest sums seen, the largest single
processes by role (the command itself, a worker, an engine: by executable name) and the
command's exit status, which it exits with. A measurement, not a test.
"""
import os
import subprocess
import sys
import time


def children_map():
    kids = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        # The name field may hold spaces and parentheses: the parent follows the last ')'.
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        kids.setdefault(ppid, []).append(int(name))
    return kids


def tree(root):
    kids, found, todo = children_map(), [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo += kids.get(pid, [])
    return found


def field_kb(path, key):
    try:
        with open(path) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def exe_name(pid):
    try:
        return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return "?"


def main():
    args = sys.argv[1:]
    every = 0.1
    if args[:1] == ["--every"]:
        every, args = float(args[1]), args[2:]
    if args[:1] == ["--"]:
        args = args[1:]
    if not args:
        sys.exit(__doc__)
    proc = subprocess.Popen(args)
    peak_rss = peak_pss = samples = 0
    biggest = {}  # role -> largest VmRSS (kB) of one process
    most = 0
    while proc.poll() is None:
        rss = pss = 0
        pids = tree(proc.pid)
        most = max(most, len(pids))
        for pid in pids:
            r = field_kb(f"/proc/{pid}/status", "VmRSS")
            rss += r
            pss += field_kb(f"/proc/{pid}/smaps_rollup", "Pss")
            role = "command" if pid == proc.pid else exe_name(pid)
            biggest[role] = max(biggest.get(role, 0), r)
        peak_rss, peak_pss = max(peak_rss, rss), max(peak_pss, pss)
        samples += 1
        time.sleep(every)
    mb = lambda kb: f"{kb / 1024:.0f} MB"
    print(f"tree_memory: {samples} samples, up to {most} processes; largest sum VmRSS {mb(peak_rss)}, "
          f"Pss {mb(peak_pss)}", file=sys.stderr)
    for role, kb in sorted(biggest.items(), key=lambda x: -x[1]):
        print(f"tree_memory:   largest {role}: {mb(kb)}", file=sys.stderr)
    sys.exit(proc.returncode)


if __name__ == "__main__":
    main()
