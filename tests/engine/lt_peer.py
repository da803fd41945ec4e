#!/usr/bin/python3
"""A libtorrent peer for Zorvik's interop tests and benchmarks (loopback only).

  lt_peer.py make  --out T --dir D --name N --size BYTES [--files a,b,c] --piece BYTES
  lt_peer.py files --torrent T          (the torrent's file paths, in order)
  lt_peer.py seed  --torrent T --save D [--port P] [--portfile F] [--seconds S]
  lt_peer.py get   --torrent T --save D --connect IP:PORT [--timeout S] [--portfile F]

`make` writes random content (one file, or a folder N with files of the given sizes) and a
.torrent for it. `seed` serves it until killed (or S seconds); `get` downloads it from the
given peer and exits 0 once every piece is verified, printing the time it took.
"""
import argparse
import os
import sys
import time

import libtorrent as lt


def session(port):
    s = lt.session({
        'listen_interfaces': '127.0.0.1:%d' % port,
        'enable_dht': False,
        'enable_lsd': False,
        'enable_upnp': False,
        'enable_natpmp': False,
        'enable_outgoing_utp': False,
        'enable_incoming_utp': False,
        'allow_multiple_connections_per_ip': True,
        'alert_mask': lt.alert.category_t.error_notification | lt.alert.category_t.status_notification,
    })
    return s


def add(s, torrent, save, seed):
    params = lt.add_torrent_params()
    params.ti = lt.torrent_info(torrent)
    params.save_path = save
    params.flags &= ~lt.torrent_flags.auto_managed
    params.flags &= ~lt.torrent_flags.paused
    if seed:
        params.flags |= lt.torrent_flags.seed_mode
    return s.add_torrent(params)


def listen_port(s):
    for _ in range(100):
        p = s.listen_port()
        if p:
            return p
        time.sleep(0.05)
    return 0


def write_port(path, port):
    if path:
        with open(path + '.tmp', 'w') as f:
            f.write('%d\n' % port)
        os.rename(path + '.tmp', path)


def make(a):
    os.makedirs(a.dir, exist_ok=True)
    if a.files:
        sizes = [int(x) for x in a.files.split(',')]
        root = os.path.join(a.dir, a.name)
        os.makedirs(root, exist_ok=True)
        for i, size in enumerate(sizes):
            with open(os.path.join(root, 'file%d.bin' % i), 'wb') as f:
                f.write(os.urandom(size))
    else:
        root = os.path.join(a.dir, a.name)
        with open(root, 'wb') as f:
            left = a.size
            while left > 0:
                n = min(left, 1 << 24)
                f.write(os.urandom(n))
                left -= n
    fs = lt.file_storage()
    lt.add_files(fs, root)
    # A plain (version 1) torrent: no padding files between the files.
    ct = lt.create_torrent(fs, a.piece, flags=lt.create_torrent.v1_only)
    ct.add_tracker('http://127.0.0.1:6969/announce')
    lt.set_piece_hashes(ct, a.dir)
    with open(a.out, 'wb') as f:
        f.write(lt.bencode(ct.generate()))
    return 0


def files(a):
    ti = lt.torrent_info(a.torrent)
    for i in range(ti.num_files()):
        print(ti.files().file_path(i))
    return 0


def seed(a):
    s = session(a.port)
    h = add(s, a.torrent, a.save, True)
    write_port(a.portfile, listen_port(s))
    start = time.time()
    while a.seconds <= 0 or time.time() - start < a.seconds:
        time.sleep(0.2)
        for al in s.pop_alerts():
            if isinstance(al, lt.torrent_error_alert):
                print('error:', al.message(), file=sys.stderr)
    return 0


def get(a):
    s = session(a.port)
    h = add(s, a.torrent, a.save, False)
    write_port(a.portfile, listen_port(s))
    host, port = a.connect.rsplit(':', 1)
    start = time.time()
    last_connect = 0
    while time.time() - start < a.timeout:
        st = h.status()
        if st.is_seeding:
            took = time.time() - start
            print('done seconds=%.3f bytes=%d mbps=%.1f' % (took, st.total_wanted, st.total_wanted / took / 1e6))
            sys.stdout.flush()
            return 0
        if st.num_peers == 0 and time.time() - last_connect > 1:
            h.connect_peer((host, int(port)))
            last_connect = time.time()
        time.sleep(0.05)
    print('timeout: progress %.3f peers %d' % (h.status().progress, h.status().num_peers), file=sys.stderr)
    return 1


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('mode', choices=['make', 'files', 'seed', 'get'])
    ap.add_argument('--out')
    ap.add_argument('--dir')
    ap.add_argument('--name', default='payload.bin')
    ap.add_argument('--size', type=int, default=0)
    ap.add_argument('--files')
    ap.add_argument('--piece', type=int, default=65536)
    ap.add_argument('--torrent')
    ap.add_argument('--save')
    ap.add_argument('--port', type=int, default=0)
    ap.add_argument('--portfile')
    ap.add_argument('--seconds', type=float, default=0)
    ap.add_argument('--connect')
    ap.add_argument('--timeout', type=float, default=120)
    a = ap.parse_args()
    return {'make': make, 'files': files, 'seed': seed, 'get': get}[a.mode](a)


if __name__ == '__main__':
    sys.exit(main())
