"""Three scripted HTTP trackers on 127.0.0.1 for the slow-tracker test (run inside the
sandbox's network namespace):
  slow      answers 200 with a chunked body sent at 4 bytes per second, for ever;
  good      answers at once with one compact peer (the address given) and logs
            "good asked after MS ms" (milliseconds since the slow one was first asked);
  refusing  answers with a failure reason that carries an escape sequence.
usage: scripted_trackers.py PEER_IP:PORT
Prints "ready SLOW_URL GOOD_URL REFUSING_URL" once all three listen.
"""
import socket
import struct
import sys
import threading
import time

peer_ip, peer_port = sys.argv[1].split(":")
compact = socket.inet_aton(peer_ip) + struct.pack(">H", int(peer_port))
first_slow = [None]


def listener():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(16)
    return s


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def slow(conn):
    read_head(conn)
    if first_slow[0] is None:
        first_slow[0] = time.monotonic()
    conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
    body = b"d8:intervali1800e5:peers" + b"l" * 100000
    for i in range(0, len(body), 4):
        piece = body[i:i + 4]
        conn.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
        time.sleep(1)


def good(conn):
    read_head(conn)
    since = time.monotonic() - first_slow[0] if first_slow[0] is not None else -1
    print("good asked after %d ms" % (since * 1000), flush=True)
    body = b"d8:intervali1800e5:peers6:" + compact + b"e"
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s" % (len(body), body))


def refusing(conn):
    read_head(conn)
    reason = b"torrent not registered \x1b[31m\x07"
    body = b"d14:failure reason%d:%se" % (len(reason), reason)
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s" % (len(body), body))


def serve(sock, handler):
    while True:
        conn, _ = sock.accept()

        def run(c=conn):
            try:
                handler(c)
            except OSError:
                pass
            finally:
                c.close()

        threading.Thread(target=run, daemon=True).start()


socks = [(listener(), h) for h in (slow, good, refusing)]
for s, h in socks:
    threading.Thread(target=serve, args=(s, h), daemon=True).start()
print("ready " + " ".join("http://127.0.0.1:%d/announce" % s.getsockname()[1] for s, _ in socks), flush=True)
while True:
    time.sleep(1)
