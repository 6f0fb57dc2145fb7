#!/usr/bin/env python3
"""Counts what one run of a program asks of the system under Wine: the
Wine server requests (from the trace of a wineserver started with -d1)
and the Linux system calls (from strace -ff) of the program's own threads,
by kind.

    count_calls.py [--report] <folder> <tag>=<program.exe> ...

The folder holds server.log (the server's trace), strace-<tag>.<tid>
(strace's files) and temp-<tag>/record.txt (what StageRun.exe found) for
each run; each <tag>=<program> names one run, in the order they were made.
Prints tab-separated lines "tag  what  kind  count  until-launch", where
`what` is "request" or "syscall" and `until-launch` counts requests up to
the moment the program asks for StageRun.exe to be started (the
benchmark's stop time). With --report and the tags that bench/count-calls
uses (launcher, launcher-fixed, reference, reference-fixed, baseline) it
prints the per-entry and fixed-cost tables instead. Standard library only.
"""
import collections
import os
import re
import sys

REQUEST = re.compile(r"^([0-9a-f]{4}): (\w+)\( ")
REPLY = re.compile(r"^([0-9a-f]{4}): (\w+)\(\) = \w+ \{(.*)\}\s*$")
FIELD = re.compile(r"(\w+)=([^,}]*)")
SYSCALL = re.compile(r"^(?:\d+\s+)?(\w+)\(")


def fields(text):
    return dict(FIELD.findall(text))


def scan_server_log(path, programs):
    """Per program (in order of appearance): its threads' unix ids and its
    requests by kind, in total and until its StageRun.exe launch."""
    runs = []                      # dicts, one per program run found
    pending = {}                   # new_process requester tid -> program name
    pid_of_run = {}                # Wine pid -> run
    tid_to_run = {}                # Wine tid -> run
    unix_pid_to_run = {}
    first_thread = {}              # tid -> unix ids of its init_first_thread
    queue = list(programs)
    with open(path, "rb") as f:
        for raw in f:
            line = raw.replace(b"\0", b"").decode("utf-8", "replace")
            m = REQUEST.match(line)
            if m:
                tid, name = m.groups()
                if name == "new_process" and queue:
                    image = re.search(r'imagepath=L"([^"]*)"', line)
                    if image and image.group(1).lower().endswith(queue[0].lower()):
                        pending[tid] = queue.pop(0)
                if name == "init_first_thread":
                    args = fields(line)
                    first_thread[tid] = (args.get("unix_pid"), args.get("unix_tid"))
                if name == "init_thread":
                    args = fields(line)
                    run = unix_pid_to_run.get(args.get("unix_pid"))
                    if run is not None:
                        tid_to_run[tid] = run
                        run["unix_tids"].add(args.get("unix_tid"))
                run = tid_to_run.get(tid)
                if run is not None:
                    run["requests"][name] += 1
                    if not run["launched"]:
                        run["until_launch"][name] += 1
                        if name == "new_process" and "StageRun.exe" in line:
                            run["launched"] = True
                continue
            m = REPLY.match(line)
            if not m:
                continue
            tid, name, body = m.groups()
            if name == "new_process" and tid in pending:
                reply = fields(body)
                run = {"program": pending.pop(tid), "unix_tids": set(), "launched": False,
                       "requests": collections.Counter(),
                       "until_launch": collections.Counter()}
                runs.append(run)
                pid_of_run[reply.get("pid")] = run
            elif name == "init_first_thread":
                reply = fields(body)
                run = pid_of_run.get(reply.get("pid"))
                if run is not None and tid in first_thread:
                    unix_pid, unix_tid = first_thread[tid]
                    tid_to_run[tid] = run
                    unix_pid_to_run[unix_pid] = run
                    run["unix_tids"].add(unix_tid)
                    # the request itself came before the thread was known
                    run["requests"][name] += 1
                    run["until_launch"][name] += 1
    return runs


def count_syscalls(prefix, unix_tids):
    """System calls by kind of the given threads, from strace -ff files."""
    calls = collections.Counter()
    for tid in unix_tids:
        path = f"{prefix}.{tid}"
        if not os.path.exists(path):
            continue
        with open(path, errors="replace") as f:
            for line in f:
                m = SYSCALL.match(line)
                if m and not line.startswith("<..."):
                    calls[m.group(1)] += 1
    return calls


def files_found(folder, tag):
    path = os.path.join(folder, f"temp-{tag}", "record.txt")
    with open(path, errors="replace") as f:
        return sum(1 for line in f if line.startswith("File="))


def print_table(title, columns, rows, digits):
    print(f"\n{title}")
    print(f"  {'kind':<28}" + "".join(f"{c:>12}" for c in columns))
    for kind, values in rows:
        print(f"  {kind:<28}" + "".join(f"{v:>12.{digits}f}" for v in values))


def per_entry_rows(counts, launcher, launcher_fixed, reference, reference_fixed, n_l, n_r,
                   minimum):
    kinds = set(counts[launcher]) | set(counts[reference])
    rows = []
    for kind in kinds:
        l = (counts[launcher][kind] - counts[launcher_fixed][kind]) / n_l
        r = (counts[reference][kind] - counts[reference_fixed][kind]) / n_r
        if abs(l) >= minimum or abs(r) >= minimum:
            rows.append((kind, (l, r, l - r)))
    rows.sort(key=lambda row: -abs(row[1][2]))
    total = [sum(v[i] for _, v in rows) for i in range(3)]
    return rows + [("all of the above", tuple(total))]


def report(folder, runs):
    by_tag = {run["tag"]: run for run in runs}
    need = ["launcher", "launcher-fixed", "reference", "reference-fixed", "baseline"]
    if any(t not in by_tag for t in need):
        print("count_calls: --report needs the tags " + ", ".join(need), file=sys.stderr)
        return 2
    added_l = files_found(folder, "launcher") - files_found(folder, "launcher-fixed")
    added_r = files_found(folder, "reference") - files_found(folder, "reference-fixed")
    requests = {t: by_tag[t]["requests"] for t in need}
    syscalls = {t: by_tag[t]["syscalls"] for t in need}
    print(f"Entries added by the small-files payload: launcher {added_l}, reference {added_r}")
    print_table("Wine server requests per entry (whole run; small-files less StageRun-only)",
                ["launcher", "reference", "extra"],
                per_entry_rows(requests, "launcher", "launcher-fixed", "reference",
                               "reference-fixed", added_l, added_r, 0.005), 2)
    print_table("Linux system calls per entry (whole run; small-files less StageRun-only)",
                ["launcher", "reference", "extra"],
                per_entry_rows(syscalls, "launcher", "launcher-fixed", "reference",
                               "reference-fixed", added_l, added_r, 0.05), 2)

    fixed = by_tag["launcher-fixed"]["until_launch"]
    base = by_tag["baseline"]["until_launch"]
    rows = [(k, (fixed[k], base[k], fixed[k] - base[k])) for k in set(fixed) | set(base)
            if fixed[k] != base[k]]
    rows.sort(key=lambda row: -abs(row[1][2]))
    rows.append(("all requests", (sum(fixed.values()), sum(base.values()),
                                  sum(fixed.values()) - sum(base.values()))))
    print_table("Fixed cost: Wine server requests until the launch, StageRun only "
                "(kinds that differ)", ["launcher", "baseline", "extra"], rows, 0)
    fixed_s = syscalls["launcher-fixed"]
    base_s = syscalls["baseline"]
    rows = [(k, (fixed_s[k], base_s[k], fixed_s[k] - base_s[k])) for k in set(fixed_s) | set(base_s)
            if abs(fixed_s[k] - base_s[k]) >= 10]
    rows.sort(key=lambda row: -abs(row[1][2]))
    rows.append(("all system calls", (sum(fixed_s.values()), sum(base_s.values()),
                                      sum(fixed_s.values()) - sum(base_s.values()))))
    print_table("Fixed cost: Linux system calls of the whole run, StageRun only "
                "(kinds that differ by 10 or more)", ["launcher", "baseline", "extra"], rows, 0)
    return 0


def main(argv):
    args = argv[1:]
    want_report = bool(args) and args[0] == "--report"
    if want_report:
        args = args[1:]
    if len(args) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = args[0]
    tags, programs = [], []
    for item in args[1:]:
        tag, _, program = item.partition("=")
        tags.append(tag)
        programs.append(program)
    log = os.path.join(folder, "server.log")
    runs = scan_server_log(log, programs)
    if len(runs) != len(programs):
        print(f"count_calls: found {len(runs)} of {len(programs)} runs in {log}", file=sys.stderr)
        return 1
    for tag, run in zip(tags, runs):
        run["tag"] = tag
        # Counted for the whole run only: strace's files carry no mark of
        # the launch.
        run["syscalls"] = count_syscalls(os.path.join(folder, f"strace-{tag}"), run["unix_tids"])
    if want_report:
        return report(folder, runs)
    for run in runs:
        for kind, n in sorted(run["requests"].items()):
            print(f"{run['tag']}\trequest\t{kind}\t{n}\t{run['until_launch'][kind]}")
        for kind, n in sorted(run["syscalls"].items()):
            print(f"{run['tag']}\tsyscall\t{kind}\t{n}\t{n}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
