#!/usr/bin/env python3
"""Runs the libFuzzer targets of the fuzz tree.

  run_fuzzer.py test --fuzzer BIN --corpus DIR --seconds N --work DIR --results XML
      One fuzzer for N seconds on a scratch copy (in DIR) of the seed corpus,
      so that the committed seeds never change. Writes a JUnit report with
      one test case, failed with the fuzzer's report when it found a crash,
      and exits non-zero then. An input slower than libFuzzer's slow-unit
      line (10 s) is kept and named but fails only `long`: how slow an input
      runs depends on the machine's load, and make test's result must not.

  run_fuzzer.py long --tree FUZZTREE --seconds N --findings DIR
      Every fuzzer for N seconds, one after another. Each keeps its grown
      corpus and any crashing inputs in DIR/<fuzzer>/, and starts from that
      corpus and the committed seeds. Ends with "N passed, N failed".
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import time
from xml.sax.saxutils import escape, quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
CORPORA = os.path.join(HERE, "corpus")
CRASH_PREFIXES = ("crash-", "leak-", "timeout-", "oom-", "slow-unit-")


def run_fuzzer(fuzzer, seconds, corpus_dirs, artifacts, log_path):
    """Runs one fuzzer; returns (exit code, log text, crashing inputs)."""
    os.makedirs(artifacts, exist_ok=True)
    command = [
        fuzzer,
        f"-max_total_time={seconds}",
        "-timeout=20",          # one input taking longer is a finding
        "-rss_limit_mb=2048",
        "-print_final_stats=1",
        "-print_funcs=0",       # no line per newly covered function
        f"-artifact_prefix={artifacts}{os.sep}",
    ] + corpus_dirs
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "abort_on_error=0:detect_leaks=1")
    env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
    with open(log_path, "w") as log:
        log.write("$ " + " ".join(command) + "\n")
        log.flush()
        code = subprocess.call(command, stdout=log, stderr=subprocess.STDOUT,
                               stdin=subprocess.DEVNULL, env=env)
    with open(log_path, errors="replace") as log:
        text = log.read()
    found = sorted(p for p in glob.glob(os.path.join(artifacts, "*"))
                   if os.path.basename(p).startswith(CRASH_PREFIXES))
    return code, text, found


def summary(name, code, text, found, seconds):
    runs = re.search(r"stat::number_of_executed_units:\s*(\d+)", text)
    size = re.findall(r"#\d+\s+\w+\s+cov: (\d+) ft: (\d+) corp: (\d+)", text)
    parts = [f"{name}: {runs.group(1) if runs else '?'} inputs in {seconds:.0f} s"]
    if size:
        cov, ft, corp = size[-1]
        parts.append(f"coverage {cov}, features {ft}, corpus {corp}")
    if found:
        parts.append("FOUND " + ", ".join(found))
    elif code != 0:
        parts.append(f"FAILED with exit code {code}")
    else:
        parts.append("no crash")
    return "; ".join(parts)


def failure_text(code, text, found):
    # The report is at the end; progress lines ("#123 NEW ...") say nothing.
    lines = [l for l in text.splitlines() if not re.match(r"#\d+\s+(NEW|REDUCE|pulse)", l)]
    tail = lines[-80:]
    head = [f"fuzzer exit code {code}"]
    head += [f"crashing input kept as {p}" for p in found]
    return "\n".join(head + [""] + tail)


def xml_text(text):
    """The text without the characters XML 1.0 cannot carry."""
    return re.sub(r"[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]", "?", text)


def write_report(path, name, seconds, failure):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    failed = 1 if failure is not None else 0
    body = ""
    if failure is not None:
        failure = xml_text(failure)
        message = failure.splitlines()[0] if failure else "failed"
        body = f"<failure message={quoteattr(message)}>{escape(failure)}</failure>"
    with open(path, "w") as report:
        report.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                     f'<testsuites tests="1" failures="{failed}" errors="0">\n'
                     f'  <testsuite name="fuzz" tests="1" failures="{failed}" errors="0">\n'
                     f'    <testcase name={quoteattr(name)} classname="fuzz" '
                     f'time="{seconds:.1f}">{body}</testcase>\n'
                     '  </testsuite>\n</testsuites>\n')


def test_mode(args):
    name = os.path.basename(args.fuzzer)
    shutil.rmtree(args.work, ignore_errors=True)
    corpus = os.path.join(args.work, "corpus")
    shutil.copytree(args.corpus, corpus)
    started = time.monotonic()
    code, text, found = run_fuzzer(args.fuzzer, args.seconds, [corpus],
                                   os.path.join(args.work, "artifacts"),
                                   os.path.join(args.work, "fuzz.log"))
    elapsed = time.monotonic() - started
    slow = [p for p in found if os.path.basename(p).startswith("slow-unit-")]
    found = [p for p in found if p not in slow]
    ok = code == 0 and not found
    failure = None if ok else failure_text(code, text, found)
    write_report(args.results, name, elapsed, failure)
    print(summary(name, code, text, found, elapsed))
    for path in slow:
        print(f"{name}: slow input kept as {path} (not a failure here; make fuzz counts it)")
    if failure is not None:
        print(failure)
    return 0 if ok else 1


def long_mode(args):
    names = sorted(os.listdir(CORPORA))
    passed = failed = 0
    for name in names:
        fuzzer = os.path.join(args.tree, "tests", "fuzz", name)
        if not os.path.exists(fuzzer):
            print(f"{name}: not built in {args.tree}")
            failed += 1
            continue
        kept = os.path.join(args.findings, name)
        corpus = os.path.join(kept, "corpus")
        os.makedirs(corpus, exist_ok=True)
        print(f"{name}: fuzzing for {args.seconds} s ...", flush=True)
        started = time.monotonic()
        code, text, found = run_fuzzer(fuzzer, args.seconds,
                                       [corpus, os.path.join(CORPORA, name)],
                                       kept, os.path.join(kept, "fuzz.log"))
        print(summary(name, code, text, found, time.monotonic() - started), flush=True)
        if code == 0 and not found:
            passed += 1
        else:
            failed += 1
            print(failure_text(code, text, found))
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    modes = parser.add_subparsers(dest="mode", required=True)
    test = modes.add_parser("test")
    test.add_argument("--fuzzer", required=True)
    test.add_argument("--corpus", required=True)
    test.add_argument("--seconds", type=int, required=True)
    test.add_argument("--work", required=True)
    test.add_argument("--results", required=True)
    long = modes.add_parser("long")
    long.add_argument("--tree", required=True)
    long.add_argument("--seconds", type=int, required=True)
    long.add_argument("--findings", required=True)
    args = parser.parse_args()
    return test_mode(args) if args.mode == "test" else long_mode(args)


if __name__ == "__main__":
    sys.exit(main())
