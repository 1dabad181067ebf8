"""scripts/ventora-proton.sh against a prefix of the harness standing in for a game's, and a pty
pair standing in for the board: the COM link is made, Ventora runs in that prefix and its bytes
reach the board; every bad input is refused with its message and leaves the prefix as it was."""

import os
import re
import shutil
import stat
import subprocess
import tempfile
import unittest
from pathlib import Path

from tests.wine.harness import REPO_ROOT, Session, SerialDevice, wait_until

SCRIPT = REPO_ROOT / "scripts" / "ventora-proton.sh"
PORTS_KEY = r"HKLM\Software\Wine\Ports"
# The level byte Ventora sends with no game live and default settings (speed OFF).
SPEED_OFF_DEFAULT = 26
STEAM_APP_ID = "244210"
# The pty pair numbers: high, so that the harness maps no COM port to them by itself.
BOARD, SECOND_BOARD = 100, 101


def snapshot(prefix):
    """Every entry of the prefix but Wine's registry files (the wineserver writes those when it
    likes): path, kind, link target, size and modification time. The registry keys the script may
    write are compared apart."""
    entries = {}
    for folder, names, files in os.walk(prefix):
        for name in names + files:
            path = Path(folder) / name
            info = path.lstat()
            if path.suffix == ".reg" and path.parent == Path(prefix):
                continue
            target = os.readlink(path) if stat.S_ISLNK(info.st_mode) else None
            entries[str(path.relative_to(prefix))] = (stat.S_IFMT(info.st_mode), target, info.st_size, info.st_mtime_ns)
    return entries


class ProtonScriptTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.session = Session()
        cls.addClassCleanup(cls.session.close)
        cls.board = cls.session.devices[BOARD] = SerialDevice(cls.session, BOARD)
        cls.second_board = cls.session.devices[SECOND_BOARD] = SerialDevice(cls.session, SECOND_BOARD)
        # A Steam library holding the game's compatdata, whose pfx is the session's prefix.
        cls.steam = cls.session.tmp / "steam"
        compatdata = cls.steam / "steamapps" / "compatdata" / STEAM_APP_ID
        compatdata.mkdir(parents=True)
        (compatdata / "pfx").symlink_to(cls.session.prefix)

    def run_script(self, *args, env=None, wrapper=()):
        environment = dict(self.session.env, STEAM_DIR=str(self.steam), HOME=str(self.session.tmp))
        environment.pop("WINEPREFIX")
        return subprocess.run([*wrapper, "bash", str(SCRIPT), *map(str, args)], env=dict(environment, **(env or {})),
                              capture_output=True, text=True, timeout=120)

    def ports_key(self):
        result = self.session.run(["reg", "query", PORTS_KEY])
        if result.returncode != 0 and not result.stdout and not result.stderr:
            # Wine failing to start the program at all, as the harness sees now and then on a
            # busy machine: reg itself always says why it fails.
            result = self.session.run(["reg", "query", PORTS_KEY])
        self.assertEqual(result.returncode, 0, f"reg query {PORTS_KEY}: {result.stdout!r} {result.stderr!r}")
        return result.stdout

    def end_ventora(self):
        if self.session.driver_result("find").returncode == 0:
            self.session.driver_result("close")
            wait_until(lambda: self.session.driver_result("find").returncode != 0, 30,
                       message="Ventora outlived WM_CLOSE")

    def test_board_becomes_the_com_port_and_ventora_in_the_prefix_drives_it(self):
        cases = [
            # name, the script's arguments, COM number, the board, Ventora's port index to choose
            ("prefix path, COM1 by default", [self.session.prefix, self.board.port_link], 1, self.board, None),
            ("Steam app id, COM2", ["--com", 2, STEAM_APP_ID, self.second_board.port_link], 2, self.second_board, 1),
        ]
        for name, args, number, board, port_index in cases:
            with self.subTest(case=name):
                self.addCleanup(self.end_ventora)
                result = self.run_script(*args)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(os.readlink(self.session.prefix / "dosdevices" / f"com{number}"), str(board.port_link))
                self.assertRegex(self.ports_key(), rf"COM{number}\s+REG_SZ\s+{re.escape(str(board.port_link))}")
                self.session.wait_for_window()
                if port_index is not None:
                    self.session.driver("port", port_index)
                self.session.wait_for_log_line(f"Connected to COM{number}")
                count = len(board.bytes())
                received = board.wait_for_bytes(count + 5)[count:]
                self.assertEqual(set(received), {SPEED_OFF_DEFAULT})
                self.end_ventora()

    def test_bad_input_is_refused_with_its_message_and_changes_nothing(self):
        prefix = self.session.prefix
        device = self.board.port_link
        not_a_device = self.session.tmp / "not-a-device"
        not_a_device.write_text("")
        cases = [
            ("missing prefix", [self.session.tmp / "nowhere", device], r"the prefix .*/nowhere does not exist"),
            ("folder that is no prefix", [self.steam, device], r".*/steam is not a Wine prefix"),
            ("unknown Steam app", ["480", device], r"no Proton prefix for Steam app 480"),
            ("missing device", [prefix, "/dev/ttyACM97"], r"the device /dev/ttyACM97 does not exist"),
            ("file for a device", [prefix, not_a_device], r".*/not-a-device is not a serial device"),
            ("COM0", ["--com", "0", prefix, device], r"the COM number must be 1 to 9 .*not '0'"),
            ("COM10", ["--com", "10", prefix, device], r"the COM number must be 1 to 9 .*not '10'"),
            ("COM x", ["--com", "x", prefix, device], r"the COM number must be 1 to 9 .*not 'x'"),
        ]
        for name, args, message in cases:
            with self.subTest(case=name):
                before, key_before = snapshot(prefix), self.ports_key()
                result = self.run_script(*args)
                self.assertEqual(result.returncode, 2)
                self.assertRegex(result.stderr, "^ventora-proton: " + message)
                self.assertEqual(snapshot(prefix), before)
                self.assertEqual(self.ports_key(), key_before)
                self.assertNotEqual(self.session.driver_result("find").returncode, 0, "Ventora was started")

    @unittest.skipUnless(shutil.which("setpriv"), "setpriv runs the script as a user without the device's group")
    def test_a_user_who_may_not_open_the_device_is_told_which_group_to_join(self):
        # A prefix and a script that user may read; the pty itself belongs to root and the group tty.
        folder = Path(tempfile.mkdtemp(prefix="ventora-proton-"))
        self.addCleanup(shutil.rmtree, folder)
        folder.chmod(0o755)
        prefix = folder / "prefix"
        (prefix / "dosdevices").mkdir(parents=True)
        (prefix / "system.reg").write_text("WINE REGISTRY Version 2\n")
        shutil.copy(SCRIPT, folder / SCRIPT.name)
        for path in (prefix, prefix / "dosdevices", prefix / "system.reg", folder / SCRIPT.name):
            path.chmod(0o755)
        pty = os.path.realpath(self.board.port_link)
        group = Path(pty).group()
        before = snapshot(prefix)
        result = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "bash",
                                 str(folder / SCRIPT.name), str(prefix), pty],
                                capture_output=True, text=True, timeout=60, env={"PATH": os.environ["PATH"]})
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertRegex(result.stderr, rf"you may not open {re.escape(pty)}: it belongs to the group '{group}'"
                                        rf".*sudo usermod -aG {group} ")
        self.assertEqual(snapshot(prefix), before)


if __name__ == "__main__":
    unittest.main()
