"""Runs the real ventora.exe under Wine for the end-to-end suites.

A Session owns everything one test class (or module) needs and removes it all again: an Xvfb
display, a Wine prefix copied from a cached template, the prefix's own wineserver, socat pty pairs
standing in for fan controllers on COM ports, and every Windows program it started. Nothing here
touches ~/.wine, a display or wineserver of somebody else, or /dev/ttyS*.

    session = Session()                      # or: with Session() as session:
    app = session.start_ventora()            # hidden start, stdout to a file
    session.driver("tray", "lbuttondown")    # act as the user
    device = session.plug_port(1)            # a fan controller on COM1
    device.wait_for_bytes(5)
    shot = session.screenshot()              # shot.pixel(x, y) -> (r, g, b)
    session.close()
"""

import atexit
import fcntl
import os
import random
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty
import zlib
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
WINDOWS_BUILD = Path(os.environ.get("VENTORA_WINDOWS_BUILD", REPO_ROOT / "build" / "windows"))
TEMPLATE_CACHE = REPO_ROOT / "build"

# Guards only: every wait below ends as soon as its condition holds.
DEFAULT_TIMEOUT = 30.0
BOOT_TIMEOUT = 120.0
REG_IMPORT_ATTEMPTS = 3

# Driver exit codes (tests/driver/ventora_driver.cpp).
DRIVER_DONE, DRIVER_NO_WINDOW, DRIVER_BAD_USAGE, DRIVER_REFUSED, DRIVER_TIMED_OUT = range(5)

# The size of the Wine virtual desktop; its X window sits at 0,0 of the Xvfb screen.
DESKTOP_SIZE = (800, 600)
HIGHEST_COM_PORT = 256

# Part of the template's name beside the Wine version: raise it when the way the template is
# made changes, so that caches made the old way are not used.
TEMPLATE_RECIPE = 2


class HarnessError(RuntimeError):
    pass


def wait_until(predicate, timeout=DEFAULT_TIMEOUT, interval=0.05, message=None):
    """Polls predicate until it returns a true value, which is returned; raises TimeoutError when
    the guard time runs out. message (a text, or a function giving one) says what was awaited."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            text = message() if callable(message) else message
            raise TimeoutError(text or f"condition not met within {timeout} s: {predicate!r}")
        time.sleep(interval)


def _wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True, check=True).stdout.strip()


def _base_environment(prefix, display):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("WINE", "WAYLAND"))}
    env.update(
        WINEPREFIX=str(prefix),
        WINEDEBUG="-all",
        WINEDLLOVERRIDES="mscoree,mshtml=",
        DISPLAY=f":{display}",
    )
    return env


def _stop_wineserver(env):
    """Ends the prefix's wineserver and every Wine process in it, and waits until they are gone."""
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def _start_wineserver(env, inside=lambda argv: argv):
    # -p keeps it alive between programs; it forks into the background, and with its output on
    # /dev/null nothing waits for the daemon.
    subprocess.run(inside(["wineserver", "-p"]), env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   stdin=subprocess.DEVNULL, check=True, timeout=60)


def _lay_out_new_prefix(prefix):
    """What Wine makes itself for a new prefix, plus every COM port's place taken.

    Wine makes its drives only in a directory it creates; laying them out by hand lets the COM
    ports be blocked before the first program runs, so the mount manager never maps COM1 to
    /dev/ttyS0, not even for a moment.
    """
    dosdevices = Path(prefix) / "dosdevices"
    dosdevices.mkdir(parents=True)
    (Path(prefix) / "drive_c").mkdir()
    (dosdevices / "c:").symlink_to("../drive_c")
    (dosdevices / "z:").symlink_to("/")
    _block_com_ports(prefix)


def _block_com_ports(prefix):
    """Takes every COM port's place before Wine's mount manager can map one to /dev/ttyS*."""
    dosdevices = Path(prefix) / "dosdevices"
    for n in range(1, HIGHEST_COM_PORT + 1):
        place = dosdevices / f"com{n}"
        if place.is_symlink():
            place.unlink()
        place.mkdir(exist_ok=True)


def _check_no_serial_device(prefix):
    """Right after a boot no port may be mapped: the mount manager must have found every place taken."""
    for entry in (Path(prefix) / "dosdevices").iterdir():
        if entry.name.startswith("com") and entry.is_symlink():
            raise HarnessError(f"{entry} points at {os.readlink(entry)}")


class Xvfb:
    """A display of our own: Xvfb picks a free number and tells it through -displayfd."""

    def __init__(self, size=(1024, 768)):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{size[0]}x{size[1]}x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                stdin=subprocess.DEVNULL, start_new_session=True)
            os.close(write_end)
            write_end = None
            number = b""
            with os.fdopen(read_end, "rb") as reader:
                read_end = None
                while not number.endswith(b"\n"):
                    chunk = reader.read(1)
                    if not chunk:
                        raise HarnessError("Xvfb ended before it named its display")
                    number += chunk
            self.display = int(number)
        except BaseException:
            if write_end is not None:
                os.close(write_end)
            if read_end is not None:
                os.close(read_end)
            self.stop()
            raise

    def stop(self):
        process = getattr(self, "process", None)
        if process and process.poll() is None:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def _install_title_bar_font(prefix):
    """Wine draws the caption buttons with the Marlett font; without it in the prefix they show as
    the letters "0 1 r" in every screenshot."""
    marlett = Path("/usr/share/wine/fonts/marlett.ttf")
    if marlett.exists():
        fonts = Path(prefix) / "drive_c" / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        shutil.copy(marlett, fonts / marlett.name)


def template_prefix():
    """A booted prefix with a virtual desktop and every COM port blocked, made once per Wine version.

    Parallel test runs share it: a lock file makes one of them build it and the others wait.
    """
    version = re.sub(r"[^A-Za-z0-9.]+", "-", _wine_version())
    template = TEMPLATE_CACHE / f"wine-template-{version}-r{TEMPLATE_RECIPE}"
    TEMPLATE_CACHE.mkdir(parents=True, exist_ok=True)
    with open(TEMPLATE_CACHE / "wine-template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if (template / "system.reg").exists() and (template / ".ventora-ready").exists():
            return template
        # A build cut short (a killed run) leaves its directory behind; it is useless now.
        for stale in TEMPLATE_CACHE.glob("wine-template-building-*"):
            shutil.rmtree(stale, ignore_errors=True)
        building = Path(tempfile.mkdtemp(prefix="wine-template-building-", dir=TEMPLATE_CACHE))
        xvfb = Xvfb()
        env = _base_environment(building, xvfb.display)
        try:
            _lay_out_new_prefix(building)
            subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           stdin=subprocess.DEVNULL, check=True, timeout=BOOT_TIMEOUT)
            for key, name, value in (
                (r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
                (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "{}x{}".format(*DESKTOP_SIZE)),
            ):
                subprocess.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                               check=True, timeout=BOOT_TIMEOUT)
            _stop_wineserver(env)
            _install_title_bar_font(building)
            _block_com_ports(building)
            _check_no_serial_device(building)
            (building / ".ventora-ready").write_text(version + "\n")
            if template.exists():
                shutil.rmtree(template)
            building.rename(template)
        except BaseException:
            _stop_wineserver(env)
            shutil.rmtree(building, ignore_errors=True)
            raise
        finally:
            xvfb.stop()
        return template


class WindowsProcess:
    """A Windows program started by the session; its stdout goes to a file."""

    def __init__(self, popen, stdout_path, stdin=None, stderr_path=None):
        self.popen = popen
        self.stdout_path = Path(stdout_path)
        self.stderr_path = stderr_path
        self.stdin = stdin
        self.lines_read_ahead = []  # lines a piped program printed that read_line hands on first

    @property
    def returncode(self):
        return self.popen.poll()

    def running(self):
        return self.popen.poll() is None

    def stdout(self):
        """What the program has printed so far, CR LF turned into LF."""
        try:
            return self.stdout_path.read_bytes().decode("latin-1").replace("\r\n", "\n")
        except FileNotFoundError:
            return ""

    def wait_for_output(self, pattern, timeout=DEFAULT_TIMEOUT):
        """Waits until stdout matches the regular expression; returns the match."""
        regex = re.compile(pattern)
        return wait_until(lambda: regex.search(self.stdout()), timeout,
                          message=lambda: f"no output matching {pattern!r}; got: {self.stdout()[-500:]!r}")

    def wait(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the program to end and returns its exit code."""
        return self.popen.wait(timeout)

    def send_line(self, line):
        self.stdin.write(line + "\r\n")
        self.stdin.flush()

    def read_line(self, timeout=DEFAULT_TIMEOUT):
        """Reads one line of stdout from a program started with a pipe (see Session.start_piped)."""
        if self.lines_read_ahead:
            return self.lines_read_ahead.pop(0)
        result = []
        reader = threading.Thread(target=lambda: result.append(self.popen.stdout.readline()), daemon=True)
        reader.start()
        reader.join(timeout)
        if reader.is_alive():
            raise TimeoutError(f"no line from the program within {timeout} s")
        return result[0].rstrip("\r\n")

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
            try:
                self.popen.wait(10)
            except subprocess.TimeoutExpired:
                pass
        for stream in (self.popen.stdin, self.popen.stdout):
            if stream:
                try:
                    stream.close()
                except OSError:
                    pass


class SerialDevice:
    """The fan controller's end of a socat pty pair whose other end is mapped to COMn.

    A reader thread records every byte with the monotonic time it arrived.
    """

    def __init__(self, session, number):
        self.session = session
        self.number = number
        ports = session.tmp / "ports"
        ports.mkdir(exist_ok=True)
        self.port_link = ports / f"com{number}"
        self.device_link = ports / f"com{number}-device"
        self.received = []  # (monotonic time, byte value)
        self.total = 0  # bytes since the pair was plugged, clears or not
        self.plugged_at = self.cleared_at = None
        self.reader_end = None  # (monotonic time, why) once the reader thread has stopped
        self._lock = threading.Lock()
        self.socat = None
        self._fd = None
        self._reader = None
        self._stop = None
        self.plug()

    def plug(self):
        """Starts the pty pair (again, after unplug) and begins reading."""
        if self.socat:
            raise HarnessError(f"COM{self.number} is already plugged")
        self.socat = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={self.port_link}", f"pty,raw,echo=0,link={self.device_link}"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        wait_until(lambda: self.port_link.exists() and self.device_link.exists() or self.socat.poll() is not None,
                   10, message="socat made no pty links")
        if self.socat.poll() is not None:
            raise HarnessError(f"socat ended at once with {self.socat.returncode}")
        (self.session.tmp / f"socat-com{self.number}.pid").write_text(str(self.socat.pid))
        self._fd = os.open(self.device_link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self._fd, termios.TCSANOW)
        self._stop = threading.Event()
        self.plugged_at = self.cleared_at = time.monotonic()
        self.total, self.reader_end = 0, None
        self._reader = threading.Thread(target=self._read, args=(self._fd, self._stop), daemon=True)
        self._reader.start()

    def _read(self, fd, stop):
        why = "unplugged"
        while not stop.is_set():
            try:
                ready, _, _ = select.select([fd], [], [], 0.05)
                if not ready:
                    continue
                chunk = os.read(fd, 4096)
            except (BlockingIOError, InterruptedError):
                continue  # readable a moment ago, empty now: nothing lost
            except OSError as error:
                why = f"read failed: {error}"
                break
            if not chunk:
                why = "end of file"
                break
            now = time.monotonic()
            with self._lock:
                self.received.extend((now, byte) for byte in chunk)
                self.total += len(chunk)
        self.reader_end = (time.monotonic(), why)

    def unplug(self):
        """Pulls the cable: socat ends and its links go away."""
        if self._stop:
            self._stop.set()
            self._reader.join(5)
            self._stop = self._reader = None
        if self._fd is not None:
            os.close(self._fd)
            self._fd = None
        if self.socat:
            if self.socat.poll() is None:
                self.socat.terminate()
                try:
                    self.socat.wait(10)
                except subprocess.TimeoutExpired:
                    self.socat.kill()
                    self.socat.wait()
            self.socat = None
        for link in (self.port_link, self.device_link):
            if link.is_symlink():
                link.unlink()
        (self.session.tmp / f"socat-com{self.number}.pid").unlink(missing_ok=True)

    replug = plug

    def bytes(self):
        with self._lock:
            return bytes(value for _, value in self.received)

    def timed_bytes(self):
        with self._lock:
            return list(self.received)

    def clear(self):
        with self._lock:
            self.received.clear()
            self.cleared_at = time.monotonic()

    def wait_for_bytes(self, count, timeout=DEFAULT_TIMEOUT):
        """Waits until at least count bytes have arrived since the last clear; returns them all."""
        started = time.monotonic()
        wait_until(lambda: len(self.received) >= count, timeout, message=lambda: self.report(count, started))
        return self.bytes()

    def report(self, count, started):
        """What the device saw, and when, for a wait that ran out: the times are seconds before now."""
        now = time.monotonic()
        with self._lock:
            received, total = list(self.received), self.total
        ago = lambda moment: f"{now - moment:.1f} s ago"
        text = (f"COM{self.number}: {len(received)} of {count} bytes arrived since the clear {ago(self.cleared_at)} "
                f"(the wait began {ago(started)} with {sum(t < started for t, _ in received)}); "
                f"{total} since plugged {ago(self.plugged_at)}")
        if received:
            text += f"; last {bytes(b for _, b in received[-8:])!r}, the newest {ago(received[-1][0])}"
        text += "; reader " + (f"stopped {ago(self.reader_end[0])}: {self.reader_end[1]}" if self.reader_end
                                else "running")
        text += "; socat " + ("running" if self.socat and self.socat.poll() is None
                              else f"ended with {self.socat.returncode}" if self.socat else "not started")
        place = self.session.prefix / "dosdevices" / f"com{self.number}"
        text += f"; COM{self.number} leads to " + (os.readlink(place) if place.is_symlink() else
                                                   "a directory" if place.is_dir() else "nothing")
        # The line settings that could hold bytes back or change them on the way.
        for name, link in (("port", self.port_link), ("device", self.device_link)):
            out = subprocess.run(["stty", "-F", str(link), "-a"], capture_output=True, text=True, timeout=10)
            flags = re.findall(r"speed \d+ baud|min = \d+|time = \d+|"
                               r"-?\b(?:ixon|ixoff|crtscts|clocal|icanon|echo|opost)\b", out.stdout)
            text += f"; {name} end: {', '.join(flags) or out.stderr.strip()}"
        return text

    def baud_rate(self):
        """The speed the program set on its end of the pair."""
        out = subprocess.run(["stty", "-F", str(self.port_link), "speed"], capture_output=True, text=True)
        return int(out.stdout.strip()) if out.returncode == 0 else None

    def write(self, data):
        os.write(self._fd, data)


class Screenshot:
    """One capture of the whole Xvfb screen, with exact pixels."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError(f"({x}, {y}) is off the {self.width}x{self.height} screen")
        offset = (y * self.width + x) * 3
        return tuple(self.rgb[offset:offset + 3])

    def crop(self, x, y, width, height):
        rows = [self.rgb[((y + row) * self.width + x) * 3:((y + row) * self.width + x + width) * 3]
                for row in range(height)]
        return Screenshot(width, height, b"".join(rows))

    def desktop(self):
        """The Wine desktop alone, without the unused rest of the X screen."""
        return self.crop(0, 0, *DESKTOP_SIZE)

    def save_png(self, path):
        """Writes the capture as an RGB PNG, without going through another tool."""
        rows = b"".join(b"\x00" + self.rgb[y * self.width * 3:(y + 1) * self.width * 3] for y in range(self.height))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                               chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))
        return Path(path)

    @classmethod
    def from_ppm(cls, data):
        """Parses a binary PPM (P6), as ImageMagick writes it, at 8 or 16 bits a sample."""
        fields, position = [], 2
        if data[:2] != b"P6":
            raise HarnessError("not a binary PPM")
        while len(fields) < 3:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b"#":
                position = data.index(b"\n", position) + 1
                continue
            start = position
            while not data[position:position + 1].isspace():
                position += 1
            fields.append(int(data[start:position]))
        width, height, maxval = fields
        pixels = data[position + 1:]
        if maxval < 256:
            return cls(width, height, bytes(pixels[:width * height * 3]))
        samples = struct.unpack(f">{width * height * 3}H", pixels[:width * height * 6])
        return cls(width, height, bytes(round(s * 255 / maxval) for s in samples))


def tray_icons(shot, tray_width=200, taskbar_height=20):
    """The tray icons that a screenshot shows in the virtual desktop's taskbar, as the centres of
    their pictures, rightmost first. The taskbar runs along the desktop's bottom edge; its window
    buttons start at the left, the tray icons at the right."""
    width, height = DESKTOP_SIZE
    area = [(x, y) for x in range(width - tray_width, width) for y in range(height - taskbar_height, height)]
    colours = {}
    for point in area:
        colour = shot.pixel(*point)
        colours[colour] = colours.get(colour, 0) + 1
    background = max(colours, key=colours.get)
    columns = {}
    for x, y in area:
        if shot.pixel(x, y) != background:
            columns.setdefault(x, []).append(y)
    # An icon's picture may have background-coloured columns inside it; icons stand further apart.
    icons, current = [], []
    for x in sorted(columns, reverse=True):
        if current and current[-1] - x > 4:
            icons.append(current)
            current = []
        current.append(x)
    if current:
        icons.append(current)
    centres = []
    for xs in icons:
        ys = [y for x in xs for y in columns[x]]
        centres.append(((max(xs) + min(xs)) // 2, (max(ys) + min(ys)) // 2))
    return centres


# Run in a process of its own beside each session: when the test process dies without closing
# its session (killed by a time-out, say), this still stops the prefix's Wine, the display and
# the pty pairs, and removes the session's files.
_GUARD = r"""
import os, shutil, signal, subprocess, sys, time
owner, tmp, env_prefix, display_pid = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
while True:
    try:
        os.kill(owner, 0)
    except ProcessLookupError:
        break
    time.sleep(1)
env = dict(os.environ, WINEPREFIX=env_prefix)
for args in (["wineserver", "-k"], ["wineserver", "-w"]):
    subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
for pid_file in os.listdir(tmp):
    if pid_file.endswith(".pid"):
        try:
            os.kill(int(open(os.path.join(tmp, pid_file)).read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
try:
    os.kill(display_pid, signal.SIGTERM)
except OSError:
    pass
shutil.rmtree(tmp, ignore_errors=True)
"""


class Session:
    """One Wine world for a test class: display, prefix, wineserver, ports and programs.

    Closing it (also from atexit, should a test runner die) stops everything it started and
    deletes its temporary directory.
    """

    def __init__(self, build_dir=None, require=("ventora.exe", "ventora_driver.exe"), games_udp_ports=False,
                 network=None):
        """network: a home_network.HomeNetwork whose PC side holds the whole Wine world (the
        wineserver, which makes every program's sockets, and every program); the display stays
        outside, reached through its socket file."""
        self.build = Path(build_dir or WINDOWS_BUILD)
        self.network = network
        self._inside = network.pc_command if network else (lambda argv: argv)
        for program in require:
            if not (self.build / program).exists():
                raise HarnessError(f"{self.build / program} is missing: build the windows preset first")
        self.tmp = Path(tempfile.mkdtemp(prefix="ventora-wine-"))
        self.prefix = self.tmp / "prefix"
        self.processes = []
        self.devices = {}
        self.xvfb = None
        self.env = None
        self._guard = None
        self._closed = False
        atexit.register(self.close)
        try:
            template = template_prefix()
            self.xvfb = Xvfb()
            self._guard = subprocess.Popen(
                [sys.executable, "-c", _GUARD, str(os.getpid()), str(self.tmp), str(self.prefix),
                 str(self.xvfb.process.pid)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
            subprocess.run(["cp", "-a", str(template), str(self.prefix)], check=True)
            self.env = _base_environment(self.prefix, self.xvfb.display)
            # UDP ports are the machine's, shared by every session. Only a session that asks for
            # them (games_udp_ports) may play the UDP games (F1, Forza, OutGauge, RBR, PMR) on their own
            # ports, as on a user's PC, and only one at a time; every other gives its Ventoras
            # free ports of its own, so that Ventoras side by side never meet and no UDP source's
            # log line (a port found taken, then opened) lands in a suite that is not about them.
            # A session on a home network of its own has the PC's ports to itself.
            self._udp_ports_lock, self.udp_ports = (None, list(GAMES_UDP_PORTS)) if network else \
                _claim_udp_ports(games_udp_ports)
            if self._udp_ports_lock is None and not network:
                self.env["VENTORA_UDP_PORTS"] = ",".join(map(str, self.udp_ports))
            # Outside a network of its own a session sends nothing beyond the machine: Ventora's
            # joining of Project Motor Racing's multicast group would tell the machine's network.
            if not network:
                self.env["VENTORA_MULTICAST"] = "off"
            _block_com_ports(self.prefix)
            _start_wineserver(self.env, self._inside)
            if network and not network.processes_named(network.pc, "wineserver"):
                raise HarnessError("the wineserver is not on the home network's PC side")
            # The first program boots the session (services, mount manager, the desktop and its
            # taskbar); only after it may ports be mapped.
            self.run(["wineboot"], timeout=BOOT_TIMEOUT)
            _check_no_serial_device(self.prefix)
            for number in range(1, HIGHEST_COM_PORT + 1):
                self._make_port_absent(number)
            self._pin_com_ports()
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def display(self):
        return self.xvfb.display

    # --- programs ------------------------------------------------------------------------------

    def windows_path(self, path):
        """The Windows name of a Linux path, through the prefix's Z: drive."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    def run(self, argv, timeout=DEFAULT_TIMEOUT, check=False, input=None):
        """Runs a Windows program to its end; returns the CompletedProcess (text, CR LF kept).

        Its output goes through files, not pipes: a program that starts Wine's background
        services hands them its descriptors, and a pipe would then never reach its end.
        """
        with tempfile.TemporaryFile(dir=self.tmp) as out, tempfile.TemporaryFile(dir=self.tmp) as err, \
                tempfile.TemporaryFile(dir=self.tmp) as stdin:
            if input is not None:
                stdin.write(input.encode("latin-1"))
                stdin.seek(0)
            popen = subprocess.Popen(self._inside(["wine", *map(str, argv)]), env=self.env, stdout=out, stderr=err,
                                     stdin=stdin)
            try:
                returncode = popen.wait(timeout)
            except subprocess.TimeoutExpired:
                popen.kill()
                popen.wait()
                raise
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(argv, returncode, out.read().decode("latin-1"),
                                                 err.read().decode("latin-1"))
        if check and result.returncode != 0:
            raise HarnessError(f"{argv} ended with {result.returncode}: {result.stdout} {result.stderr}")
        return result

    def start(self, exe, *args, name=None, env=None):
        """Starts a Windows program in the background with its stdout (and stderr) in a file.

        Without a console or a terminal behind it, a GUI program starts as from the desktop. env
        adds variables to the session's (WINEDEBUG for a message trace, say).
        """
        name = name or Path(exe).stem
        stdout_path = self.tmp / f"{name}-{len(self.processes)}.out"
        with open(stdout_path, "wb") as out:
            popen = subprocess.Popen(self._inside(["wine", str(exe), *map(str, args)]),
                                     env=dict(self.env, **(env or {})),
                                     stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        process = WindowsProcess(popen, stdout_path)
        self.processes.append(process)
        return process

    def start_piped(self, exe, *args):
        """Starts a Windows program whose stdin and stdout are pipes: send_line and read_line talk to
        it. Its stderr goes to a file."""
        stderr_path = self.tmp / f"{Path(exe).stem}-{len(self.processes)}.err"
        with open(stderr_path, "wb") as err:
            popen = subprocess.Popen(self._inside(["wine", str(exe), *map(str, args)]), env=self.env,
                                     stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=err, text=True, encoding="latin-1", bufsize=1)
        process = WindowsProcess(popen, self.tmp / "unused", stdin=popen.stdin, stderr_path=stderr_path)
        self.processes.append(process)
        return process

    def start_ventora(self, wait=True):
        """Starts ventora.exe as a user would from the desktop (no console), by default waiting for its window."""
        process = self.start(self.build / "ventora.exe")
        if wait:
            try:
                self.wait_for_window(process)
            except HarnessError:
                # Ventora's only exit with 1 waits on a message box first; ending at once with 1 and
                # nothing said is Wine failing to start the program, as with the driver (seen once
                # in some hundred full runs), so it is started once more.
                if process.running() or process.returncode != 1 or process.stdout():
                    raise
                process = self.start(self.build / "ventora.exe")
                self.wait_for_window(process)
        return process

    def start_publisher(self, *args):
        """Starts publish_game; its first line ("ready", or nothing when it fails) is read here and
        handed on to the caller's first read_line.

        Now and then on a busy machine Wine fails to start a program at all: it ends at once with
        1, having said nothing (publish_game says why on stderr whenever it fails itself). Such a
        start is made once more, as for the driver and Ventora."""
        for attempt in range(2):
            game = self.start_piped(self.build / "publish_game.exe", *args)
            first = game.read_line(60)
            if first or attempt or not self._wine_failed_to_start(game):
                game.lines_read_ahead.append(first)
                return game
            game.kill()

    def _wine_failed_to_start(self, process):
        try:
            code = process.wait(15)
        except subprocess.TimeoutExpired:
            return False
        return code == 1 and not process.stderr_path.read_bytes()

    def end_publisher(self, game):
        """Quits a publish_game as a game quits (its page goes not live first); kills it when that
        does not end it."""
        if game.running():
            try:
                game.send_line("quit")
                game.wait(15)
            except (OSError, subprocess.TimeoutExpired):
                pass
        game.kill()

    def wait_for_window(self, process=None, timeout=DEFAULT_TIMEOUT):
        """Waits until Ventora's main window is ready and returns its handle as an int.

        Ready means with all its controls: the window exists before its controls do, and the log
        pane is made last, so a window without its log pane is not ready yet."""
        def found():
            if process is not None and not process.running():
                raise HarnessError(f"Ventora ended with {process.returncode} before showing a window: "
                                   f"{process.stdout()[-500:]!r}")
            result = self.driver_result("find")
            if result.returncode != DRIVER_DONE or self.driver_result("log").returncode != DRIVER_DONE:
                return None
            return int(result.stdout, 16)
        return wait_until(found, timeout, interval=0.1, message="Ventora's window did not appear")

    # --- the driver ----------------------------------------------------------------------------

    def driver_result(self, *args, timeout=DEFAULT_TIMEOUT):
        result = self.run([self.build / "ventora_driver.exe", *args], timeout=timeout)
        if result.returncode == DRIVER_NO_WINDOW and not result.stderr:
            # The driver always says so when it finds no window; a bare exit code 1 is Wine failing
            # to start the program (seen once in a few hundred runs), so it is started once more.
            result = self.run([self.build / "ventora_driver.exe", *args], timeout=timeout)
        return result

    def driver(self, *args, timeout=DEFAULT_TIMEOUT):
        """Runs one driver subcommand that must succeed; returns its stdout (CR LF kept)."""
        result = self.driver_result(*args, timeout=timeout)
        if result.returncode != DRIVER_DONE:
            raise HarnessError(f"driver {' '.join(map(str, args))} ended with {result.returncode}: "
                               f"{result.stdout!r} {result.stderr.strip()!r}")
        return result.stdout

    def visible(self):
        return self.driver("visible").strip() == "1"

    def wait_visible(self, visible, timeout=DEFAULT_TIMEOUT):
        wait_until(lambda: self.visible() == visible, timeout, interval=0.1,
                   message=f"the window did not become {'visible' if visible else 'hidden'}")

    def log(self):
        """The log pane's text, CR LF kept."""
        return self.driver("log")

    def log_lines(self):
        return self.log().split("\r\n")[:-1]

    def wait_for_log(self, predicate, timeout=DEFAULT_TIMEOUT):
        """Waits until predicate(log text) is true; returns the text."""
        last = [""]

        def check():
            result = self.driver_result("log")
            if result.returncode == DRIVER_REFUSED:
                return False  # the log pane is not made yet
            if result.returncode != DRIVER_DONE:
                raise HarnessError(f"driver log ended with {result.returncode}: {result.stderr.strip()!r}")
            last[0] = result.stdout
            return predicate(last[0])
        wait_until(check, timeout, interval=0.1)
        return last[0]

    def wait_for_log_line(self, line, timeout=DEFAULT_TIMEOUT):
        """Waits until the log holds line as a whole line; returns the text."""
        try:
            return self.wait_for_log(lambda text: line in text.split("\r\n"), timeout)
        except TimeoutError:
            raise TimeoutError(f"log line {line!r} did not appear; log: {self.log()[-800:]!r}") from None

    def tray_present(self, window=None):
        result = self.driver_result("tray-present", *([hex(window)] if window else []))
        if result.returncode not in (DRIVER_DONE, DRIVER_REFUSED):
            raise HarnessError(f"tray-present ended with {result.returncode}")
        return result.returncode == DRIVER_DONE

    def end_ventora(self, process):
        """Leaves no Ventora behind for the next test, whatever the last one did to it: closed as
        a user would when it still runs, killed when that does not end it."""
        if process.running():
            self.driver_result("close")
            try:
                process.wait(15)
            except subprocess.TimeoutExpired:
                pass
        process.kill()
        wait_until(lambda: self.driver_result("find").returncode != 0, 15,
                   message="a Ventora window outlived its process")

    def close_ventora(self, process, timeout=DEFAULT_TIMEOUT):
        """Closes the window as the user does and returns the exit code."""
        self.driver("close")
        return process.wait(timeout)

    # --- ports ---------------------------------------------------------------------------------

    def plug_port(self, number):
        """Puts a fan controller on COM<number>: a pty pair whose port end the prefix maps to it."""
        if number in self.devices:
            device = self.devices[number]
            device.plug()
        else:
            device = self.devices[number] = SerialDevice(self, number)
        place = self.prefix / "dosdevices" / f"com{number}"
        if place.is_dir() and not place.is_symlink():
            place.rmdir()
        elif place.is_symlink():
            place.unlink()
        place.symlink_to(device.port_link)
        return device

    def unmap_port(self, number):
        """Takes COM<number> away entirely: unplugged, and absent as on Windows again."""
        device = self.devices.pop(number, None)
        if device:
            device.unplug()
        self._make_port_absent(number)

    def _pin_com_ports(self):
        """Tells Wine where every COM port lives: the path of its pty link, whether plugged or not.

        Wine's mount manager maps the ports each time a wineserver starts for the prefix, and left
        to itself it points COM1 at /dev/ttyS0 even where a pty link is in place. A wineserver
        that ends before the session does (one that dies, or loses its socket) is started again by
        the next Windows program, and from then on every Ventora of the session would connect to
        the machine's serial port while the session's fan controller received nothing. With the
        ports named in the registry, a new mount manager maps each one where the session has it.
        """
        ports = self.tmp / "ports"
        lines = ["REGEDIT4", "", r"[HKEY_LOCAL_MACHINE\Software\Wine\Ports]"]
        lines += [f'"COM{n}"="{ports / f"com{n}"}"' for n in range(1, HIGHEST_COM_PORT + 1)]
        table = self.tmp / "ports.reg"
        table.write_text("\r\n".join(lines) + "\r\n")
        # Wine's reg has been seen, once in many runs on a loaded machine, to end with 1 and say
        # nothing; the import is the same each time, so a second try is safe.
        for _ in range(REG_IMPORT_ATTEMPTS):
            result = self.run(["reg", "import", self.windows_path(table)], timeout=BOOT_TIMEOUT)
            if result.returncode == 0:
                return
        raise HarnessError(f"reg import of the COM port table ended with {result.returncode}: "
                           f"{result.stdout} {result.stderr}")

    def _make_port_absent(self, number):
        """Points COM<number> at the path its pty link will have, which does not exist yet.

        A port whose place is an empty directory fails to open with access denied, as a port held
        by another program does; one whose link leads nowhere fails with file not found, as a port
        that is not there does on Windows.
        """
        place = self.prefix / "dosdevices" / f"com{number}"
        if place.is_symlink():
            place.unlink()
        elif place.is_dir():
            place.rmdir()
        place.symlink_to(self.tmp / "ports" / f"com{number}")

    # --- settings ------------------------------------------------------------------------------

    def user_profile(self):
        users = self.prefix / "drive_c" / "users"
        names = [p for p in users.iterdir() if p.name != "Public" and p.is_dir() and not p.is_symlink()]
        if len(names) != 1:
            raise HarnessError(f"cannot tell the prefix's user among {names}")
        return names[0]

    @property
    def settings_path(self):
        """Where Ventora keeps its settings: C:\\users\\<user>\\AppData\\Roaming\\Ventora\\config.bin."""
        return self.user_profile() / "AppData" / "Roaming" / "Ventora" / "config.bin"

    def remove_settings(self):
        self.settings_path.unlink(missing_ok=True)

    def write_settings(self, port_index=0, speed_off=26, speed_min=0, speed_max=79, max_car_speed=0):
        self.settings_path.parent.mkdir(parents=True, exist_ok=True)
        self.settings_path.write_bytes(struct.pack("<5i", port_index, speed_off, speed_min, speed_max, max_car_speed))

    def read_settings(self):
        """The settings file as (portIndex, speedOff, speedMin, speedMax, maxCarSpeed), or None."""
        try:
            data = self.settings_path.read_bytes()
        except FileNotFoundError:
            return None
        return struct.unpack("<5i", data) if len(data) == 20 else data

    # --- screen --------------------------------------------------------------------------------

    def screenshot(self, save_as=None):
        """Captures the display; with save_as, also writes it as a PNG there."""
        ppm = self.tmp / "screen.ppm"
        subprocess.run(["import", "-display", f":{self.display}", "-window", "root", "-depth", "8", f"ppm:{ppm}"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
        shot = Screenshot.from_ppm(ppm.read_bytes())
        if save_as:
            shot.save_png(save_as)
        return shot

    def client_origin(self):
        x, y = self.driver("client-origin").split()
        return int(x), int(y)

    def tray_icons(self):
        """Centres of the tray icons on the screen now, rightmost first."""
        return tray_icons(self.screenshot())

    def click(self, x, y, button=1):
        """A real mouse click at a screen position, through the X server."""
        self.xdotool("mousemove", x, y, "click", button)

    def xdotool(self, *args):
        env = dict(os.environ, DISPLAY=f":{self.display}")
        subprocess.run(["xdotool", *map(str, args)], env=env, check=True, timeout=30)

    # --- the end -------------------------------------------------------------------------------

    def close(self):
        if self._closed:
            return
        self._closed = True
        atexit.unregister(self.close)
        for process in self.processes:
            process.kill()
        for device in self.devices.values():
            device.unplug()
        if self.env:
            try:
                _stop_wineserver(self.env)
            except (subprocess.SubprocessError, OSError):
                pass
        if self.xvfb:
            self.xvfb.stop()
        if getattr(self, "_udp_ports_lock", None):
            self._udp_ports_lock.close()
        shutil.rmtree(self.tmp, ignore_errors=True)
        if self._guard:
            self._guard.terminate()
            self._guard.wait(10)


# F1, Forza, OutGauge, Richard Burns Rally and Project Motor Racing, as Ventora listens by default.
GAMES_UDP_PORTS = (20777, 5607, 4444, 6776, 7576)
UDP_PORTS_LOCK = Path(tempfile.gettempdir()) / "ventora-games-udp-ports.lock"


def udp_port_free(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        try:
            probe.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def _claim_udp_ports(games_own):
    """(lock, ports): with games_own, the games' own ports with the machine-wide lock that holds
    them for this session, when no other session has them and they are free; else (None, as many
    free ports)."""
    if games_own:
        lock = open(UDP_PORTS_LOCK, "a")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            if all(map(udp_port_free, GAMES_UDP_PORTS)):
                return lock, list(GAMES_UDP_PORTS)
        except OSError:
            pass
        lock.close()
    return None, _free_udp_ports(len(GAMES_UDP_PORTS))


def _free_udp_ports(count):
    """Free ports below the range the system hands out to sockets that send without a port of
    their own (a test's senders, any DNS look-up): between two Ventoras of a session, the ports
    are free, and such a socket must not take one of them. Random, so that sessions side by side
    rarely pick the same; bound once to see that none holds it now."""
    try:
        ephemeral_low = int(Path("/proc/sys/net/ipv4/ip_local_port_range").read_text().split()[0])
    except (OSError, ValueError, IndexError):
        ephemeral_low = 32768
    candidates = [port for port in range(10000, ephemeral_low) if port not in GAMES_UDP_PORTS]
    ports = []
    for port in random.sample(candidates, len(candidates)):
        if udp_port_free(port):
            ports.append(port)
            if len(ports) == count:
                return ports
    raise HarnessError(f"no {count} free UDP ports between 10000 and {ephemeral_low}")


def main(argv):
    """python3 -m tests.wine.harness exec COMMAND...: runs COMMAND with WINEPREFIX, DISPLAY and the
    rest set to a throwaway Wine world of its own (for the cross-built GoogleTest programs, say),
    and returns its exit code."""
    if len(argv) < 2 or argv[0] != "exec":
        print("usage: python3 -m tests.wine.harness exec COMMAND [ARGS...]", file=sys.stderr)
        return 2
    with Session(require=()) as session:
        return subprocess.run(argv[1:], env=session.env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
