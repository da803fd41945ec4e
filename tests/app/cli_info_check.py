#!/usr/bin/python3
"""Cross-checks `zorvik-cli info` against libtorrent's torrent_info.

  cli_info_check.py made CLI WORKDIR   torrents made by mktorrent and libtorrent
  cli_info_check.py corpus CLI FOLDER  every .torrent of the corpus (tests/data/torrents)
"""
import os
import re
import subprocess
import sys

import libtorrent as lt

failures = []


def fail(what):
    failures.append(what)
    print("FAIL:", what, file=sys.stderr)


def run_info(cli, path):
    p = subprocess.run([cli, "info", path], capture_output=True, timeout=20)
    return p.returncode, p.stdout.decode("utf-8", "surrogateescape"), p.stderr.decode("utf-8", "surrogateescape")


def parse_info(out):
    """The fields of `zorvik-cli info` output as a dict."""
    r = {"files": [], "trackers": []}
    for line in out.splitlines():
        m = re.match(r"^(Name|Info-hash|Layout|Piece length|Pieces|Total size|Files|Trackers):\s+(.*)$", line)
        if m:
            key, value = m.group(1), m.group(2)
            if key in ("Piece length", "Total size"):
                value = int(re.match(r"^(\d+) bytes", value).group(1))
            elif key in ("Pieces", "Files", "Trackers"):
                value = int(value)
            r[key] = value
            continue
        m = re.match(r"^  file (\d+): (\d+) bytes.*, first piece (-?\d+), end piece (-?\d+)(, padding)?, path (.*)$", line)
        if m:
            r["files"].append((m.group(6), int(m.group(2)), int(m.group(3)), int(m.group(4))))
            continue
        m = re.match(r"^  tracker \d+: (.*)$", line)
        if m:
            r["trackers"].append(m.group(1))
            continue
        if line.strip():
            fail("unexpected output line: %r" % line)
    return r


def expected_from_libtorrent(path):
    ti = lt.torrent_info(path)
    fs = ti.files()
    pl = ti.piece_length()
    multi = b"files" in lt.bdecode(ti.info_section())
    files = []
    for i in range(fs.num_files()):
        size, off = fs.file_size(i), fs.file_offset(i)
        if multi:
            first, end = off // pl, (off + size) // pl
        else:
            first, end = 0, ti.num_pieces() - 1
        files.append((fs.file_path(i), size, first, end))
    root = lt.bdecode(open(path, "rb").read())
    trackers = []
    if isinstance(root.get(b"announce"), bytes):
        trackers.append(root[b"announce"].decode())
    for tier in root.get(b"announce-list", []):
        trackers.extend(u.decode() for u in tier)
    info = lt.bdecode(ti.info_section())
    return {
        # libtorrent shortens and rewrites odd names; the name as stored is what is shown.
        "Name": info[b"name"].decode("utf-8", "surrogateescape"),
        "Info-hash": str(ti.info_hashes().v1).upper(),
        "Layout": "multi-file" if multi else "single-file",
        "Piece length": pl,
        "Pieces": ti.num_pieces(),
        "Total size": ti.total_size(),
        "Files": fs.num_files(),
        "files": files,
        "Trackers": len(trackers),
        "trackers": trackers,
        "lt_trackers": {t.url for t in ti.trackers()},
    }


def compare(cli, path):
    rc, out, err = run_info(cli, path)
    if rc != 0:
        fail("%s: exit %d: %s" % (path, rc, err.strip()))
        return
    got = parse_info(out)
    want = expected_from_libtorrent(path)
    for key, value in want.items():
        if key == "lt_trackers":
            if set(got["trackers"]) != value:
                fail("%s: trackers %r, libtorrent has %r" % (path, got["trackers"], value))
        elif got.get(key) != value:
            fail("%s: %s is %r, libtorrent says %r" % (path, key, got.get(key), value))


def write_payload(folder, files):
    for rel, size in files:
        full = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(os.urandom(size))


def lt_make(target, piece_length, out, v1_only):
    fs = lt.file_storage()
    lt.add_files(fs, target)
    flags = lt.create_torrent.v1_only if v1_only else 0
    ct = lt.create_torrent(fs, piece_length, flags=flags)
    ct.add_tracker("http://127.0.0.1:6969/announce", 0)
    ct.add_tracker("http://127.0.0.1:6970/announce", 1)
    lt.set_piece_hashes(ct, os.path.dirname(target))
    with open(out, "wb") as f:
        f.write(lt.bencode(ct.generate()))


def made(cli, work):
    k = 16 * 1024
    payloads = {
        # name: files (relative to the top), piece length exponents to try
        "single_short.bin": ([("", 1000)], range(14, 19)),
        "single_exact.bin": ([("", 4 * 32 * k)], [15, 16, 17]),
        "single_big.bin": ([("", 40 * 1024 * k + 7)], [20, 22, 24]),
        "多文件 é": ([("a.txt", 10), ("子目录/b.bin", 3 * k + 1), ("子目录/深/c", 5 * k), ("zero", 0),
                     ("Ünïcödé/ñ.dat", 70000)], [14, 15, 16, 24]),
        "nested": ([("d1/d2/d3/d4/f%d" % i, 997 * i) for i in range(1, 40)], [14, 15, 18, 20]),
        "aligned": ([("p%d" % i, 64 * k) for i in range(8)], [15, 16, 20]),
        "many": ([("dir%d/file%03d" % (i % 7, i), (i * 131) % 5000) for i in range(300)], [14, 17]),
    }
    count = 0
    for name, (files, exponents) in payloads.items():
        src = os.path.join(work, "data")
        os.makedirs(src, exist_ok=True)
        target = os.path.join(src, name)
        if files[0][0] == "":
            write_payload(src, [(name, files[0][1])])
        else:
            write_payload(target, files)
        for e in exponents:
            if e >= 15:
                out = os.path.join(work, "%s.mk%d.torrent" % (name, e))
                subprocess.run(["mktorrent", "-l", str(e), "-a", "http://127.0.0.1:6969/announce",
                                "-a", "http://127.0.0.1:6970/announce", "-o", out, target],
                               check=True, capture_output=True)
                compare(cli, out)
                count += 1
            for v1_only in (True, False):
                out = os.path.join(work, "%s.lt%d%s.torrent" % (name, e, "v1" if v1_only else "hy"))
                lt_make(target, 1 << e, out, v1_only)
                compare(cli, out)
                count += 1
    print("compared %d torrents" % count)
    if count < 50:
        fail("too few torrents compared")


def corpus(cli, folder):
    verdicts = {}
    with open(os.path.join(folder, "expectations.tsv")) as f:
        next(f)
        for line in f:
            cols = line.rstrip("\n").split("\t")
            verdicts[cols[0]] = (cols[2], cols[3])
    # Defects only in the second-version keys, which this client does not read.
    v2_only_defects = {"torrent_inconsistent_files", "torrent_file_parse_failed", "torrent_invalid_piece_layer"}
    accepted = 0
    for dirpath, _, names in os.walk(folder):
        for n in sorted(names):
            if not n.endswith(".torrent"):
                continue
            path = os.path.join(dirpath, n)
            rel = os.path.relpath(path, folder)
            try:
                rc, out, err = run_info(cli, path)
            except subprocess.TimeoutExpired:
                fail("%s: no answer within 20 s" % rel)
                continue
            if rc not in (0, 2):
                fail("%s: exit %d (%s)" % (rel, rc, err.strip()))
                continue
            if rc == 2:
                lines = err.strip().splitlines()
                if len(lines) != 1 or "is not a valid torrent: " not in lines[0]:
                    fail("%s: the failure must be one line saying what is wrong: %r" % (rel, err))
                continue
            accepted += 1
            verdict, error = verdicts.get(rel, ("unknown", ""))
            if verdict == "rejected" and error not in v2_only_defects:
                fail("%s: accepted, but it is malformed (%s)" % (rel, error))
            got = parse_info(out)
            for c in (c for f in got["files"] for c in f[0].split("/")):
                if c in ("", ".", ".."):
                    fail("%s: unsafe path %r" % (rel, c))
            # libtorrent counts a symbolic link entry (attr "l") as 0 bytes whatever its
            # "length"; this client reads every entry as a plain file.
            info = lt.bdecode(lt.torrent_info(path).info_section()) if verdict != "rejected" else {}
            links = any(b"l" in f.get(b"attr", b"") for f in info.get(b"files", []))
            if verdict != "rejected" and not links:
                want = expected_from_libtorrent(path)
                for key in ("Info-hash", "Pieces", "Total size", "Piece length", "Name"):
                    if got.get(key) != want[key]:
                        fail("%s: %s is %r, libtorrent says %r" % (rel, key, got.get(key), want[key]))
    print("accepted %d corpus torrents" % accepted)
    if accepted < 30:
        fail("too few corpus torrents accepted")


if __name__ == "__main__":
    mode, cli, where = sys.argv[1:4]
    (made if mode == "made" else corpus)(cli, where)
    sys.exit(1 if failures else 0)
