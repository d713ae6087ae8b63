#!/usr/bin/env python3
"""Extraction speed per compression method, ours beside bsdtar and 7z.

A copy of /usr/include (without its symbolic links) is archived once per method: by 7z for Deflate,
Deflate64, bzip2, LZMA and xz, and for zstd (which no tool here writes into
ZIP) by this script through libzstd. Each archive is then extracted by
velmora-cli, `bsdtar -x` and `7z x` in turn, the tools alternating within
every run so that a busy machine weighs on all of them alike. Prints the
median wall and CPU seconds of each; asserts nothing.

    bench/zip_methods.py path/to/velmora-cli [runs]     (default 5 runs)
    VZ_BENCH_DIR=/path   scratch folder (default: a new folder in /dev/shm)
"""

import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import struct
import zlib


def zstd_archive(source, archive):
    """Every file of source as a zstd member (method 93), written by hand."""
    lib = ctypes.CDLL("libzstd.so.1")
    lib.ZSTD_compressBound.restype = ctypes.c_size_t
    lib.ZSTD_compress.restype = ctypes.c_size_t
    with open(archive, "wb") as out:
        central = b""
        count = 0
        for root, _, files in os.walk(source):
            for name in sorted(files):
                path = os.path.join(root, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                data = open(path, "rb").read()
                bound = lib.ZSTD_compressBound(len(data))
                buf = ctypes.create_string_buffer(bound)
                size = lib.ZSTD_compress(buf, bound, data, len(data), 3)
                packed = buf.raw[:size]
                member = os.path.relpath(path, source).encode()
                crc = zlib.crc32(data)
                offset = out.tell()
                fixed = (0x04034B50, 63, 0x800, 93, 0, 0x21, crc, len(packed), len(data), len(member), 0)
                out.write(struct.pack("<IHHHHHIIIHH", *fixed) + member + packed)
                central += struct.pack(
                    "<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 63, 0x800, 93, 0, 0x21, crc, len(packed),
                    len(data), len(member), 0, 0, 0, 0, 0o100644 << 16, offset) + member
                count += 1
        start = out.tell()
        out.write(central)
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), start, 0))


def timed(command):
    """Wall and CPU seconds (user + system of the child) of one command."""
    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        return None  # the tool can't read this method (bsdtar and Deflate64)
    return wall, usage.ru_utime + usage.ru_stime


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    cli = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    scratch = os.environ.get("VZ_BENCH_DIR") or tempfile.mkdtemp(prefix="vz_methods_", dir="/dev/shm")
    os.makedirs(scratch, exist_ok=True)
    source = os.path.join(scratch, "include")
    if not os.path.isdir(source):
        subprocess.run(["cp", "-r", "/usr/include", source], check=True)
        # Links leading out of the tree refuse the whole archive here, by design.
        subprocess.run(["find", source, "-type", "l", "-delete"], check=True)

    methods = ["Deflate", "Deflate64", "BZip2", "LZMA", "XZ", "zstd"]
    for method in methods:
        archive = os.path.join(scratch, method + ".zip")
        if os.path.exists(archive):
            continue
        if method == "zstd":
            zstd_archive(source, archive)
        else:
            subprocess.run(["7z", "a", "-tzip", "-mm=" + method, "-bd", archive, "."], cwd=source, check=True,
                           stdout=subprocess.DEVNULL)

    out = os.path.join(scratch, "out")
    tools = {
        "velmora": lambda a: [cli, "unzip", "-t", out, a],
        "bsdtar -x": lambda a: ["bsdtar", "-x", "-f", a, "-C", out],
        "7z x": lambda a: ["7z", "x", "-tzip", "-y", "-bd", "-o" + out, a],
    }
    print(f"scratch folder {scratch}, medians of {runs} runs, /usr/include archived per method\n")
    print(f"{'method':<10} {'tool':<10} {'wall s':>8} {'cpu s':>8} {'archive bytes':>14}")
    for method in methods:
        archive = os.path.join(scratch, method + ".zip")
        times = {tool: [] for tool in tools}
        for _ in range(runs):
            for tool, command in tools.items():
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                os.sync()
                times[tool].append(timed(command(archive)))
        for tool in tools:
            if None in times[tool]:
                print(f"{method:<10} {tool:<10} {'fails':>8} {'':>8} {os.path.getsize(archive):14d}")
                continue
            wall = statistics.median(t[0] for t in times[tool])
            cpu = statistics.median(t[1] for t in times[tool])
            print(f"{method:<10} {tool:<10} {wall:8.2f} {cpu:8.2f} {os.path.getsize(archive):14d}")
    shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
