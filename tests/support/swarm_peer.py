"""libtorrent peers for the swarm tests. Run with /usr/bin/python3 inside the sandbox's
network namespace: every session listens on 127.0.0.1 only, with no DHT, local peer
discovery, UPnP or NAT-PMP, TCP only, and several connections per address allowed (every
peer of a test shares 127.0.0.1).

usage:
  swarm_peer.py make ROOT OUT.torrent PIECE_SIZE [TRACKER_URL]
      makes a v1 torrent of a file or folder; prints the info-hash (40 hex digits)
  swarm_peer.py infohash FILE.torrent
  swarm_peer.py seed FILE.torrent SAVE_DIR PORT [--peer IP:PORT]... [--check | --resume FILE]
               [--upload-limit BYTES_PER_S]
      seeds until killed; prints "seeding" once it serves, and "uploaded BYTES" as its
      payload upload grows. The data is trusted and each
      piece hashed when first served, unless --check (the whole data is checked first) or
      --resume (the state saved by a leecher is loaded, nothing is hashed)
  swarm_peer.py leech FILE.torrent SAVE_DIR PORT [--peer IP:PORT]... [--timeout S] [--resume FILE]
                [--request-queue N]
      downloads; prints "complete SECONDS" and exits 0 when done (saving its state to the
      --resume file), 1 on time-out. --request-queue sets how many requests it keeps
      outstanding with a peer at most (libtorrent's max_out_request_queue)
  swarm_peer.py scrape TRACKER_URL INFOHASH
      prints "complete incomplete downloaded" as the tracker counts them
"""
import os
import sys
import time

import urllib.request

import libtorrent as lt


def make(root, out, piece_size, tracker=None):
    fs = lt.file_storage()
    lt.add_files(fs, root)
    t = lt.create_torrent(fs, piece_size, flags=lt.create_torrent.v1_only)
    if tracker:
        t.add_tracker(tracker)
    t.set_creator("swarm tests")
    lt.set_piece_hashes(t, os.path.dirname(os.path.abspath(root)))
    with open(out, "wb") as f:
        f.write(lt.bencode(t.generate()))
    print(infohash(out))


def infohash(path):
    return str(lt.torrent_info(path).info_hashes().v1).upper()


def scrape(announce_url, hexhash):
    url = announce_url.replace("/announce", "/scrape")
    raw = bytes.fromhex(hexhash)
    quoted = "".join("%%%02X" % b for b in raw)
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(url + "?info_hash=" + quoted, timeout=5) as r:
        answer = lt.bdecode(r.read())
    files = answer.get(b"files", {})
    entry = files.get(raw, {})
    print(entry.get(b"complete", 0), entry.get(b"incomplete", 0), entry.get(b"downloaded", 0))


def session(port, extra=None):
    settings = {
        "listen_interfaces": "127.0.0.1:%d" % port,
        "outgoing_interfaces": "127.0.0.1",
        "enable_dht": False,
        "enable_lsd": False,
        "enable_upnp": False,
        "enable_natpmp": False,
        "enable_incoming_utp": False,
        "enable_outgoing_utp": False,
        "allow_multiple_connections_per_ip": True,
        "announce_to_all_trackers": True,
        "announce_to_all_tiers": True,
        "alert_mask": lt.alert.category_t.error_notification | lt.alert.category_t.status_notification,
        "user_agent": "swarm-test/1.0",
    }
    settings.update(extra or {})
    return lt.session(settings)


class options:
    def __init__(self, argv):
        self.peers, self.timeout, self.resume, self.check, self.rest = [], 600.0, None, False, []
        self.request_queue = None
        self.upload_limit = None
        i = 0
        while i < len(argv):
            if argv[i] == "--peer":
                host, port = argv[i + 1].rsplit(":", 1)
                self.peers.append((host, int(port)))
                i += 2
            elif argv[i] == "--timeout":
                self.timeout = float(argv[i + 1])
                i += 2
            elif argv[i] == "--resume":
                self.resume = argv[i + 1]
                i += 2
            elif argv[i] == "--upload-limit":
                self.upload_limit = int(argv[i + 1])
                i += 2
            elif argv[i] == "--request-queue":
                self.request_queue = int(argv[i + 1])
                i += 2
            elif argv[i] == "--check":
                self.check = True
                i += 1
            else:
                self.rest.append(argv[i])
                i += 1


def add(ses, torrent, save, seed, opt):
    if seed and opt.resume:
        with open(opt.resume, "rb") as f:
            params = lt.read_resume_data(f.read())
    else:
        params = lt.add_torrent_params()
    params.ti = lt.torrent_info(torrent)
    params.save_path = save
    if seed and not opt.check and not opt.resume:
        # The payload was just written by the test: no need to hash it before serving.
        params.flags |= lt.torrent_flags.seed_mode
    return ses.add_torrent(params)


def save_resume(ses, h, path):
    h.save_resume_data(lt.torrent_handle.save_info_dict)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        ses.wait_for_alert(500)
        for a in ses.pop_alerts():
            if isinstance(a, lt.save_resume_data_alert):
                with open(path, "wb") as f:
                    f.write(lt.write_resume_data_buf(a.params))
                return
    sys.exit("no resume data")


def report_errors(ses):
    for a in ses.pop_alerts():
        if a.category() & lt.alert.category_t.error_notification:
            print("alert:", a.message(), file=sys.stderr, flush=True)


def seed(torrent, save, port, opt):
    ses = session(port)
    h = add(ses, torrent, save, True, opt)
    if opt.upload_limit:
        # A torrent's own limit holds for loopback peers too (the session's would not).
        h.set_upload_limit(opt.upload_limit)
    for p in opt.peers:
        h.connect_peer(p)
    announced, uploaded = False, 0
    while True:
        st = h.status()
        if not announced and st.state == lt.torrent_status.seeding:
            print("seeding", flush=True)
            announced = True
        if st.total_payload_upload != uploaded:
            uploaded = st.total_payload_upload
            print("uploaded %d" % uploaded, flush=True)
        report_errors(ses)
        time.sleep(0.2)


def leech(torrent, save, port, opt):
    peers, timeout = opt.peers, opt.timeout
    extra = {}
    if opt.request_queue:
        extra["max_out_request_queue"] = opt.request_queue
    ses = session(port, extra)
    h = add(ses, torrent, save, False, opt)
    start = time.monotonic()
    next_connect = 0.0
    while True:
        now = time.monotonic()
        st = h.status()
        if st.is_seeding or st.state == lt.torrent_status.seeding:
            print("complete %.2f" % (now - start), flush=True)
            if opt.resume:
                save_resume(ses, h, opt.resume)
            return 0
        if now - start > timeout:
            print("timeout at %.1f%% with %d peers" % (st.progress * 100, st.num_peers), flush=True)
            return 1
        if peers and now >= next_connect:
            for p in peers:
                h.connect_peer(p)
            next_connect = now + 2.0
        report_errors(ses)
        time.sleep(0.05)


def main():
    opt = options(sys.argv[1:])
    rest = opt.rest
    cmd = rest[0]
    if cmd == "make":
        make(rest[1], rest[2], int(rest[3]), rest[4] if len(rest) > 4 else None)
    elif cmd == "scrape":
        scrape(rest[1], rest[2])
    elif cmd == "infohash":
        print(infohash(rest[1]))
    elif cmd == "seed":
        seed(rest[1], rest[2], int(rest[3]), opt)
    elif cmd == "leech":
        sys.exit(leech(rest[1], rest[2], int(rest[3]), opt))
    else:
        sys.exit("unknown command " + cmd)


main()
