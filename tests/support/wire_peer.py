"""A scripted BitTorrent peer for the script tests, speaking the wire protocol itself (no
library), so a test decides exactly which bytes travel and in which bursts. Run with
/usr/bin/python3 inside the sandbox's network namespace; it listens on 127.0.0.1 only.

usage:
  wire_peer.py seed FILE.torrent DATA_DIR PORT [--mix] [--limit N] [--host ADDR]
                [--corrupt] [--delay S]
      serves every piece of a single-file torrent to each peer that connects. Blocks go
      out in bursts of 1 to 9 per write. With --mix, every burst also carries one short
      message (keep-alive, choke then unchoke, unchoke, interested, not interested, have,
      request, cancel, bitfield) in front of, between or behind its blocks, so that over a
      transfer every kind lands at every position of a run of reads. --limit stops serving
      after N connections ended. --host listens on another loopback address (a host of its
      own), --corrupt flips a byte in every block it sends, --delay listens only after S
      seconds. Prints "serving PORT" once it listens, "connected" when a peer connects and
      "ended BLOCKS" (the blocks sent) when a connection ends.
  wire_peer.py flood FILE.torrent HOST PORT COUNT [--from ADDR]...
      opens COUNT connections to HOST:PORT, spread over the given source addresses
      (default 127.0.0.2), each sending a valid handshake and then nothing; prints
      "flooded N" once all are made (N connected), then holds them until killed.
  wire_peer.py slow-leech FILE.torrent HOST PORT SECONDS [--every S]
      connects, says interested and asks for one block every S seconds (default 1) for
      SECONDS; prints "served N" and exits 0 when the connection stayed open, 1 when the
      other side closed it (with the second it happened).
"""
import os
import socket
import struct
import sys
import threading
import time

import libtorrent as lt

BLOCK = 16384
KEEP_ALIVE, CHOKE, UNCHOKE, INTERESTED, NOT_INTERESTED, HAVE, BITFIELD, REQUEST, PIECE, CANCEL = (
    -1, 0, 1, 2, 3, 4, 5, 6, 7, 8)


class torrent:
    def __init__(self, path):
        info = lt.torrent_info(path)
        self.info_hash = bytes.fromhex(str(info.info_hashes().v1))
        self.piece_length = info.piece_length()
        self.pieces = info.num_pieces()
        self.size = info.total_size()
        self.name = info.files().file_path(0)

    def bitfield(self):
        bits = bytearray((self.pieces + 7) // 8)
        for i in range(self.pieces):
            bits[i // 8] |= 0x80 >> (i % 8)
        return bytes(bits)


def message(mid, payload=b""):
    if mid == KEEP_ALIVE:
        return b"\0\0\0\0"
    return struct.pack(">IB", len(payload) + 1, mid) + payload


def handshake(info_hash, peer_id):
    return b"\x13BitTorrent protocol" + b"\0" * 8 + info_hash + peer_id


def read_exact(sock, n):
    out = bytearray()
    while len(out) < n:
        chunk = sock.recv(n - len(out))
        if not chunk:
            raise EOFError
        out += chunk
    return bytes(out)


class reader:
    """Splits the bytes a socket delivers into messages, without blocking the writer."""

    def __init__(self, sock):
        self.sock, self.buf = sock, bytearray()

    def messages(self, block):
        self.sock.setblocking(block)
        try:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError
            self.buf += chunk
        except BlockingIOError:
            pass
        finally:
            self.sock.setblocking(True)
        out = []
        while len(self.buf) >= 4:
            n = struct.unpack(">I", self.buf[:4])[0]
            if len(self.buf) < 4 + n:
                break
            body = bytes(self.buf[4:4 + n])
            del self.buf[:4 + n]
            out.append((body[0], body[1:]) if n else (KEEP_ALIVE, b""))
        return out


# The short messages a mixed burst carries, in turn. A choke comes with its unchoke.
def short_kinds(t):
    req = struct.pack(">III", 0, 0, BLOCK)
    return [
        [message(KEEP_ALIVE)],
        [message(CHOKE), message(UNCHOKE)],
        [message(UNCHOKE)],
        [message(INTERESTED)],
        [message(NOT_INTERESTED)],
        [message(HAVE, struct.pack(">I", t.pieces - 1))],
        [message(REQUEST, req)],
        [message(CANCEL, req)],
        [message(BITFIELD, t.bitfield())],
    ]


def serve(conn, t, data, mix, corrupt=False, sent=None):
    hs = read_exact(conn, 68)
    if hs[28:48] != t.info_hash:
        return
    conn.sendall(handshake(t.info_hash, b"-WP0001-" + os.urandom(12)))
    conn.sendall(message(BITFIELD, t.bitfield()) + message(UNCHOKE))
    rd = reader(conn)
    queue = []
    kinds = short_kinds(t)
    combos = [(k, n, pos) for k in range(len(kinds)) for n in range(1, 10) for pos in range(n + 1)]
    burst_no = 0
    while True:
        for mid, payload in rd.messages(block=not queue):
            if mid == REQUEST:
                queue.append(struct.unpack(">III", payload))
            elif mid == CANCEL:
                r = struct.unpack(">III", payload)
                if r in queue:
                    queue.remove(r)
        if not queue:
            continue
        # Bursts of 1..9 blocks; with --mix each kind of short message goes once at every
        # position of every burst length, kind after kind.
        kind, n, pos = combos[burst_no % len(combos)]
        if not mix:
            n = 1 + burst_no % 9
        blocks = []
        while queue and len(blocks) < n:
            index, begin, length = queue.pop(0)
            at = index * t.piece_length + begin
            block = data[at:at + length]
            if corrupt:
                block = bytes([block[0] ^ 0xFF]) + block[1:]
            blocks.append(message(PIECE, struct.pack(">II", index, begin) + block))
            if sent is not None:
                sent[0] += 1
        parts = blocks
        if mix:
            kind = kinds[kind]
            pos = min(pos, len(blocks))
            if kind[0] == message(CHOKE):
                # Every request held is void now, the blocks behind the choke included;
                # what is asked after the unchoke is served (requests that crossed the
                # choke on the wire too, as a real seeder would).
                blocks = blocks[:pos]
                queue.clear()
            parts = blocks[:pos] + kind + blocks[pos:]
        conn.sendall(b"".join(parts))
        burst_no += 1


def seed(args):
    path, folder, port = args[0], args[1], int(args[2])
    mix = "--mix" in args
    corrupt = "--corrupt" in args
    limit = int(args[args.index("--limit") + 1]) if "--limit" in args else 0
    host = args[args.index("--host") + 1] if "--host" in args else "127.0.0.1"
    if "--delay" in args:
        time.sleep(float(args[args.index("--delay") + 1]))
    t = torrent(path)
    with open(os.path.join(folder, t.name), "rb") as f:
        data = f.read()
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((host, port))
    srv.listen(16)
    print("serving %d" % port, flush=True)
    ended = [0]

    def run(conn):
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sent = [0]
        print("connected", flush=True)
        try:
            serve(conn, t, data, mix, corrupt, sent)
        except (EOFError, OSError):
            pass
        finally:
            conn.close()
            print("ended %d" % sent[0], flush=True)
            ended[0] += 1

    while limit == 0 or ended[0] < limit:
        srv.settimeout(0.5)
        try:
            conn, _ = srv.accept()
        except socket.timeout:
            continue
        threading.Thread(target=run, args=(conn,), daemon=True).start()


def slow_leech(args):
    path, host, port, seconds = args[0], args[1], int(args[2]), float(args[3])
    every = float(args[args.index("--every") + 1]) if "--every" in args else 1.0
    t = torrent(path)
    conn = socket.create_connection((host, port), timeout=10)
    conn.sendall(handshake(t.info_hash, b"-WP0001-" + os.urandom(12)))
    if read_exact(conn, 68)[28:48] != t.info_hash:
        sys.exit("wrong torrent")
    conn.sendall(message(INTERESTED))
    rd = reader(conn)
    start = time.monotonic()
    next_ask, served, unchoked, block_no = 0.0, 0, False, 0
    blocks_per_piece = (t.piece_length + BLOCK - 1) // BLOCK
    try:
        while time.monotonic() - start < seconds:
            for mid, payload in rd.messages(block=False):
                if mid == UNCHOKE:
                    unchoked = True
                elif mid == CHOKE:
                    unchoked = False
                elif mid == PIECE:
                    served += 1
            now = time.monotonic() - start
            if unchoked and now >= next_ask:
                piece = (block_no // blocks_per_piece) % t.pieces
                begin = (block_no % blocks_per_piece) * BLOCK
                length = min(BLOCK, t.piece_length - begin, t.size - piece * t.piece_length - begin)
                if length > 0:
                    conn.sendall(message(REQUEST, struct.pack(">III", piece, begin, length)))
                block_no += 1
                next_ask = now + every
            time.sleep(0.05)
    except (EOFError, OSError):
        print("closed after %.1f s, served %d" % (time.monotonic() - start, served), flush=True)
        return 1
    print("served %d" % served, flush=True)
    return 0


def flood(args):
    import resource
    path, host, port, count = args[0], args[1], int(args[2]), int(args[3])
    sources = [args[i + 1] for i, a in enumerate(args) if a == "--from"] or ["127.0.0.2"]
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    t = torrent(path)
    held, made = [], 0
    for i in range(count):
        s = socket.socket()
        try:
            s.bind((sources[i % len(sources)], 0))
            s.settimeout(5)
            s.connect((host, port))
            s.sendall(handshake(t.info_hash, b"-FL0001-" + os.urandom(12)))
            made += 1
        except OSError:
            s.close()
            continue
        held.append(s)
    print("flooded %d" % made, flush=True)
    while True:
        time.sleep(1)


def main():
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "seed":
        seed(args)
        return 0
    if cmd == "flood":
        flood(args)
        return 0
    if cmd == "slow-leech":
        return slow_leech(args)
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
