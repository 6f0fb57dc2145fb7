#!/usr/bin/env python3
"""Writes the publishers' bundles.

    make_bundles.py <out-dir> <version> <kvpack> <kvpack.exe> <Setup-stub.exe>
                    <StageRun.exe> <holdproc.exe> <example payload dir> <README>
                    <THIRD-PARTY template> <libdeflate COPYING>

<out-dir>/kvsetup-<version>-linux-x86_64.tar.gz and
<out-dir>/kvsetup-<version>-windows-x86_64.zip, each one folder kvsetup-<version>/
with kvpack (kvpack.exe), Setup-stub.exe, example/ (the example payload with
the example second stage, which runs the cleanup script and records
nothing, as StageRun.exe, and holdproc.exe in BASE), README.txt and
THIRD-PARTY.txt (the template with libdeflate's COPYING in its place). The
archives hold fixed times (SOURCE_DATE_EPOCH, else the stub's) and no user
names, so the same inputs give the same bundles. Standard library only.
"""
import io
import os
import sys
import tarfile
import zipfile


def files_of(example):
    out = []
    for root, dirs, names in os.walk(example):
        dirs.sort()
        for n in sorted(names):
            path = os.path.join(root, n)
            out.append((os.path.relpath(path, example).replace(os.sep, "/"), path))
    return out


def contents(source):
    """The bytes of a bundle entry: given as they are, or a file's."""
    return source if isinstance(source, bytes) else open(source, "rb").read()


def main(argv):
    out, version, kvpack, kvpack_exe, stub, stagerun, holdproc, example, readme = argv[1:10]
    notices_template, libdeflate_copying = argv[10:12]
    top = "kvsetup-%s" % version
    stamp = int(os.environ.get("SOURCE_DATE_EPOCH") or os.stat(stub).st_mtime)
    example_files = [("example/" + rel, path, False) for rel, path in files_of(example)]
    example_files += [("example/BASE/StageRun.exe", stagerun, False),
                      ("example/BASE/holdproc.exe", holdproc, False)]
    notices = open(notices_template, encoding="utf-8").read().replace(
        "@LIBDEFLATE_COPYING@", open(libdeflate_copying, encoding="utf-8").read().strip())
    notices = notices.encode("utf-8")
    common = [("Setup-stub.exe", stub, False), ("README.txt", readme, False),
              ("THIRD-PARTY.txt", notices, False)] + example_files
    os.makedirs(out, exist_ok=True)

    linux = [("kvpack", kvpack, True)] + common
    tar_path = os.path.join(out, "%s-linux-x86_64.tar.gz" % top)
    with open(tar_path + ".tmp", "wb") as raw:
        # gzip header without a time or a name of its own
        import gzip
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=stamp) as gz:
            with tarfile.open(fileobj=gz, mode="w", format=tarfile.USTAR_FORMAT) as tar:
                folders = sorted({top} | {"%s/%s" % (top, os.path.dirname(n)) for n, _, _ in linux
                                          if os.path.dirname(n)} |
                                 {"%s/%s" % (top, "/".join(n.split("/")[:k]))
                                  for n, _, _ in linux for k in range(1, n.count("/"))})
                for d in folders:
                    info = tarfile.TarInfo(d)
                    info.type = tarfile.DIRTYPE
                    info.mode = 0o755
                    info.mtime = stamp
                    tar.addfile(info)
                for name, path, executable in sorted(linux):
                    data = contents(path)
                    info = tarfile.TarInfo("%s/%s" % (top, name))
                    info.size = len(data)
                    info.mode = 0o755 if executable else 0o644
                    info.mtime = stamp
                    tar.addfile(info, io.BytesIO(data))
    os.replace(tar_path + ".tmp", tar_path)

    windows = [("kvpack.exe", kvpack_exe, True)] + common
    zip_path = os.path.join(out, "%s-windows-x86_64.zip" % top)
    import time
    date = time.gmtime(max(stamp, 315532800))[:6]
    with zipfile.ZipFile(zip_path + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
        for name, path, _ in sorted(windows):
            info = zipfile.ZipInfo("%s/%s" % (top, name), date_time=date)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            data = contents(path)
            if name in ("README.txt", "THIRD-PARTY.txt"):
                data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
            z.writestr(info, data)
    os.replace(zip_path + ".tmp", zip_path)
    print(tar_path)
    print(zip_path)


if __name__ == "__main__":
    main(sys.argv)
