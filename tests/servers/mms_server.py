#!/usr/bin/env python3
"""Loopback MMS (TCP) server for the MMS client tests.

Streams a real ASF file the way a media server does ([MS-MMSP]): answers
0x01 with 0x01, 0x18 with 0x15, 0x02 with 0x02, 0x05 with 0x06 (file
details), 0x15 with 0x11 and then the ASF header in header packets (type
0x02), 0x33 with 0x21, 0x07 with 0x05 and then every data packet as a media
packet (type 0x04), and ends the stream with 0x1E. Client pings (0x1B) are
logged and not answered; 0x0D closes the connection.

The header sent is the ASF Header Object plus the Data Object's 50-byte
fixed part; each data packet is one packet size (the File Properties
Object's minimum data packet size) of the Data Object.

Listens on 127.0.0.1 (port 0 unless --port), prints "PORT <n>" once ready,
and exits when its stdin reaches end of file or after --lifetime seconds.

Every command a client sends is appended to --log as one JSON object per
line: conn, command, switches, extra, sequence, length (field at 8), len8
(16), len8b (32), dir (the high half at 36), total (bytes), payload (hex).

Scenario flags (combinable):
  --header-packets N   split the header into N header packets
  --header-cut-at K    end the first header packet right after header byte
                       K (e.g. just after a 01 01 inside the header)
  --ping-header        a ping before every header packet after the first
  --ping-media N       a ping before every Nth media packet
  --ping-with-answer   every answer goes out as one segment holding a ping
                       and then the answer
  --split-writes       every item goes out in two segments, cut inside its
                       first 12 bytes, a few milliseconds apart
  --short-packets      media packets without the packet's trailing zero
                       bytes (the client must pad them back)
  --close-at CMD       close the connection when command CMD (hex) arrives
  --stall-at CMD       stop answering when command CMD (hex) arrives
  --close-in-media N   send N media packets, half of the next, then close
  --stall-in-media N   send N media packets, then nothing
  --stall-mid-packet   with --stall-in-media: also half of the next packet
  --media-delay MS     pause between media packets
  --no-end             after the last packet close without 0x1E
"""
import argparse
import json
import os
import socket
import struct
import sys
import threading
import time

SIGNATURE = 0xB00BFACE

GUID_HEADER = bytes.fromhex("3026b2758e66cf11a6d900aa0062ce6c")
GUID_DATA = bytes.fromhex("3626b2758e66cf11a6d900aa0062ce6c")
GUID_FILE_PROPERTIES = bytes.fromhex("a1dcab8c47a9cf118ee400c00c205365")


class AsfFile:
    """The header and data packets of an ASF file."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if data[:16] != GUID_HEADER:
            raise ValueError("not an ASF file")
        header_size = struct.unpack_from("<Q", data, 16)[0]
        if data[header_size:header_size + 16] != GUID_DATA:
            raise ValueError("no Data Object after the header")
        self.packet_size = 0
        offset = 30
        while offset + 24 <= header_size:
            size = struct.unpack_from("<Q", data, offset + 16)[0]
            if data[offset:offset + 16] == GUID_FILE_PROPERTIES:
                self.packet_size = struct.unpack_from("<I", data, offset + 92)[0]
            if size < 24:
                break
            offset += size
        if self.packet_size == 0:
            raise ValueError("no File Properties Object")
        count = struct.unpack_from("<Q", data, header_size + 40)[0]
        self.header = data[:header_size + 50]
        start = header_size + 50
        self.packets = [data[start + i * self.packet_size:start + (i + 1) * self.packet_size]
                        for i in range(count)]


def message(command, payload=b"", hr=0, extra=0, sequence=0):
    """A server-to-client command message, padded to 8-byte units."""
    body = struct.pack("<II", hr, extra) + payload
    body += b"\0" * (-len(body) % 8)
    total = 40 + len(body)
    len8 = (total - 16) // 8
    return (struct.pack("<IIII", 1, SIGNATURE, total - 16, 0x20534D4D)
            + struct.pack("<II", len8, sequence) + b"\0" * 8
            + struct.pack("<II", len8 - 2, 0x00040000 | command) + body)


def data_item(kind, sequence, flags, payload):
    return struct.pack("<IBBH", sequence, kind, flags, len(payload) + 8) + payload


def widen(text):
    return text.encode("utf-16-le")


class Connection:
    def __init__(self, server, sock, number):
        self.server = server
        self.args = server.args
        self.sock = sock
        self.number = number
        self.sequence = 0
        self.buffer = b""
        self.stalled = False

    # -- sending ----------------------------------------------------------
    def send(self, data, cut=None):
        if self.args.split_writes and len(data) > 2:
            cut = cut if cut is not None else min(10, len(data) - 1)
            self.sock.sendall(data[:cut])
            time.sleep(0.005)
            self.sock.sendall(data[cut:])
        else:
            self.sock.sendall(data)

    def answer(self, command, payload=b"", extra=0):
        reply = message(command, payload, extra=extra, sequence=self.sequence)
        self.sequence += 1
        if self.args.ping_with_answer:
            reply = message(0x1B, sequence=self.sequence) + reply
            self.sequence += 1
            self.sock.sendall(reply)
        else:
            self.send(reply)

    def ping(self):
        self.send(message(0x1B, sequence=self.sequence))
        self.sequence += 1

    # -- receiving --------------------------------------------------------
    def read_exact(self, count):
        while len(self.buffer) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def read_command(self):
        head = self.read_exact(12)
        if head is None:
            return None
        length = struct.unpack_from("<I", head, 8)[0]
        rest = self.read_exact(length + 4)
        if rest is None:
            return None
        return head + rest

    def log(self, msg):
        fields = struct.unpack_from("<IIIIIIQII", msg, 0)
        entry = {
            "conn": self.number,
            "command": fields[8] & 0xFFFF,
            "dir": fields[8] >> 16,
            "length": fields[2],
            "len8": fields[4],
            "sequence": fields[5],
            "len8b": fields[7],
            "switches": struct.unpack_from("<I", msg, 40)[0] if len(msg) >= 44 else None,
            "extra": struct.unpack_from("<I", msg, 44)[0] if len(msg) >= 48 else None,
            "total": len(msg),
            "signature": fields[1] == SIGNATURE,
            "payload": msg[48:].hex(),
        }
        self.server.write_log(entry)

    # -- the exchange -----------------------------------------------------
    def run(self):
        asf = self.server.asf
        while True:
            msg = self.read_command()
            if msg is None or len(msg) < 40:
                return
            self.log(msg)
            command = struct.unpack_from("<H", msg, 36)[0]
            if self.args.close_at is not None and command == self.args.close_at:
                return
            if self.args.stall_at is not None and command == self.args.stall_at:
                self.stalled = True
            if self.stalled or command == 0x1B:
                continue
            if command == 0x01:
                self.answer(0x01, struct.pack("<II", 0x0004000B, 0x0004000B)
                            + widen("Quillory test MMS server\0"), extra=0xF0F0F0EF)
            elif command == 0x18:
                self.answer(0x15, b"\0" * 32)
            elif command == 0x02:
                self.answer(0x02, b"\0" * 8)
            elif command == 0x05:
                details = (struct.pack("<IIIIII", 1, 1, 0, 0, 0, 0x00000002)
                           + struct.pack("<d", 3.0)
                           + struct.pack("<I", 0) + b"\0" * 16
                           + struct.pack("<IQII", len(asf.packets[0]) if asf.packets else 0,
                                         len(asf.packets), 131072, len(asf.header))
                           + b"\0" * 36)
                self.answer(0x06, details)
            elif command == 0x15:
                self.answer(0x11, b"\0" * 16)
                self.send_header()
            elif command == 0x33:
                self.answer(0x21)
            elif command == 0x07:
                self.answer(0x05)
                if not self.send_media():
                    return
            elif command == 0x0D:
                return

    def send_header(self):
        header = self.server.asf.header
        cuts = []
        if self.args.header_cut_at is not None:
            cuts.append(self.args.header_cut_at + 1)
        count = max(1, self.args.header_packets)
        step = -(-len(header) // count)
        cuts += list(range(step, len(header), step))
        cuts = sorted(set(c for c in cuts if 0 < c < len(header)))
        pieces = [header[a:b] for a, b in zip([0] + cuts, cuts + [len(header)])]
        for i, piece in enumerate(pieces):
            if i > 0 and self.args.ping_header:
                self.ping()
            last = i == len(pieces) - 1
            self.send(data_item(0x02, i, 0x08 if last else 0x04, piece), cut=3)

    def send_media(self):
        args = self.args
        packets = self.server.asf.packets
        for i, packet in enumerate(packets):
            if args.ping_media and i % args.ping_media == 0:
                self.ping()
            if args.short_packets:
                packet = packet.rstrip(b"\0") or packet[:1]
            item = data_item(0x04, i, 0x00, packet)
            if args.close_in_media is not None and i == args.close_in_media:
                self.sock.sendall(item[:len(item) // 2])
                time.sleep(0.05)
                return False
            if args.stall_in_media is not None and i == args.stall_in_media:
                if args.stall_mid_packet:
                    self.sock.sendall(item[:len(item) // 2])
                self.stall()
                return False
            self.send(item, cut=3)
            if args.media_delay:
                time.sleep(args.media_delay / 1000.0)
        if args.no_end:
            return False
        self.send(message(0x1E, sequence=self.sequence))
        self.sequence += 1
        return True

    def stall(self):
        # Hold the connection open and silent until the client goes away.
        try:
            while self.sock.recv(65536):
                pass
        except OSError:
            pass


class Server:
    def __init__(self, args):
        self.args = args
        self.asf = AsfFile(args.asf)
        self.log_lock = threading.Lock()
        self.log_file = open(args.log, "a", encoding="utf-8") if args.log else None
        self.connections = 0

    def write_log(self, entry):
        if not self.log_file:
            return
        with self.log_lock:
            self.log_file.write(json.dumps(entry) + "\n")
            self.log_file.flush()

    def serve(self, listener):
        while True:
            sock, _ = listener.accept()
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            self.connections += 1
            threading.Thread(target=self.handle, args=(sock, self.connections), daemon=True).start()

    def handle(self, sock, number):
        try:
            Connection(self, sock, number).run()
        except OSError:
            pass
        finally:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()


def hex_command(text):
    return int(text, 16)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--asf", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--lifetime", type=float, default=120.0)
    parser.add_argument("--header-packets", type=int, default=1)
    parser.add_argument("--header-cut-at", type=int)
    parser.add_argument("--ping-header", action="store_true")
    parser.add_argument("--ping-media", type=int, default=0)
    parser.add_argument("--ping-with-answer", action="store_true")
    parser.add_argument("--split-writes", action="store_true")
    parser.add_argument("--short-packets", action="store_true")
    parser.add_argument("--close-at", type=hex_command)
    parser.add_argument("--stall-at", type=hex_command)
    parser.add_argument("--close-in-media", type=int)
    parser.add_argument("--stall-in-media", type=int)
    parser.add_argument("--stall-mid-packet", action="store_true")
    parser.add_argument("--media-delay", type=float, default=0.0)
    parser.add_argument("--no-end", action="store_true")
    args = parser.parse_args()

    server = Server(args)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, args.port))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)

    threading.Thread(target=server.serve, args=(listener,), daemon=True).start()

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except OSError:
            pass
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    time.sleep(args.lifetime)
    os._exit(0)


if __name__ == "__main__":
    main()
