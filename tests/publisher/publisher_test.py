#!/usr/bin/env python3
"""What a publisher does with the bundles, end to end (Linux tree tools,
Windows programs under Wine):

  - both READMEs (the bundle's README.txt, the project's README.md) list
    the exit codes of launcher/exit_codes.h, each described as there;
  - unpack each bundle into an empty folder and build its example payload
    with its own kvpack (the Windows one under Wine): the same bytes twice
    and on both systems; the result runs to the second stage and leaves
    nothing behind;
  - the example second stage runs the cleanup script by the contract and
    writes nothing else;
  - the Linux kvpack needs nothing beyond a bare system's C library;
  - the Windows kvpack finds a name outside the ANSI code page and refuses
    it by name;
  - a built setup signed with osslsigncode verifies, runs, lists and
    verifies with kvpack; one byte flipped inside an archive fails both
    verifications.

    publisher_test.py <junit.xml> <dist dir> <version> <scratch dir>

Writes one JUnit test case per check and exits 1 when one failed.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tarfile
import time
import traceback
import xml.etree.ElementTree as ET
import zipfile

CASES = []


def case(fn):
    CASES.append(fn)
    return fn


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(args, cwd=None, env=None, check=True):
    # Output through files, not pipes: Wine's services inherit the handles
    # of the first program of a session and would hold a pipe open.
    import tempfile
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(args, cwd=cwd, env=env, stdout=out, stderr=err,
                              stdin=subprocess.DEVNULL, timeout=120).returncode
        out.seek(0)
        err.seek(0)
        p = subprocess.CompletedProcess(args, code, out.read(), err.read())
    if check and p.returncode != 0:
        raise AssertionError("%s: exit %d\n%s%s" % (args, p.returncode, p.stdout.decode(errors="replace"),
                                                   p.stderr.decode(errors="replace")))
    return p


def sha(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def run_setup_end_to_end(setup, scratch):
    """Runs a setup under Wine with its own temporary folder: exit 0, and
    the example second stage runs the cleanup script, which leaves the
    temporary folder empty; it records nothing, though the environment
    names a record file as it does for the tests' stand-in."""
    temp = fresh(os.path.join(scratch, "temp"))
    record = os.path.join(scratch, "record.txt")
    if os.path.exists(record):
        os.remove(record)
    # Under Wine every run is elevated and takes the machine's temporary
    # folder, never the user's TMP/TEMP.
    key = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
    for name in ("TMP", "TEMP"):
        run(["wine", "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", win(temp) + "\\", "/f"])
    command = "set KV_STAGERUN_RECORD=%s&& %s" % (win(record), win(setup))
    try:
        p = run(["wine", "cmd", "/c", command], check=False)
    finally:
        for name in ("TMP", "TEMP"):
            run(["wine", "reg", "add", key, "/v", name, "/t", "REG_EXPAND_SZ", "/d",
                 "%SystemRoot%\\temp", "/f"])
    assert p.returncode == 0, "%s exited with %d" % (setup, p.returncode)
    for _ in range(300):
        if not os.listdir(temp):
            break
        time.sleep(0.1)
    assert not os.listdir(temp), "left in the temporary folder: %s" % os.listdir(temp)
    assert not os.path.exists(record), "the example second stage wrote a record"


class Bundles:
    def __init__(self, dist, version, scratch):
        self.top = "kvsetup-%s" % version
        self.linux = fresh(os.path.join(scratch, "linux"))
        self.windows = fresh(os.path.join(scratch, "windows"))
        with tarfile.open(os.path.join(dist, "%s-linux-x86_64.tar.gz" % self.top)) as t:
            t.extractall(self.linux)
        with zipfile.ZipFile(os.path.join(dist, "%s-windows-x86_64.zip" % self.top)) as z:
            z.extractall(self.windows)
        self.scratch = scratch
        self.linux_dir = os.path.join(self.linux, self.top)
        self.windows_dir = os.path.join(self.windows, self.top)
        # zipfile keeps no times or modes: the example gets the tar's times
        # (the same in both bundles), kvpack its execute bit.
        for root, _, names in os.walk(os.path.join(self.linux_dir, "example")):
            for n in names:
                src = os.path.join(root, n)
                dst = os.path.join(self.windows_dir, os.path.relpath(src, self.linux_dir))
                st = os.stat(src)
                os.utime(dst, (st.st_mtime, st.st_mtime))
        self.kvpack = os.path.join(self.linux_dir, "kvpack")


@case
def each_bundle_holds_one_folder_with_kvpack_the_stub_the_example_and_the_readme(b):
    assert sorted(os.listdir(b.linux)) == [b.top]
    assert sorted(os.listdir(b.windows)) == [b.top]
    common = ["README.txt", "Setup-stub.exe", "THIRD-PARTY.txt", "example"]
    assert sorted(os.listdir(b.linux_dir)) == sorted(common + ["kvpack"]), os.listdir(b.linux_dir)
    assert sorted(os.listdir(b.windows_dir)) == sorted(common + ["kvpack.exe"])
    for d in (b.linux_dir, b.windows_dir):
        for stand_in in ("StageRun.exe", "holdproc.exe"):
            assert os.path.isfile(os.path.join(d, "example", "BASE", stand_in))
        # The example second stage, not the recording stand-in of the tests.
        stage = open(os.path.join(d, "example", "BASE", "StageRun.exe"), "rb").read()
        assert b"KV_STAGERUN_RECORD" not in stage
    readme = open(os.path.join(b.linux_dir, "README.txt")).read()
    for text in ("osslsigncode sign", "signtool sign", "--splash", "Exit codes of kvpack"):
        assert text in readme, text


SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def plain(text):
    """Text as it reads: without markdown quotes, blanks and line breaks collapsed."""
    return " ".join(text.replace("`", "").split())


def header_exit_codes(text):
    """{code: key clause} from exit_codes.h: each enumerator's comment (with
    the comment lines under it) up to its first "(" or ";"."""
    codes, current = {}, None
    for line in text.splitlines():
        m = re.match(r"\s*kExit\w+\s*=\s*(\d+),\s*//\s*(.*)", line)
        if m:
            current = int(m.group(1))
            codes[current] = m.group(2)
        elif current is not None and re.match(r"\s+//", line):
            codes[current] += " " + line.strip()[2:].strip()
        else:
            current = None
    return {code: plain(re.split(r"\(|;", comment)[0]) for code, comment in codes.items()}


def readme_md_exit_codes(text):
    """{code: description} from the table under "## Exit codes" of README.md."""
    section = text.split("\n## Exit codes\n", 1)[1].split("\n## ", 1)[0]
    return {int(m.group(1)): plain(m.group(2))
            for m in re.finditer(r"^\| (\d+) \| (.*) \|$", section, re.M)}


def readme_txt_exit_codes(text):
    """{code: description} from "Exit codes of Setup.exe" of the publishers'
    README: a line "    N   text", continued by lines indented further."""
    section = text.replace("\r\n", "\n").split("Exit codes of Setup.exe", 1)[1].split("\n\n", 2)[1]
    codes, current = {}, None
    for line in section.splitlines():
        m = re.match(r"    (\d+)\s+(\S.*)", line)
        if m:
            current = int(m.group(1))
            codes[current] = m.group(2)
        elif current is not None and line.startswith("        "):
            codes[current] += " " + line.strip()
    return {code: plain(description) for code, description in codes.items()}


@case
def both_readmes_list_the_exit_codes_of_the_header_as_the_header_describes_them(b):
    header = header_exit_codes(open(os.path.join(SOURCE, "launcher", "exit_codes.h")).read())
    assert sorted(header) == list(range(len(header))) and len(header) >= 15, header
    readmes = {
        "README.md": readme_md_exit_codes(open(os.path.join(SOURCE, "README.md")).read()),
        "README.txt (bundle)": readme_txt_exit_codes(open(os.path.join(b.linux_dir, "README.txt")).read()),
    }
    for name, listed in readmes.items():
        assert sorted(listed) == sorted(header), "%s lists %s, exit_codes.h %s" % (
            name, sorted(listed), sorted(header))
        for code, clause in header.items():
            assert clause in listed[code], "%s, code %d: %r does not say %r" % (
                name, code, listed[code], clause)


@case
def the_example_second_stage_runs_the_first_cleanup_script_by_the_contract_and_writes_nothing_else(b):
    """The bundle's StageRun.exe, started with two ResourceFile= and two
    CleanUp= pairs, runs the first script only, with the system folder's cmd
    (a ComSpec of the user's names none), its process id as the argument,
    no delayed expansion, in the Windows folder; it reads no record file
    from the environment and writes nothing. (Wine's cmd reads neither
    AutoRun nor DelayedExpansion from the registry, so /d and /v:off are
    looked for in the program itself.)"""
    d = fresh(os.path.join(b.scratch, "contract"))
    stage = os.path.join(b.windows_dir, "example", "BASE", "StageRun.exe")
    stage_bytes = open(stage, "rb").read()
    assert "/d /v:off /c".encode("utf-16-le") in stage_bytes
    assert b"KV_STAGERUN" not in stage_bytes
    seen, other = os.path.join(d, "seen.txt"), os.path.join(d, "second.txt")
    with open(os.path.join(d, "first.bat"), "w", newline="") as f:
        f.write('@echo off\r\nset KVX=1\r\n>"%s" echo [!KVX!] [%%1] [%%CD%%]\r\n' % win(seen))
    with open(os.path.join(d, "second.bat"), "w", newline="") as f:
        f.write('@echo off\r\n>"%s" echo second\r\n' % win(other))
    with open(os.path.join(d, "go.bat"), "w", newline="") as f:
        f.write('@echo off\r\nset KV_STAGERUN_RECORD=%s\r\nset ComSpec=%s\r\n'
                '"%s" KVSetup SetupProgram=VIVivir Wnd=Normal Server=None Wnd=Maximized '
                'ResourceFile="%s" CleanUp="%s" ResourceFile="%s" CleanUp="%s"\r\n'
                % (win(os.path.join(d, "record.txt")), win(os.path.join(d, "none.exe")),
                   win(stage), win(stage), win(os.path.join(d, "first.bat")),
                   win(os.path.join(d, "second.bat")), win(os.path.join(d, "second.bat"))))
    example_before = sorted(os.walk(os.path.join(b.windows_dir, "example")))
    run(["wine", "cmd", "/c", win(os.path.join(d, "go.bat"))])
    for _ in range(300):
        if os.path.exists(seen) and open(seen, "rb").read().endswith(b"\r\n"):
            break
        time.sleep(0.1)
    assert os.path.exists(seen), "the first script did not run"
    line = open(seen, "rb").read().decode("latin-1").strip()
    marks = line.split("] [")
    assert marks[0] == "[!KVX!", line
    assert marks[1].isdigit(), line
    assert marks[2].rstrip("]").lower() in ("c:\\windows", "c:\\windows\\"), line
    assert not os.path.exists(other), "the second CleanUp= ran"
    assert sorted(os.listdir(d)) == ["first.bat", "go.bat", "second.bat", "seen.txt"], os.listdir(d)
    assert sorted(os.walk(os.path.join(b.windows_dir, "example"))) == example_before


@case
def the_linux_kvpack_needs_only_the_c_library(b):
    out = run(["readelf", "-d", b.kvpack]).stdout.decode()
    needed = sorted(line.split("[")[1].split("]")[0] for line in out.splitlines() if "(NEEDED)" in line)
    allowed = {"libc.so.6", "libm.so.6", "libz.so.1", "ld-linux-x86-64.so.2"}
    assert set(needed) <= allowed, needed


@case
def the_linux_kvpack_builds_the_example_reproducibly_and_it_runs(b):
    a = os.path.join(b.scratch, "a.exe")
    other = fresh(os.path.join(b.scratch, "elsewhere"))
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    run([b.kvpack, "setup", os.path.join(b.linux_dir, "example"), "-o", a], env=env)
    run([os.path.relpath(b.kvpack, other), "setup", os.path.relpath(os.path.join(b.linux_dir, "example"), other),
         "-o", "b.exe"], cwd=other, env=env)
    assert sha(a) == sha(os.path.join(other, "b.exe"))
    run_setup_end_to_end(a, b.scratch)


@case
def the_windows_kvpack_builds_the_same_bytes_and_they_run(b):
    linux_made = os.path.join(b.scratch, "linux-made.exe")
    windows_made = os.path.join(b.scratch, "windows-made.exe")
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    env_epoch = dict(env, SOURCE_DATE_EPOCH="1234567890")
    run([b.kvpack, "setup", os.path.join(b.linux_dir, "example"), "-o", linux_made], env=env_epoch)
    p = run(["wine", os.path.join(b.windows_dir, "kvpack.exe"), "setup",
             win(os.path.join(b.windows_dir, "example")), "-o", win(windows_made)], env=env_epoch)
    assert b"4 archives" in p.stdout or b"archives" in p.stdout, p.stdout
    assert sha(linux_made) == sha(windows_made), "Linux and Windows builds differ"
    run_setup_end_to_end(windows_made, b.scratch)


@case
def the_windows_kvpack_refuses_a_name_outside_the_ansi_code_page_by_name(b):
    payload = fresh(os.path.join(b.scratch, "unicode-payload"))
    shutil.copytree(os.path.join(b.windows_dir, "example", "BASE"), os.path.join(payload, "BASE"))
    name = "\u041e\u0442\u0447\u0451\u0442.txt"  # Cyrillic: no Windows-1252 form, no ANSI one here
    open(os.path.join(payload, "BASE", name), "w").write("report\r\n")
    out = os.path.join(b.scratch, "unicode.exe")
    open(out, "wb").write(b"previous")
    p = run(["wine", os.path.join(b.windows_dir, "kvpack.exe"), "setup", win(payload), "-o", win(out)],
            check=False)
    err = p.stderr.decode("utf-8", errors="replace")
    assert p.returncode == 1, (p.returncode, err)
    assert name in err and "Windows-1252" in err, err
    assert open(out, "rb").read() == b"previous"


@case
def a_signed_setup_verifies_runs_and_lists_and_a_flipped_byte_fails_both_checks(b):
    d = fresh(os.path.join(b.scratch, "signing"))
    key, cert = os.path.join(d, "key.pem"), os.path.join(d, "cert.pem")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
         "-days", "2", "-subj", "/CN=Kalvora Test Publisher",
         "-addext", "extendedKeyUsage=codeSigning"])
    unsigned = os.path.join(d, "Setup.exe")
    signed = os.path.join(d, "Setup-signed.exe")
    run([b.kvpack, "setup", os.path.join(b.linux_dir, "example"), "-o", unsigned,
         "--description", "Kalvora Test Setup", "--version", "1.0.0.0"])
    run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Kalvora Test Setup",
         "-in", unsigned, "-out", signed])
    run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed])
    # Both kvpacks: the Windows one reads each entry through a view of its own.
    kvpacks = (([b.kvpack], lambda path: path),
               (["wine", os.path.join(b.windows_dir, "kvpack.exe")], win))
    run([b.kvpack, "list", signed])
    for kvpack, name in kvpacks:
        run(kvpack + ["verify", name(signed)])
    run_setup_end_to_end(signed, d)

    # One byte in the middle of the first entry of BASE, found through its
    # directory: the record of StageRun.exe (name length 12), the first one.
    data = bytearray(open(signed, "rb").read())
    record = data.find(b"\x0cStageRun.exe")
    assert record > 0
    count = int.from_bytes(data[record - 4:record], "little")
    at, end = record, 0
    for _ in range(count):
        n = data[at]
        offset, length = (int.from_bytes(data[at + 1 + n + k:at + 5 + n + k], "little") for k in (0, 4))
        end = max(end, offset + length)
        at += 25 + n
    archive = record - 4 - end
    assert int.from_bytes(data[archive:archive + 4], "little") == end
    first_length = int.from_bytes(data[record + 17:record + 21], "little")
    data[archive + 4 + first_length // 2] ^= 0x10
    flipped = os.path.join(d, "Setup-flipped.exe")
    open(flipped, "wb").write(bytes(data))
    p = run(["osslsigncode", "verify", "-CAfile", cert, "-in", flipped], check=False)
    assert p.returncode != 0, "osslsigncode accepted a changed file"
    for kvpack, name in kvpacks:
        p = run(kvpack + ["verify", name(flipped)], check=False)
        assert p.returncode == 1, p.stdout + p.stderr
        assert b"StageRun.exe" in p.stderr, p.stderr


def main(argv):
    results, dist, version, scratch = argv[1:5]
    fresh(scratch)
    suite = ET.Element("testsuite", name="publisher_test")
    failed = 0
    try:
        bundles = Bundles(dist, version, scratch)
    except Exception:
        bundles = None
        setup_error = traceback.format_exc()
    for fn in CASES:
        started = time.time()
        tc = ET.SubElement(suite, "testcase", name=fn.__name__, classname="Publisher")
        try:
            if bundles is None:
                raise AssertionError("the bundles could not be unpacked:\n" + setup_error)
            fn(bundles)
            print("[       OK ] %s" % fn.__name__)
        except Exception:
            failed += 1
            text = traceback.format_exc()
            ET.SubElement(tc, "failure", message=text.splitlines()[-1]).text = text
            print("[  FAILED  ] %s\n%s" % (fn.__name__, text))
        tc.set("time", "%.3f" % (time.time() - started))
    suite.set("tests", str(len(CASES)))
    suite.set("failures", str(failed))
    root = ET.Element("testsuites")
    root.append(suite)
    ET.ElementTree(root).write(results)
    if failed == 0:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
