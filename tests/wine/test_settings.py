"""The settings file as a user's runs meet it: what the first start shows and writes, what a file
of any length puts into the controls and what the next save makes of it, the save at close and
at the end of a Windows session, and a save that cannot be made, which must leave the old file
whole."""

import contextlib
import shutil
import struct
import unittest

from tests.wine.harness import Session, wait_until

# The built-in record as a file: COM1, speed OFF 26, MIN 0, MAX 79, automatic maximum speed.
DEFAULT_BYTES = bytes.fromhex("00000000 1A000000 00000000 4F000000 00000000")
DEFAULT_RECORD = (0, 26, 0, 79, 0)

MANUAL_LINE = "Manual maximum car speed"

# Slider indices in creation order, which is the record's field order from speedOff on.
SPEED_OFF, SPEED_MIN, SPEED_MAX, MAX_CAR_SPEED = range(4)
NO_SELECTION = -1


def record_bytes(*fields):
    return struct.pack("<5i", *fields)


class SettingsTestCase(unittest.TestCase):
    """One Wine session for the class; each test starts its own Ventora over the file it lays down."""

    @classmethod
    def setUpClass(cls):
        cls.session = Session()
        cls.addClassCleanup(cls.session.close)

    @property
    def path(self):
        return self.session.settings_path

    @property
    def folder(self):
        return self.session.settings_path.parent

    def clear_folder(self):
        """Takes the product folder away, whatever an earlier test left in it."""
        shutil.rmtree(self.folder, ignore_errors=True)
        self.assertFalse(self.folder.exists())

    def lay_down(self, data):
        """A fresh folder holding config.bin with exactly these bytes."""
        self.clear_folder()
        self.folder.mkdir(parents=True)
        self.path.write_bytes(data)

    def folder_entries(self):
        return sorted(entry.name for entry in self.folder.iterdir())

    @contextlib.contextmanager
    def running_ventora(self):
        """A Ventora whose first tick has run, ended on leaving the block even when a check failed,
        so that the next start is not handed over to a leftover one."""
        app = self.session.start_ventora()
        try:
            # The first tick logs the maximum-speed mode, after it has read the sliders back.
            self.session.wait_for_log(lambda text: text != "")
            yield app
        finally:
            self.session.end_ventora(app)

    def controls(self):
        """(combo selection, the four slider positions) as the window shows them."""
        combo = int(self.session.driver("port"))
        return combo, tuple(int(self.session.driver("slider", index)) for index in range(4))

    def move_sliders_and_wait_for_a_tick(self, positions):
        """Moves the sliders as a user does, the maximum car speed last: its change from 0 makes the
        next tick log the manual mode, which shows that tick has read every slider back."""
        self.assertNotEqual(positions.get(MAX_CAR_SPEED, 0), 0, "the tick would leave no trace")
        self.assertEqual(int(self.session.driver("slider", MAX_CAR_SPEED)), 0)
        for index in sorted(positions):
            self.assertEqual(int(self.session.driver("slider", index, positions[index])), positions[index])
        self.session.wait_for_log_line(MANUAL_LINE)

    def close_and_expect_exit(self, app):
        window = self.session.wait_for_window()
        self.assertEqual(self.session.close_ventora(app), 0)
        self.assertFalse(self.session.tray_present(window), "the tray icon outlived the program")


class FirstStartTest(SettingsTestCase):

    def test_without_a_file_defaults_show_and_closing_writes_the_default_bytes(self):
        self.clear_folder()
        with self.running_ventora() as app:
            self.assertEqual(self.controls(), (0, DEFAULT_RECORD[1:]))
            self.assertTrue(self.folder.is_dir(), "the folder Ventora was not made at start-up")
            self.assertEqual(self.folder_entries(), [], "something was written before the program ended")
            self.close_and_expect_exit(app)
        self.assertEqual(self.path.read_bytes(), DEFAULT_BYTES)
        self.assertEqual(self.folder_entries(), ["config.bin"], "the save left a temporary file behind")


class LoadTest(SettingsTestCase):

    def test_file_bytes_lie_over_the_defaults_and_the_save_writes_what_the_controls_hold(self):
        cases = [
            # name, file bytes, (combo, sliders) shown, record saved at close
            ("all 20 bytes", record_bytes(4, 60, -10, 95, 180),
             (4, (60, -10, 95, 180)), (4, 60, -10, 95, 180)),
            # The two low bytes of speedOff give 40; its high bytes and the other fields stay default.
            ("6 bytes", bytes.fromhex("03000000 2800"),
             (3, (40, 0, 79, 0)), (3, 40, 0, 79, 0)),
            ("30 bytes", record_bytes(2, 33, 5, 70, 120) + b"\x7f" * 10,
             (2, (33, 5, 70, 120)), (2, 33, 5, 70, 120)),
            # The slider holds speedOff at the top of its range, and the tick reads that back.
            ("speedOff 200", record_bytes(0, 200, 0, 79, 0),
             (0, (79, 0, 79, 0)), (0, 79, 0, 79, 0)),
        ]
        for name, data, shown, saved in cases:
            with self.subTest(file=name):
                self.lay_down(data)
                with self.running_ventora() as app:
                    self.assertEqual(self.controls(), shown)
                    self.close_and_expect_exit(app)
                self.assertEqual(self.path.read_bytes(), record_bytes(*saved))
                self.assertEqual(self.folder_entries(), ["config.bin"])

    def test_port_index_past_the_list_selects_nothing_drives_that_port_and_is_kept(self):
        self.lay_down(record_bytes(12, 26, 0, 79, 0))
        self.addCleanup(self.session.unmap_port, 13)
        device = self.session.plug_port(13)
        with self.running_ventora() as app:
            self.assertEqual(self.controls(), (NO_SELECTION, DEFAULT_RECORD[1:]))
            self.session.wait_for_log_line("Connected to COM13")
            device.wait_for_bytes(1)
            self.close_and_expect_exit(app)
        self.assertEqual(self.path.read_bytes(), record_bytes(12, 26, 0, 79, 0))


class SaveTest(SettingsTestCase):

    def test_slider_moved_by_the_user_is_saved_at_close_beside_the_loaded_fields(self):
        self.lay_down(record_bytes(5, 30, 2, 75, 0))
        with self.running_ventora() as app:
            self.move_sliders_and_wait_for_a_tick({SPEED_MIN: -15, MAX_CAR_SPEED: 300})
            self.close_and_expect_exit(app)
        self.assertEqual(self.path.read_bytes(), record_bytes(5, 30, -15, 75, 300))
        self.assertEqual(self.folder_entries(), ["config.bin"])

    def test_session_end_saves_removes_the_tray_icon_and_exits_with_zero(self):
        # Logoff and shutdown never destroy the window: without a save here every change is lost.
        self.lay_down(DEFAULT_BYTES)
        with self.running_ventora() as app:
            window = self.session.wait_for_window()
            self.assertEqual(int(self.session.driver("port", 6)), 6)
            self.move_sliders_and_wait_for_a_tick({SPEED_OFF: 12, SPEED_MAX: 88, MAX_CAR_SPEED: 150})
            self.assertEqual(self.session.driver("end-session").strip(), "1",
                             "the program refused to let the session end")
            wait_until(lambda: not app.running(), message="the program outlived the end of the session")
            self.assertEqual(app.returncode, 0)
            self.assertFalse(self.session.tray_present(window), "the tray icon outlived the program")
        self.assertEqual(self.path.read_bytes(), record_bytes(6, 12, 0, 88, 150))
        self.assertEqual(self.folder_entries(), ["config.bin"])

    def test_cancelled_session_end_keeps_running_with_the_tray_icon_and_writes_nothing(self):
        # The user cancelled the shutdown: the session goes on, and so does Ventora.
        self.clear_folder()
        with self.running_ventora() as app:
            window = self.session.wait_for_window()
            self.assertEqual(self.session.driver("end-session", "cancel").strip(), "1")
            self.assertEqual(self.folder_entries(), [], "settings were written")
            self.assertTrue(self.session.tray_present(window), "the tray icon is gone")
            self.session.driver("sync")
            self.assertTrue(app.running())

    def test_save_that_cannot_be_made_leaves_the_old_file_whole(self):
        # 30 bytes: any save at all, even a torn one, would leave another length or other bytes.
        old = record_bytes(3, 44, 6, 66, 0) + bytes(range(10))
        cases = [
            # The temporary file's place is taken, so the new bytes cannot be written anywhere.
            ("temporary file blocked", "config.bin.new"),
            # The new bytes are written but cannot take the place of config.bin.
            ("config.bin replaced by a folder", "config.bin"),
        ]
        for name, blocked in cases:
            with self.subTest(case=name):
                self.lay_down(old)
                if blocked == "config.bin":
                    self.path.unlink()
                (self.folder / blocked).mkdir()
                before = self.folder_entries()
                with self.running_ventora() as app:
                    self.move_sliders_and_wait_for_a_tick({SPEED_OFF: 70, MAX_CAR_SPEED: 222})
                    # Nothing is reported: the program still removes its icon and ends with 0.
                    self.close_and_expect_exit(app)
                self.assertEqual(self.folder_entries(), before, "a partial or temporary file was left")
                self.assertEqual(list((self.folder / blocked).iterdir()), [])
                if blocked != "config.bin":
                    self.assertEqual(self.path.read_bytes(), old)


if __name__ == "__main__":
    unittest.main()
