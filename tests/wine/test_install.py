"""The release as a user meets it under Wine: the silent install (files, shortcuts, the Uninstall
entry, Ventora started with Windows), an upgrade over a running Ventora with moved sliders, and the
silent uninstall that leaves only the settings; and the version resource of every shipped exe."""

import re
import shutil
import struct
import subprocess
import unittest
from pathlib import Path

from tests.wine import harness
from tests.wine.harness import REPO_ROOT, Session, wait_until

VERSION = re.search(r"project\(Ventora VERSION (\d+\.\d+\.\d+)", (REPO_ROOT / "CMakeLists.txt").read_text())[1]
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ventora"
INSTALLED_FILES = ["LICENSE.txt", "README.txt", "publish_game.exe", "uninstall.exe", "ventora-board.exe",
                   "ventora-gpbikes.dlo", "ventora-krp.dlo", "ventora-mxbikes.dlo", "ventora-trucks.dll",
                   "ventora.exe"]
MANUAL_LINE = "Manual maximum car speed"
# Slider positions a user moved (speed OFF, MIN, MAX, max car speed), and the settings file they give.
MOVED_SLIDERS = (41, -7, 93, 210)


def setup_exe(build):
    return build / f"ventora-{VERSION}-setup.exe"


class Install:
    """Where a per-user install puts things in the session's prefix, and how to read them back."""

    def __init__(self, session):
        self.session = session
        profile = session.user_profile()
        self.windows_profile = "C:\\users\\" + profile.name
        self.folder = profile / "AppData" / "Local" / "Programs" / "Ventora"
        self.windows_folder = self.windows_profile + r"\AppData\Local\Programs\Ventora"
        self.windows_exe = self.windows_folder + r"\ventora.exe"
        self.programs = profile / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs"

    def run_setup(self, setup, *args):
        result = self.session.run([setup, "/S", *args], timeout=120)
        # A stub that cannot start exits 0 too: the tests look at what was installed, not at this.
        return result.returncode

    def files(self):
        return sorted(entry.name for entry in self.folder.iterdir()) if self.folder.exists() else []

    @property
    def start_menu_shortcut(self):
        return self.programs / "Ventora.lnk"

    @property
    def setup_shortcut(self):
        return self.programs / "Ventora fan controller set-up.lnk"

    @property
    def startup_shortcut(self):
        # Wine spells the folder "StartUp"; Windows paths ignore case, so either is the folder.
        folder = next((e for e in self.programs.iterdir() if e.name.lower() == "startup"), self.programs / "Startup")
        return folder / "Ventora.lnk"

    def uninstall_values(self):
        """The Uninstall key's values as {name: text}, or None without the key."""
        result = self.session.run(["reg", "query", UNINSTALL_KEY])
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.splitlines():
            match = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(.*?)\s*$", line)
            if match:
                name, kind, text = match.groups()
                values[name] = int(text, 16) if kind == "REG_DWORD" else text
        return values

    def start_installed(self):
        process = self.session.start(self.windows_exe, name="installed-ventora")
        self.session.wait_for_window(process)
        return process


def shortcut_target(path):
    """The local path a shell link points at (its LinkInfo's LocalBasePath)."""
    data = Path(path).read_bytes()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    position = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        position += 2 + struct.unpack_from("<H", data, position)[0]
    if not flags & 0x2:  # HasLinkInfo
        return None
    base_offset = struct.unpack_from("<I", data, position + 16)[0]
    start = position + base_offset
    return data[start:data.index(b"\0", start)].decode("latin-1")


def restart_windows(session):
    """Logs the prefix's user off and on again, as a reboot does: every program ends and Wine's
    session starts afresh, running what the Startup folder holds. The COM ports stay blocked
    throughout, as the harness keeps them, so nothing started reaches /dev/ttyS*."""
    harness._stop_wineserver(session.env)
    harness._block_com_ports(session.prefix)
    harness._start_wineserver(session.env)
    session.run(["wineboot"], timeout=harness.BOOT_TIMEOUT)
    harness._check_no_serial_device(session.prefix)
    for number in range(1, harness.HIGHEST_COM_PORT + 1):
        session._make_port_absent(number)


def programs_of_prefix(session):
    """The command lines of the prefix's Windows programs that are not Wine's own services."""
    marker = f"WINEPREFIX={session.prefix}".encode() + b"\0"
    found = []
    for process in Path("/proc").glob("[0-9]*"):
        try:
            if marker not in (process / "environ").read_bytes():
                continue
            command = (process / "cmdline").read_bytes().split(b"\0")[0].decode("latin-1")
        except OSError:
            continue
        if command.startswith("C:\\") and not command.lower().startswith("c:\\windows\\"):
            found.append(command)
    return found


def move_sliders(session, positions):
    """Moves the four sliders as a user does, the maximum car speed last: its change from 0 makes
    the next tick log the manual mode, which shows that tick has read every slider back."""
    for index, position in enumerate(positions):
        session.driver("slider", index, position)
    session.wait_for_log_line(MANUAL_LINE)


class InstallTestCase(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.session = Session()
        cls.addClassCleanup(cls.session.close)
        cls.setup = setup_exe(cls.session.build)
        if not cls.setup.exists():
            raise harness.HarnessError(f"{cls.setup} is missing: build the windows preset with nsis installed")
        cls.install = Install(cls.session)

    def end_running_ventora(self):
        """Leaves no Ventora behind, however it was started (by the test, the installer or Windows)."""
        if self.session.driver_result("find").returncode == 0:
            self.session.driver_result("close")
            wait_until(lambda: self.session.driver_result("find").returncode != 0, 30,
                       message="a Ventora outlived WM_CLOSE")


class SilentInstallTest(InstallTestCase):

    def test_puts_files_shortcuts_and_uninstall_entry_and_ventora_starts_with_windows(self):
        install = self.install
        self.assertEqual(install.run_setup(self.setup), 0)
        self.assertEqual(install.files(), INSTALLED_FILES)
        self.assertEqual((install.folder / "ventora.exe").read_bytes(), (self.session.build / "ventora.exe").read_bytes())
        self.assertEqual(shortcut_target(install.start_menu_shortcut), install.windows_exe)
        self.assertEqual(shortcut_target(install.setup_shortcut), install.windows_folder + r"\ventora-board.exe")
        self.assertEqual(shortcut_target(install.startup_shortcut), install.windows_exe)

        values = install.uninstall_values()
        size_kib = sum((install.folder / name).stat().st_size for name in INSTALLED_FILES) // 1024
        self.assertLessEqual(abs(values.pop("EstimatedSize") - size_kib), len(INSTALLED_FILES))
        self.assertEqual(values, {
            "DisplayName": "Ventora",
            "DisplayVersion": VERSION,
            "Publisher": "Ventora developers",
            "DisplayIcon": install.windows_exe + ",0",
            "InstallLocation": install.windows_folder,
            "UninstallString": f'"{install.windows_folder}\\uninstall.exe"',
            "QuietUninstallString": f'"{install.windows_folder}\\uninstall.exe" /S',
            "NoModify": 1,
            "NoRepair": 1,
        })

        # A silent first install starts nothing; the next Windows session starts Ventora, in the tray.
        self.assertNotEqual(self.session.driver_result("find").returncode, 0)
        restart_windows(self.session)
        window = self.session.wait_for_window()
        self.addCleanup(self.end_running_ventora)
        self.assertFalse(self.session.visible())
        self.assertTrue(self.session.tray_present(window))
        self.assertIn(install.windows_exe, programs_of_prefix(self.session))

    def test_without_start_with_windows_only_the_start_menu_shortcut_is_made_and_an_upgrade_keeps_it_so(self):
        install = self.install
        for args in (["/NOSTARTUP"], []):
            with self.subTest(setup_args=args):
                self.assertEqual(install.run_setup(self.setup, *args), 0)
                self.assertEqual(install.files(), INSTALLED_FILES)
                self.assertEqual(shortcut_target(install.start_menu_shortcut), install.windows_exe)
                self.assertFalse(install.startup_shortcut.exists())
                self.assertEqual(install.uninstall_values()["DisplayVersion"], VERSION)


class InteractiveInstallTest(InstallTestCase):

    def test_taking_every_default_installs_and_starts_ventora_into_the_tray(self):
        setup = self.session.start(self.setup, name="setup")
        # Enter takes each page's default button: Next, Next, Install, then Finish with
        # "Start Ventora now" ticked.
        wait_until(lambda: self.session.xdotool("key", "Return") or not setup.running(), 120, interval=1.0,
                   message="the installer did not finish on Enter alone")
        self.assertEqual(setup.returncode, 0)
        window = self.session.wait_for_window()
        self.addCleanup(self.end_running_ventora)
        self.assertFalse(self.session.visible())
        self.assertTrue(self.session.tray_present(window))
        self.assertIn(self.install.windows_exe, programs_of_prefix(self.session))
        self.assertEqual(shortcut_target(self.install.startup_shortcut), self.install.windows_exe)


class UpgradeTest(InstallTestCase):

    def earlier_release(self):
        """An installer of version 0.9.0 whose ventora.exe carries a trailing mark (the loader
        ignores bytes past the image), so that a replaced file can be told from an old one."""
        staged = self.session.tmp / "earlier"
        staged.mkdir()
        for name in ("ventora.exe", "publish_game.exe", "ventora-board.exe", "ventora-trucks.dll", "ventora-krp.dlo",
                     "ventora-mxbikes.dlo", "ventora-gpbikes.dlo", "README.txt"):
            shutil.copy(self.session.build / name, staged / name)
        with open(staged / "ventora.exe", "ab") as exe:
            exe.write(b"earlier release")
        output = self.session.tmp / "ventora-0.9.0-setup.exe"
        subprocess.run(["makensis", "-V1", "-DVERSION=0.9.0", f"-DBUILD_DIR={staged}", f"-DSOURCE_DIR={REPO_ROOT}",
                        f"-DOUTFILE={output}", str(REPO_ROOT / "installer" / "ventora.nsi")], check=True, timeout=300)
        return output

    def test_over_a_running_ventora_keeps_its_moved_sliders_and_leaves_the_new_version_running(self):
        install = self.install
        self.session.remove_settings()
        install.run_setup(self.earlier_release())
        self.assertEqual(install.uninstall_values()["DisplayVersion"], "0.9.0")
        old = install.start_installed()
        self.addCleanup(self.end_running_ventora)
        old_pid = self.session.driver("pid").strip()
        move_sliders(self.session, MOVED_SLIDERS)

        self.assertEqual(install.run_setup(self.setup), 0)
        # Closed as a user closes it, so it saved what the sliders held.
        self.assertEqual(old.wait(30), 0)
        self.assertEqual(self.session.read_settings(), (0, *MOVED_SLIDERS))
        self.assertEqual((install.folder / "ventora.exe").read_bytes(), (self.session.build / "ventora.exe").read_bytes())
        self.assertEqual(install.uninstall_values()["DisplayVersion"], VERSION)

        window = self.session.wait_for_window()
        self.assertNotEqual(self.session.driver("pid").strip(), old_pid)
        self.assertTrue(self.session.tray_present(window))
        self.assertEqual(tuple(int(self.session.driver("slider", index)) for index in range(4)), MOVED_SLIDERS)


class UninstallTest(InstallTestCase):

    def test_closes_a_running_ventora_and_removes_everything_but_the_settings(self):
        install = self.install
        install.run_setup(self.setup)
        self.assertEqual(install.files(), INSTALLED_FILES)
        self.assertTrue(install.startup_shortcut.exists() and install.start_menu_shortcut.exists()
                        and install.setup_shortcut.exists())
        self.session.write_settings(3, 30, 4, 70, 180)
        running = install.start_installed()
        self.addCleanup(self.end_running_ventora)

        self.session.run([install.windows_folder + r"\uninstall.exe", "/S"], timeout=120)
        # The uninstaller hands its work to a copy of itself in the temporary folder and returns.
        wait_until(lambda: not programs_of_prefix(self.session), 120,
                   message=lambda: f"still running: {programs_of_prefix(self.session)}")
        self.assertEqual(running.wait(30), 0)
        self.assertFalse(install.folder.exists(), install.files())
        self.assertFalse(install.start_menu_shortcut.exists())
        self.assertFalse(install.setup_shortcut.exists())
        self.assertFalse(install.startup_shortcut.exists())
        self.assertIsNone(install.uninstall_values())
        self.assertEqual(self.session.read_settings(), (3, 30, 4, 70, 180))
        self.assertEqual(sorted(p.name for p in self.session.settings_path.parent.iterdir()), ["config.bin"])


def library_folders(*libraries):
    """Steam's libraryfolders.vdf as Steam writes it: each library's path (backslashes escaped) and
    the app ids it lists."""
    text = '"libraryfolders"\n{\n'
    for number, (path, app_ids) in enumerate(libraries):
        apps = "".join(f'\t\t\t"{app_id}"\t\t"{1000 + len(app_id)}"\n' for app_id in app_ids)
        escaped = path.replace("\\", "\\\\")
        text += (f'\t"{number}"\n\t{{\n\t\t"path"\t\t"{escaped}"\n\t\t"label"\t\t""\n'
                 f'\t\t"apps"\n\t\t{{\n{apps}\t\t}}\n\t}}\n')
    return text + "}\n"


def app_manifest(app_id, installdir):
    """The start of a steamapps\\appmanifest_<app id>.acf, up to the game's folder name."""
    return (f'"AppState"\n{{\n\t"appid"\t\t"{app_id}"\n\t"Universe"\t\t"1"\n'
            f'\t"name"\t\t"Truck game {app_id}"\n\t"StateFlags"\t\t"4"\n'
            f'\t"installdir"\t\t"{installdir}"\n\t"UserConfig"\n\t{{\n\t}}\n}}\n')


# Euro Truck Simulator 2 (227300) is in Steam's own folder, American Truck Simulator (270880) in a
# second library; another game sits beside it.
STEAM = r"C:\Program Files (x86)\Steam"
SECOND_LIBRARY = r"D:\Games\SteamLibrary"
LIBRARY_FOLDERS = library_folders((STEAM, ["228980", "227300"]), (SECOND_LIBRARY, ["270880"]))
GAMES = {"227300": (STEAM, "Euro Truck Simulator 2"), "270880": (SECOND_LIBRARY, "American Truck Simulator")}
GAME_BINS = {app_id: rf"{library}\steamapps\common\{folder}\bin\win_x64"
             for app_id, (library, folder) in GAMES.items()}
# Later American Truck Simulator moves to a library whose name is not ASCII (the file is UTF-8), in a
# folder of another name.
MOVED_LIBRARY = r"D:\Spiele\Über"
MOVED_LIBRARY_FOLDERS = library_folders((STEAM, ["228980", "227300"]), (MOVED_LIBRARY, ["270880"]))
MOVED_ATS_BIN = MOVED_LIBRARY + r"\steamapps\common\ATS\bin\win_x64"
# A library Steam still lists, and still holding Euro Truck Simulator 2's manifest, whose game
# folder is gone (a drive wiped, a folder deleted by hand).
STALE_LIBRARY = r"D:\Old\SteamLibrary"
STALE_ETS2_BIN = STALE_LIBRARY + r"\steamapps\common\Euro Truck Simulator 2\bin\win_x64"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"


class TruckGamesTestCase(InstallTestCase):
    """The option to copy the plugin into the truck games, against a fake Steam in the prefix; a
    session of its own for each case, since each installs and uninstalls."""

    def unix_path(self, windows_path):
        drive, rest = windows_path.split(":", 1)
        root = self.session.prefix / "drive_c" if drive.upper() == "C" else self.session.tmp / "drive_d"
        return root.joinpath(*[part for part in rest.split("\\") if part])

    def make_steam(self, for_all_users=False):
        # D: is a folder of the session's own, so nothing outside it is touched.
        (self.session.tmp / "drive_d").mkdir(exist_ok=True)
        dosdevice = self.session.prefix / "dosdevices" / "d:"
        if dosdevice.is_symlink() or dosdevice.exists():
            dosdevice.unlink()
        dosdevice.symlink_to(self.session.tmp / "drive_d")
        self.write_library_folders(LIBRARY_FOLDERS)
        for app_id, (library, folder) in GAMES.items():
            self.add_game(library, app_id, folder)
        # American Truck Simulator already has a plugin of someone else's: it and its folder stay.
        (self.unix_path(GAME_BINS["270880"]) / "plugins").mkdir()
        (self.unix_path(GAME_BINS["270880"]) / "plugins" / "other.dll").write_bytes(b"another plugin")
        if for_all_users:
            # Where Steam's setup records it for the machine; the user has no SteamPath yet.
            self.session.run(["reg", "add", r"HKLM\SOFTWARE\WOW6432Node\Valve\Steam", "/v", "InstallPath", "/d",
                              STEAM, "/f"], check=True)
        else:
            self.session.run(["reg", "add", r"HKCU\Software\Valve\Steam", "/v", "SteamPath", "/d",
                              STEAM.replace("\\", "/").lower(), "/f"])

    def write_library_folders(self, text):
        steamapps = self.unix_path(STEAM) / "steamapps"
        steamapps.mkdir(parents=True, exist_ok=True)
        (steamapps / "libraryfolders.vdf").write_text(text, encoding="utf-8")

    def add_game(self, library, app_id, folder, files=True):
        """Steam's manifest of a game in a library, and the game's files unless files is False."""
        steamapps = self.unix_path(library) / "steamapps"
        steamapps.mkdir(parents=True, exist_ok=True)
        (steamapps / f"appmanifest_{app_id}.acf").write_text(app_manifest(app_id, folder), encoding="utf-8")
        if files:
            (steamapps / "common" / folder / "bin" / "win_x64").mkdir(parents=True, exist_ok=True)

    def plugins(self, app_id):
        folder = self.unix_path(GAME_BINS[app_id]) / "plugins"
        return sorted(entry.name for entry in folder.iterdir()) if folder.exists() else None

    def uninstall(self):
        """Runs the silent uninstaller to its end (it hands its work to a copy of itself and returns)."""
        self.session.run([self.install.windows_folder + r"\uninstall.exe", "/S"], timeout=120)
        wait_until(lambda: not programs_of_prefix(self.session), 120,
                   message=lambda: f"still running: {programs_of_prefix(self.session)}")

    def pending_deletions(self, folder):
        """The files and folders in a folder that Windows is to delete at its next restart, in order.
        (The uninstaller marks its own copy in the temporary folder too.)"""
        result = self.session.run(["reg", "query", SESSION_MANAGER, "/v", "PendingFileRenameOperations"])
        match = re.search(r"REG_MULTI_SZ\s+(.*?)\s*$", result.stdout, re.M)
        entries = match[1].split("\\0") if match else []
        # Pairs of source and target; an empty target deletes the source.
        sources = [source.removeprefix("\\??\\") for source, target in zip(entries[::2], entries[1::2]) if not target]
        return [source for source in sources if source.startswith(folder + "\\")]

    def hold_plugin(self, app_id):
        """Stands in for a truck game that runs and holds the plugin it loaded from its folder."""
        game = self.session.start_publisher("ets2", "--plugin", GAME_BINS[app_id] + r"\plugins\ventora-trucks.dll")
        self.addCleanup(self.session.end_publisher, game)
        self.assertEqual(game.read_line(60), "ready")
        return game


class TruckGamesInstallTest(TruckGamesTestCase):

    def test_with_steam_the_plugin_goes_into_both_games_and_the_uninstaller_takes_back_only_its_copies(self):
        self.make_steam()
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        self.assertEqual(self.install.files(), INSTALLED_FILES)
        built = (self.session.build / "ventora-trucks.dll").read_bytes()
        for app_id, folder in GAME_BINS.items():
            with self.subTest(app_id=app_id):
                self.assertEqual((self.unix_path(folder) / "plugins" / "ventora-trucks.dll").read_bytes(), built)
                self.assertEqual(self.install.uninstall_values()["TruckPlugin" + app_id],
                                 folder + r"\plugins\ventora-trucks.dll")
        self.assertEqual(self.plugins("270880"), ["other.dll", "ventora-trucks.dll"])

        # American Truck Simulator moves to a library named in UTF-8, leaving behind the copy a running
        # game had kept aside; the upgrade follows it and takes both old copies away.
        old_plugins = self.unix_path(GAME_BINS["270880"]) / "plugins"
        (old_plugins / "ventora-trucks.dll.old").write_bytes(b"the copy a running game kept")
        self.add_game(MOVED_LIBRARY, "270880", "ATS")
        (self.unix_path(SECOND_LIBRARY) / "steamapps" / "appmanifest_270880.acf").unlink()
        self.write_library_folders(MOVED_LIBRARY_FOLDERS)
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        moved_plugins = self.unix_path(MOVED_ATS_BIN) / "plugins"
        self.assertEqual((moved_plugins / "ventora-trucks.dll").read_bytes(), built,
                         "the library with a non-ASCII name was not found")
        self.assertEqual(self.plugins("270880"), ["other.dll"])
        self.assertEqual(self.plugins("227300"), ["ventora-trucks.dll"])

        self.session.run([self.install.windows_folder + r"\uninstall.exe", "/S"], timeout=120)
        wait_until(lambda: not self.install.folder.exists(), 120, message="the uninstaller did not finish")
        self.assertIsNone(self.plugins("227300"), "the plugins folder the installer made is left behind")
        self.assertFalse(moved_plugins.exists(), "the copy in the moved library is left behind")
        self.assertEqual(self.plugins("270880"), ["other.dll"])


class StaleSteamLibraryTest(TruckGamesTestCase):

    def test_a_library_that_lost_the_games_folder_gets_no_plugin_listed_before_or_after_the_real_one(self):
        self.make_steam(for_all_users=True)
        self.add_game(STALE_LIBRARY, "227300", "Euro Truck Simulator 2", files=False)
        real = (STEAM, ["228980", "227300"]), (SECOND_LIBRARY, ["270880"])
        stale = (STALE_LIBRARY, ["227300"])
        for where, libraries in [("before", (stale, *real)), ("after", (*real, stale))]:
            with self.subTest(stale_library=where):
                self.write_library_folders(library_folders(*libraries))
                self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
                self.assertFalse(self.unix_path(STALE_ETS2_BIN).exists(), "a folder was made in the stale library")
                self.assertEqual(self.plugins("227300"), ["ventora-trucks.dll"])
                self.assertEqual(self.install.uninstall_values()["TruckPlugin227300"],
                                 GAME_BINS["227300"] + r"\plugins\ventora-trucks.dll")


class TruckGameRunningTest(TruckGamesTestCase):

    def test_a_copy_a_running_game_holds_goes_at_the_next_restart_of_windows_or_the_next_install(self):
        self.make_steam()
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        ets2_copy = GAME_BINS["227300"] + r"\plugins\ventora-trucks.dll"
        ets2_folder = GAME_BINS["227300"] + r"\plugins"
        built = (self.session.build / "ventora-trucks.dll").read_bytes()

        # An upgrade while the game runs: the copy it holds is moved aside, and marked.
        game = self.hold_plugin("227300")
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        self.assertEqual(self.plugins("227300"), ["ventora-trucks.dll", "ventora-trucks.dll.old"])
        self.assertEqual(self.unix_path(ets2_copy).read_bytes(), built)
        self.assertEqual(self.pending_deletions(GAME_BINS["227300"]), [ets2_copy + ".old"])
        restart_windows(self.session)
        self.assertEqual(self.plugins("227300"), ["ventora-trucks.dll"])

        # Uninstalled while the game, started again, holds the new copy: the copy is moved aside out
        # of the game's way and marked, with its folder, and its record stays; the rest goes.
        game = self.hold_plugin("227300")
        self.uninstall()
        self.assertFalse(self.install.folder.exists(), self.install.files())
        self.assertEqual(self.plugins("227300"), ["ventora-trucks.dll.old"])
        self.assertEqual(self.pending_deletions(GAME_BINS["227300"]), [ets2_copy + ".old", ets2_folder])
        self.assertEqual(self.install.uninstall_values(),
                         {"TruckPlugin227300": ets2_copy, "TruckPluginFolder227300": 1})
        self.assertEqual(self.plugins("270880"), ["other.dll"])

        # The game ended and was removed from Steam, which leaves files it did not make: the next
        # install takes the copy away and forgets it.
        self.session.end_publisher(game)
        (self.unix_path(STEAM) / "steamapps" / "appmanifest_227300.acf").unlink()
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        self.assertIsNone(self.plugins("227300"), "what the uninstall left is still there")
        values = self.install.uninstall_values()
        self.assertEqual([name for name in values if name.startswith("TruckPlugin")], ["TruckPlugin270880"])
        self.assertEqual(self.plugins("270880"), ["other.dll", "ventora-trucks.dll"])


# Kart Racing Pro and GP Bikes in Steam's own folder, MX Bikes in the second library beside another
# plugin of someone else's; there a GP Bikes folder is left without its program.
KRP_DIR = STEAM + r"\steamapps\common\Kart Racing Pro"
MXBIKES_DIR = SECOND_LIBRARY + r"\steamapps\common\MX Bikes"
GPBIKES_DIR = STEAM + r"\steamapps\common\GP Bikes"
GPBIKES_LEFTOVER_DIR = SECOND_LIBRARY + r"\steamapps\common\GP Bikes"


class PiBoSoGamesTestCase(TruckGamesTestCase):
    """The option to copy the PiBoSo plugins into the games, found by their programs."""

    def make_piboso_games(self):
        self.make_steam()
        for folder, program in [(KRP_DIR, "kart.exe"), (MXBIKES_DIR, "mxbikes.exe"), (GPBIKES_DIR, "gpbikes.exe")]:
            self.unix_path(folder).mkdir(parents=True)
            (self.unix_path(folder) / program).write_bytes(b"MZ")
        (self.unix_path(MXBIKES_DIR) / "plugins").mkdir()
        (self.unix_path(MXBIKES_DIR) / "plugins" / "other.dlo").write_bytes(b"another plugin")
        self.unix_path(GPBIKES_LEFTOVER_DIR).mkdir(parents=True)

    def piboso_plugins(self, folder):
        plugins = self.unix_path(folder) / "plugins"
        return sorted(entry.name for entry in plugins.iterdir()) if plugins.exists() else None

    def piboso_values(self):
        return {name: value for name, value in self.install.uninstall_values().items()
                if name.startswith("PiBoSoPlugin")}


class KartsAndBikesInstallTest(PiBoSoGamesTestCase):

    def test_each_game_found_gets_its_plugin_a_running_one_keeps_its_copy_and_uninstall_takes_back_only_ours(self):
        self.make_piboso_games()
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        krp_copy, mxbikes_copy = KRP_DIR + r"\plugins\ventora-krp.dlo", MXBIKES_DIR + r"\plugins\ventora-mxbikes.dlo"
        gpbikes_copy = GPBIKES_DIR + r"\plugins\ventora-gpbikes.dlo"
        self.assertEqual(self.piboso_values(), {"PiBoSoPluginkrp": krp_copy, "PiBoSoPluginFolderkrp": 1,
                                                "PiBoSoPluginmxbikes": mxbikes_copy,
                                                "PiBoSoPlugingpbikes": gpbikes_copy, "PiBoSoPluginFoldergpbikes": 1})
        for folder, plugin in [(KRP_DIR, "ventora-krp.dlo"), (MXBIKES_DIR, "ventora-mxbikes.dlo"),
                               (GPBIKES_DIR, "ventora-gpbikes.dlo")]:
            with self.subTest(plugin=plugin):
                self.assertEqual((self.unix_path(folder) / "plugins" / plugin).read_bytes(),
                                 (self.session.build / plugin).read_bytes())
        self.assertEqual(self.piboso_plugins(GPBIKES_DIR), ["ventora-gpbikes.dlo"], "GP Bikes got another's plugin")
        self.assertEqual(self.piboso_plugins(MXBIKES_DIR), ["other.dlo", "ventora-mxbikes.dlo"])
        self.assertIsNone(self.piboso_plugins(GPBIKES_LEFTOVER_DIR), "a folder without the game got a plugin")

        # An upgrade while Kart Racing Pro runs with its plugin loaded: the copy it holds is moved
        # aside and marked for the next restart of Windows, and the new one put in its place.
        game = self.session.start_publisher("krp", "--plugin", krp_copy)
        self.addCleanup(self.session.end_publisher, game)
        self.assertEqual(game.read_line(60), "ready")
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        self.assertEqual(self.piboso_plugins(KRP_DIR), ["ventora-krp.dlo", "ventora-krp.dlo.old"])
        self.assertEqual(self.pending_deletions(KRP_DIR), [krp_copy + ".old"])

        # Uninstalled while the game still runs: its copy stays marked and recorded, the rest goes.
        self.uninstall()
        self.assertFalse(self.install.folder.exists(), self.install.files())
        self.assertEqual(self.piboso_plugins(MXBIKES_DIR), ["other.dlo"])
        self.assertEqual(self.piboso_values(), {"PiBoSoPluginkrp": krp_copy, "PiBoSoPluginFolderkrp": 1})

        # The game ended: the next install takes the leftovers away, then copies afresh.
        self.session.end_publisher(game)
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        self.assertEqual(self.piboso_plugins(KRP_DIR), ["ventora-krp.dlo"])
        self.uninstall()
        self.assertIsNone(self.piboso_plugins(KRP_DIR), "the plugins folder the installer made is left behind")
        self.assertEqual(self.piboso_plugins(MXBIKES_DIR), ["other.dlo"])
        self.assertIsNone(self.install.uninstall_values())


class KartsAndBikesOptionUntickedUpgradeTest(PiBoSoGamesTestCase):

    def test_an_upgrade_with_the_kart_and_bike_option_unticked_takes_the_recorded_copies_away(self):
        self.make_piboso_games()
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP", "/NOTRUCKS"), 0)
        self.assertEqual(self.piboso_plugins(KRP_DIR), ["ventora-krp.dlo"])

        # /NOKARTS unticks the option, as a user does on the components page.
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP", "/NOTRUCKS", "/NOKARTS"), 0)
        self.assertEqual(self.install.files(), INSTALLED_FILES)
        self.assertIsNone(self.piboso_plugins(KRP_DIR), "the plugins folder the installer made is left behind")
        self.assertIsNone(self.piboso_plugins(GPBIKES_DIR), "the plugins folder the installer made is left behind")
        self.assertEqual(self.piboso_plugins(MXBIKES_DIR), ["other.dlo"])
        self.assertEqual(self.piboso_values(), {})
        self.assertEqual(self.install.uninstall_values()["DisplayVersion"], VERSION)


class TruckOptionUntickedUpgradeTest(TruckGamesTestCase):

    def test_an_upgrade_with_the_truck_option_unticked_takes_the_recorded_copies_away_as_a_fresh_install_does(self):
        self.make_steam()
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        self.assertEqual(self.plugins("227300"), ["ventora-trucks.dll"])
        self.assertEqual(self.plugins("270880"), ["other.dll", "ventora-trucks.dll"])

        # /NOTRUCKS unticks the option, as a user does on the components page.
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP", "/NOTRUCKS"), 0)
        self.assertEqual(self.install.files(), INSTALLED_FILES)
        self.assertIsNone(self.plugins("227300"), "the plugins folder the installer made is left behind")
        self.assertEqual(self.plugins("270880"), ["other.dll"])
        values = self.install.uninstall_values()
        self.assertEqual(values["DisplayVersion"], VERSION)
        self.assertEqual([name for name in values if name.startswith("TruckPlugin")], [])


class WithoutSteamInstallTest(InstallTestCase):

    def test_without_steam_it_installs_without_the_option(self):
        self.assertEqual(self.install.run_setup(self.setup, "/NOSTARTUP"), 0)
        self.assertEqual(self.install.files(), INSTALLED_FILES)
        self.assertFalse([name for name in self.install.uninstall_values() if name.startswith("TruckPlugin")])
        self.assertFalse(list((self.session.prefix / "drive_c").rglob("plugins/ventora-trucks.dll")))


def version_resource(exe):
    """The version resource of an exe: ((file version), (product version), {string: value})."""
    data = subprocess.run(["wrestool", "-x", "--raw", "--type=16", str(exe)], capture_output=True, check=True).stdout

    def node(position):
        length, value_length, kind = struct.unpack_from("<3H", data, position)
        key_end = position + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        value_start = (key_end + 2 + 3) & ~3
        value = data[value_start:value_start + (value_length * 2 if kind == 1 else value_length)]
        children, child = [], (value_start + len(value) + 3) & ~3
        while child < position + length:
            children.append(node(child))
            child = (child + struct.unpack_from("<H", data, child)[0] + 3) & ~3
        return data[position + 6:key_end].decode("utf-16-le"), value, children

    key, fixed, children = node(0)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    assert key == "VS_VERSION_INFO" and signature == 0xFEEF04BD, (key, hex(signature))
    strings = {name: value.decode("utf-16-le").rstrip("\0")
               for block_key, _, tables in children if block_key == "StringFileInfo"
               for _, _, entries in tables for name, value, _ in entries}

    def split(high, low):
        return high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF
    return split(file_ms, file_ls), split(product_ms, product_ls), strings


class VersionResourceTest(unittest.TestCase):

    def test_every_shipped_exe_carries_the_project_version(self):
        build = harness.WINDOWS_BUILD
        numbers = tuple(map(int, VERSION.split("."))) + (0,)
        for name, original in [("ventora.exe", "ventora.exe"), ("publish_game.exe", "publish_game.exe"),
                               ("ventora-board.exe", "ventora-board.exe"),
                               (setup_exe(build).name, setup_exe(build).name)]:
            with self.subTest(exe=name):
                file_version, product_version, strings = version_resource(build / name)
                self.assertEqual((file_version, product_version), (numbers, numbers))
                self.assertEqual((strings["FileVersion"], strings["ProductVersion"]), (VERSION, VERSION))
                self.assertEqual(strings["ProductName"], "Ventora")
                self.assertEqual(strings["OriginalFilename"], original)
                self.assertIn("Ventora developers", strings["LegalCopyright"])
                self.assertTrue(strings["FileDescription"])


class TruckPluginDllTest(unittest.TestCase):

    def test_the_truck_plugin_needs_only_system_dlls_and_exports_only_the_games_two_functions(self):
        # A game folder holds no libstdc++ or libgcc DLL: a plugin needing one is silently not loaded.
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(harness.WINDOWS_BUILD / "ventora-trucks.dll")],
                              capture_output=True, text=True, check=True).stdout
        self.assertEqual(sorted(re.findall(r"DLL Name: (\S+)", dump)), ["KERNEL32.dll", "msvcrt.dll"])
        exports = dump[dump.index("[Ordinal/Name Pointer] Table"):].split("\n\n")[0]
        self.assertEqual(re.findall(r"^\t\[\s*\d+\] (\S+)$", exports, re.M),
                         ["scs_telemetry_init", "scs_telemetry_shutdown"])

    def test_each_kart_and_bike_plugin_needs_only_system_dlls_and_exports_only_the_games_functions(self):
        for plugin in ("ventora-krp.dlo", "ventora-mxbikes.dlo", "ventora-gpbikes.dlo"):
            with self.subTest(plugin=plugin):
                dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(harness.WINDOWS_BUILD / plugin)],
                                      capture_output=True, text=True, check=True).stdout
                self.assertEqual(sorted(re.findall(r"DLL Name: (\S+)", dump)), ["KERNEL32.dll", "msvcrt.dll"])
                exports = dump[dump.index("[Ordinal/Name Pointer] Table"):].split("\n\n")[0]
                self.assertEqual(re.findall(r"^\t\[\s*\d+\] (\S+)$", exports, re.M),
                                 ["EventDeinit", "EventInit", "GetInterfaceVersion", "GetModDataVersion", "GetModID",
                                  "RaceEvent", "RunDeinit", "RunInit", "RunStart", "RunStop", "RunTelemetry",
                                  "Shutdown", "Startup"])


if __name__ == "__main__":
    unittest.main()
