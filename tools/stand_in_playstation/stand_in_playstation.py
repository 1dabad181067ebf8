#!/usr/bin/python3
"""A stand-in PlayStation for the tests: answers the discovery probes (awake or in rest mode, with
its name and the game it runs), and once a heartbeat comes, streams Gran Turismo 7's packets to
the sender's port 33740, 60 a second, encrypted with Salsa20/20 from an independent library
(Debian's python3-pycryptodome, so a fault in Ventora's own Salsa20 cannot hide behind the same
fault here). Run it with Debian's /usr/bin/python3, inside a network namespace of the test's own.

It takes commands on standard input, one a line, and reports what it sees on standard output,
one event a line (flushed at once), so a test waits on what happened rather than on time:

    commands                        events
    speed 41.5                      probe PS5 192.168.77.10 50123
    flags 1        (driving bits)   answer 620 192.168.77.10
    car 3311                        heartbeat A 192.168.77.10 33740
    asleep | wake                   heartbeat-ignored asleep 192.168.77.10
    stop   (the game stops sending) stream A 192.168.77.10
    format ~  (what the next         stream-stopped
               stream sends)        ignored-gone heartbeat 192.168.77.10
    gone   (the console goes away:  ready
            stops, and ignores probes and heartbeats from now on)
    stranger ADDRESS COUNT FLAGS    (COUNT packets, 60 a second, with FLAGS, from ADDRESS, an
                                    address of this side, to the last heartbeat's sender)
    quit

With --strangers-answer, other addresses of this side answer each probe first, in this console's
words, as a stranger filling the PC's console table would.
"""

import argparse
import random
import select
import socket
import struct
import sys
import threading
import time

from Cryptodome.Cipher import Salsa20

PS5_DISCOVERY_PORT, PS4_DISCOVERY_PORT = 9302, 987
HEARTBEAT_PORT, PACKET_PORT = 33739, 33740
KEY = b"Simulator Interface Packet GT7 ver 0.0"[:32]
MAGIC = 0x47375330
# heartbeat byte: (packet length, nonce constant)
FORMATS = {"A": (296, 0xDEADBEAF), "B": (316, 0xDEADBEEF), "~": (344, 0x55FABB4F), "C": (368, 0xDEADBEEF)}
PACKETS_PER_SECOND = 60


def encrypt_packet(fmt, speed, flags, car, packet_id, iv1):
    """A packet of the format as the console sends it: fields, encrypted, the IV in the clear."""
    size, constant = FORMATS[fmt]
    plain = bytearray(size)
    struct.pack_into("<I", plain, 0x00, MAGIC)
    struct.pack_into("<f", plain, 0x3C, 7000.0)
    struct.pack_into("<f", plain, 0x4C, speed)
    struct.pack_into("<i", plain, 0x70, packet_id)
    struct.pack_into("<h", plain, 0x74, 1)
    struct.pack_into("<H", plain, 0x8E, flags)
    struct.pack_into("<i", plain, 0x124, car)
    nonce = struct.pack("<II", iv1 ^ constant, iv1)
    packet = bytearray(Salsa20.new(key=KEY, nonce=nonce).encrypt(bytes(plain)))
    struct.pack_into("<I", packet, 0x40, iv1)
    return bytes(packet)


class StandInPlayStation:
    def __init__(self, args):
        self.host_type, self.name, self.host_id = args.host_type, args.name, args.host_id
        self.app_name, self.app_title_id = args.app_name, args.app_title_id
        self.awake = not args.asleep
        self.speed, self.flags, self.car = args.speed, args.flags, args.car
        self.next_format = args.format
        self.keep_alive = args.keep_alive
        self.ignore_probes = args.ignore_probes
        self.strangers = args.strangers_answer.split(",") if args.strangers_answer else []
        self.gone = False
        self.last_sender = None
        self.lock = threading.Lock()
        self.stream_to = None  # the PC's address while streaming
        self.stream_format = None
        self.last_heartbeat = 0.0
        self.packet_id = 0
        self.quitting = threading.Event()

        port = PS5_DISCOVERY_PORT if self.host_type == "PS5" else PS4_DISCOVERY_PORT
        self.discovery = self._bound(port)
        self.heartbeats = self._bound(HEARTBEAT_PORT)
        self.sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)

    @staticmethod
    def _bound(port):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        s.bind(("0.0.0.0", port))
        return s

    @staticmethod
    def report(*words):
        print(*words, flush=True)

    def answer_text(self):
        status = "HTTP/1.1 200 Ok" if self.awake else "HTTP/1.1 620 Server Standby"
        lines = [status, f"host-id:{self.host_id}", f"host-type:{self.host_type}", f"host-name:{self.name}",
                 "host-request-port:997",
                 "device-discovery-protocol-version:" + ("00030010" if self.host_type == "PS5" else "00020020"),
                 "system-version:08400005"]
        if self.awake and self.app_name:
            lines += [f"running-app-titleid:{self.app_title_id}", f"running-app-name:{self.app_name}"]
        return ("\n".join(lines) + "\n").encode()

    def on_probe(self):
        data, (address, port) = self.discovery.recvfrom(2048)
        if self.gone or self.ignore_probes:
            self.report("ignored-gone" if self.gone else "ignored", "probe", address)
            return
        if not data.startswith(b"SRCH * HTTP/1.1\n"):
            self.report("probe-refused", address, port)
            return
        self.report("probe", self.host_type, address, port)
        with self.lock:
            text = self.answer_text()
            self.report("answer", "200" if self.awake else "620", address)
        for stranger in self.strangers:
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as other:
                other.bind((stranger, 0))
                other.sendto(text, (address, port))
        self.discovery.sendto(text, (address, port))

    def on_heartbeat(self):
        data, (address, port) = self.heartbeats.recvfrom(2048)
        byte = data[:1].decode("latin-1")
        with self.lock:
            if self.gone:
                self.report("ignored-gone", "heartbeat", address)
                return
            if not self.awake:
                self.report("heartbeat-ignored", "asleep", address)
                return
            self.report("heartbeat", byte, address, port)
            self.last_heartbeat = time.monotonic()
            self.last_sender = address
            if self.stream_to is None:
                # The first heartbeat chooses the format, unless another program's did already.
                self.stream_format = self.next_format or (byte if byte in FORMATS else "A")
                self.stream_to = address
                self.report("stream", self.stream_format, address)

    def packet(self, flags=None):
        self.packet_id += 1
        return encrypt_packet(self.stream_format or "A", self.speed, self.flags if flags is None else flags,
                              self.car, self.packet_id, random.getrandbits(32))

    def send_as_stranger(self, address, count, flags):
        """From another address of this side, as another device on the network would."""
        stranger = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        stranger.bind((address, 0))
        for _ in range(count):
            with self.lock:
                packet = self.packet(flags)
            stranger.sendto(packet, (self.last_sender, PACKET_PORT))
            time.sleep(1.0 / PACKETS_PER_SECOND)
        stranger.close()
        self.report("stranger-done", address, count)

    def stream(self):
        period = 1.0 / PACKETS_PER_SECOND
        due = time.monotonic()
        while not self.quitting.is_set():
            due += period
            with self.lock:
                if self.stream_to and time.monotonic() - self.last_heartbeat > self.keep_alive:
                    self.stream_to = None
                    self.report("stream-stopped")
                if self.stream_to:
                    self.sender.sendto(self.packet(), (self.stream_to, PACKET_PORT))
            time.sleep(max(0.0, due - time.monotonic()))

    def command(self, line):
        words = line.split()
        if not words:
            return
        with self.lock:
            match words:
                case ["speed", value]: self.speed = float(value)
                case ["flags", value]: self.flags = int(value, 0)
                case ["car", value]: self.car = int(value)
                case ["format", value]: self.next_format = value
                case ["asleep"]:
                    self.awake = False
                    self.stream_to = None
                case ["wake"]: self.awake = True
                case ["stop"]:
                    self.stream_to = None
                    self.last_heartbeat = 0.0
                case ["gone"]:
                    self.gone = True
                    self.stream_to = None
                case ["stranger", address, count, flags]:
                    threading.Thread(target=self.send_as_stranger, args=(address, int(count), int(flags, 0)),
                                     daemon=True).start()
                case ["quit"]: self.quitting.set()
                case _:
                    self.report("unknown-command", line.strip())
                    return
        self.report("done", *words[:1])

    def run(self):
        threading.Thread(target=self.stream, daemon=True).start()
        self.report("ready")
        inputs = [self.discovery, self.heartbeats, sys.stdin]
        while not self.quitting.is_set():
            readable, _, _ = select.select(inputs, [], [], 0.5)
            for source in readable:
                if source is self.discovery:
                    self.on_probe()
                elif source is self.heartbeats:
                    self.on_heartbeat()
                else:
                    line = sys.stdin.readline()
                    if not line:
                        inputs.remove(sys.stdin)  # no more commands; go on until killed
                    else:
                        self.command(line)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host-type", choices=("PS5", "PS4"), default="PS5")
    parser.add_argument("--name", default="PS5-123")
    parser.add_argument("--host-id", default="A1B2C3D4E5F6")
    parser.add_argument("--app-name", default="Gran Turismo 7")
    parser.add_argument("--app-title-id", default="PPSA01316")
    parser.add_argument("--asleep", action="store_true", help="start in rest mode")
    parser.add_argument("--speed", type=float, default=0.0, help="metres per second")
    parser.add_argument("--flags", type=lambda text: int(text, 0), default=1)
    parser.add_argument("--car", type=int, default=3311)
    parser.add_argument("--format", choices=tuple(FORMATS), default=None,
                        help="the format streams come in whatever the heartbeat asks, as when another "
                             "program asked first")
    parser.add_argument("--ignore-probes", action="store_true",
                        help="answer no discovery probe (its rest-mode network features off, say), yet "
                             "stream on a heartbeat")
    parser.add_argument("--strangers-answer", metavar="ADDRESS,...",
                        help="addresses of this side that answer each probe before the console")
    parser.add_argument("--keep-alive", type=float, default=10.0,
                        help="seconds the stream goes on after the last heartbeat")
    StandInPlayStation(parser.parse_args()).run()


if __name__ == "__main__":
    main()
