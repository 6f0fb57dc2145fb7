#!/usr/bin/env python3
"""A setup of the size photo software ships: kvpack (Linux and Windows)
against makensis on the same 1.3 GiB payload, then the setup run under Wine.

    big.py <build root> [--keep] [--rounds N]

Generates <build root>/big/payload (make_big_payload.py, seeded; again only
when the generator changed), puts StageRun.exe and holdproc.exe into its
BASE, then for each of N rounds (default 1) times

  - kvpack setup, the Linux one (<build root>/host), and
  - kvpack.exe setup, the Windows one (<build root>/win64, under Wine),
    both from the launcher stub (<build root>/win), and
  - makensis (zlib, the payload's files below one folder, nothing else),

each with its wall time and peak resident memory (the process's maxrss as
the system reports it when it ends), and checks that both kvpacks wrote the
same bytes; then runs the setup under Wine once (big_run.exe: the
launcher's time to the second stage and its peak working set and private
bytes, and what the second stage found). Prints the figures side by side
with the machine's load. Removes the outputs (not the payload) unless
--keep; rm -r <build root>/big takes everything.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
STAMP = 1136073600


def wine_peak(name):
    """The largest VmHWM (peak resident set) of the running Linux processes
    whose command line holds `name`: a program under Wine runs in a process
    that the wine command starts, not in that command's own."""
    peak = 0
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if name.encode() not in open("/proc/%s/cmdline" % pid, "rb").read():
                continue
            for line in open("/proc/%s/status" % pid):
                if line.startswith("VmHWM:"):
                    peak = max(peak, int(line.split()[1]) * 1024)
        except OSError:
            pass
    return peak


def measure(args, cwd=None, env=None, wine_program=None):
    """(exit code, wall seconds, peak RSS bytes, stderr) of one process; for
    a Windows program (wine_program: its file name) the peak of the process
    Wine runs it in, sampled every 50 ms while it runs."""
    with open(os.devnull, "wb") as null:
        err_file = tempfile.TemporaryFile()
        start = time.perf_counter()
        p = subprocess.Popen(args, cwd=cwd, env=env, stdout=null, stderr=err_file,
                             stdin=subprocess.DEVNULL)
        peak = 0
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid != 0:
                break
            if wine_program:
                peak = max(peak, wine_peak(wine_program))
            time.sleep(0.05)
        wall = time.perf_counter() - start
        err_file.seek(0)
        err = err_file.read().decode(errors="replace")
        code = os.waitstatus_to_exitcode(status)
    return code, wall, peak if wine_program else usage.ru_maxrss * 1024, err


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            b = f.read(1 << 24)
            if not b:
                return h.hexdigest()
            h.update(b)


def payload(root):
    big = os.path.join(root, "big")
    out = os.path.join(big, "payload")
    generator = os.path.join(HERE, "make_big_payload.py")
    digest = hashlib.sha256(open(generator, "rb").read()).hexdigest()
    stamp = os.path.join(big, "payload.stamp")
    if not os.path.exists(stamp) or open(stamp).read() != digest:
        shutil.rmtree(out, ignore_errors=True)
        print("generating the 1.3 GiB payload in %s ..." % out, flush=True)
        subprocess.run([sys.executable, generator, out], check=True)
        open(stamp, "w").write(digest)
    base = os.path.join(out, "BASE")
    os.makedirs(base, exist_ok=True)
    for program in ("StageRun/StageRun.exe", "holdproc/holdproc.exe"):
        src = os.path.join(root, "win", "payload", os.path.basename(program))
        dst = os.path.join(base, os.path.basename(program))
        shutil.copyfile(src, dst)
        os.utime(dst, (STAMP, STAMP))
    return out


def nsis_script(payload, out):
    return "\n".join([
        'Unicode true', 'Name "Big"', 'OutFile "%s"' % out, 'SetCompressor zlib',
        'RequestExecutionLevel user', 'InstallDir "$TEMP\\big"', 'Section',
        'SetOutPath "$INSTDIR"', 'File /r "%s/*.*"' % payload, 'SectionEnd', ''])


def mib(n):
    return "%.0f MiB" % (n / 1048576.0)


def main(argv):
    root = os.path.abspath(argv[1])
    keep = "--keep" in argv
    rounds = int(argv[argv.index("--rounds") + 1]) if "--rounds" in argv else 1
    src = payload(root)
    size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(src) for f in fs)
    work = os.path.join(root, "big", "out")
    os.makedirs(work, exist_ok=True)
    kvpack = os.path.join(root, "host", "tools", "kvpack", "kvpack")
    kvpack_exe = os.path.join(root, "win64", "tools", "kvpack", "kvpack.exe")
    stub = os.path.join(root, "win", "launcher", "Setup-stub.exe")
    env = dict(os.environ, SOURCE_DATE_EPOCH="1234567890")
    linux_exe = os.path.join(work, "BigSetup.exe")
    windows_exe = os.path.join(work, "BigSetup-win.exe")
    nsis_exe = os.path.join(work, "BigNsis.exe")
    nsi = os.path.join(work, "big.nsi")
    open(nsi, "w").write(nsis_script(src, nsis_exe))
    rows = []
    failed = False
    for r in range(rounds):
        load = os.getloadavg()[0]
        for label, args, out in (
                ("kvpack setup (Linux)", [kvpack, "setup", src, "-o", linux_exe, "--stub", stub], linux_exe),
                ("kvpack.exe setup (Windows, Wine)",
                 ["wine", kvpack_exe, "setup", win(src), "-o", win(windows_exe), "--stub", win(stub)],
                 windows_exe),
                ("makensis 3, zlib", ["makensis", "-V1", nsi], nsis_exe)):
            if os.path.exists(out):
                os.remove(out)
            code, wall, rss, err = measure(args, env=env,
                                           wine_program="kvpack.exe" if args[0] == "wine" else None)
            result = os.path.getsize(out) if code == 0 and os.path.exists(out) else 0
            rows.append((label, code, wall, rss, result, load, err.strip().splitlines()[-1:] if code else []))
            failed |= code != 0
        if os.path.exists(linux_exe) and os.path.exists(windows_exe):
            same = sha(linux_exe) == sha(windows_exe)
            print("round %d: Linux and Windows kvpack %s" % (r + 1, "wrote the same bytes" if same else
                                                              "DIFFER"), flush=True)
            failed |= not same
    print("payload: %d bytes (%s) in %s" % (size, mib(size), src))
    print("%-34s %5s %9s %10s %15s %6s" % ("", "exit", "time", "peak RSS", "output bytes", "load"))
    for label, code, wall, rss, result, load, err in rows:
        print("%-34s %5d %8.1fs %10s %15s %6.2f %s" % (label, code, wall, mib(rss),
                                                     "{:,}".format(result), load,
                                                     err[0] if err else ""))
    if os.path.exists(linux_exe):
        runner = os.path.join(root, "win", "bench", "big_run.exe")
        temp = os.path.join(work, "temp")
        shutil.rmtree(temp, ignore_errors=True)
        os.makedirs(temp)
        print("the setup under Wine (load %.2f):" % os.getloadavg()[0], flush=True)
        p = subprocess.run(["wine", runner, win(linux_exe), win(temp) + "\\"],
                           stdin=subprocess.DEVNULL)
        failed |= p.returncode != 0
    if not keep:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
