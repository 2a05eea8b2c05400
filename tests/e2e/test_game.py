#!/usr/bin/env python3
"""PLAY, the tray, the settings and addons dialogs, DOWNLOAD CLIENT and I HAVE WOW as a player
meets them. launcher_host.exe (the same window) answers the folder pickers, except in one run
that drives the shell's own picker by keyboard; the stand-in program plays Wow.exe and UnRAR.exe."""
import json
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import BUILD, PORT, ROOT, LauncherSession, read, wait_until, write  # noqa: E402
from test_server import TestServer  # noqa: E402
from wine_env import windows_path  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools"))
from demo_server import DEMO_ADDONS, big_addon, build_site, md5_of, zip_bytes  # noqa: E402
from wine_env import kill_wineserver  # noqa: E402

SETTINGS, ADDONS_TITLE = "Settings \u2014 Ostrelhold", "Addons \u2014 Ostrelhold"


def stand_in(folder, name="Wow.exe", cache=True):
    """The stand-in program as `name` in folder (with a game cache, as a played client has)."""
    write(os.path.join(folder, name), read(os.path.join(BUILD, "stand_in.exe")).encode("latin-1"))
    if cache:
        write(os.path.join(folder, "Cache", "WDB", "creaturecache.wdb"))
    return folder


def runs(client):
    return read(os.path.join(client, "Wow_ran.txt")).splitlines()


def serve_manifest(root, **fields):
    doc = dict({"config": {"realmList": "127.0.0.1", "realmName": "Ostrelhold"}, "game_files": []}, **fields)
    write(os.path.join(root, "launcher", "manifest.php"), json.dumps(doc).encode())


def answer(session, *folders):
    """What launcher_host's folder pickers return from its next start on, one folder per pick."""
    write(os.path.join(session.folder, "picker_answers.txt"),
          "".join((a if a == "CANCEL" else windows_path(a)) + "\r\n" for a in folders).encode())


def status_text(session):
    """Yellowish pixels of the status line: its text."""
    return session.shot().count((700, 664, 150, 16), lambda p: p[0] > 120 and p[0] > p[2] + 30)


class GameTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="ostrel-game-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def session(self, client, program="launcher_host.exe", answers=()):
        session = self.enterContext(LauncherSession(program=program)).install()
        session.write_settings(client)
        answer(session, *answers)
        return session

    def play(self, s, client):
        """PLAY starts the client; the game ends; the launcher sees it end."""
        s.press("play")
        self.assertTrue(wait_until(lambda: runs(client)))
        write(os.path.join(client, "Wow_quit.txt"))
        s.expect("Game exited")

    def test_addons_play_tray_and_settings(self):
        game, docs, outside = stand_in(self.path("wow")), self.path("docs"), self.path("outside")
        write(os.path.join(game, "WTF", "Config.wtf"), b'SET realmList "old.example"\r\nSET gxWindow "1"\r\n')
        write(os.path.join(docs, "Cache", "keep.txt"))
        write(os.path.join(outside, "keep.txt"))
        server = self.enterContext(TestServer(port=PORT))
        files = []
        for name in ("OstrelUI", "OstrelMap"):  # both archives present and whole: the update run leaves them
            rel, data = "Interface/AddOns/%s.zip" % name, zip_bytes(DEMO_ADDONS[name])
            write(os.path.join(server.root, "files", rel), data)
            write(os.path.join(game, rel), data)
            files.append({"path": rel, "size": len(data), "md5": md5_of(data), "extract_to": "Interface/AddOns",
                          "cdn_url": server.url("/files/" + rel)})
        serve_manifest(server.root, game_files=files)
        ui = os.path.join(game, "Interface", "AddOns", "OstrelUI")
        write(os.path.join(ui, "OstrelUI.toc"))
        os.symlink(outside, os.path.join(ui, "link"))  # a removal must not follow it
        s = self.session(game, answers=[docs])
        s.launch()
        s.expect("State: Ready")
        s.dialog(SETTINGS, "Tab", "Tab", "Tab", "Tab", "Tab", "space", via="gear")  # Check all files: all read
        s.expect("Full check requested")
        log = s.expect("Updater complete", count=2).split("Full check requested")[1]
        self.assertEqual([log.count("OK: " + f["path"]) for f in files], [1, 1])
        self.assertNotIn("Quick check", log)
        s.dialog(ADDONS_TITLE, "Return", via="addons")  # Apply without a change
        s.dialog(ADDONS_TITLE, "space", "Tab", "space", "Return", via="addons")  # untick OstrelUI, tick OstrelMap
        s.expect("Addon install complete")
        self.assertTrue(os.path.exists(os.path.join(game, "Interface", "AddOns", "OstrelMap", "OstrelMap.toc")))
        self.assertEqual((os.path.exists(os.path.join(outside, "keep.txt")), os.path.exists(ui + ".zip")), (True, False))
        s.dialog(ADDONS_TITLE, "Tab", "space", "Return", via="addons")  # untick OstrelMap
        s.expect("Uninstalled addon: OstrelMap")
        self.assertEqual(os.listdir(os.path.join(game, "Interface", "AddOns")), ["OstrelUI"])
        log = s.new_log()
        self.assertRegex(log, "(Uninstalled addon: |Uninstall failed for )OstrelUI\r\n.*Installing 1 addon\\(s\\)")
        self.assertEqual((log.count("Installing"), log.count("ninstall")), (1, 2))  # nothing from the first Apply

        # PLAY clears the cache, points the client at the realm and starts it; PLAY again does nothing.
        s.press("play")
        self.assertTrue(wait_until(lambda: runs(game)))
        self.assertEqual(runs(game), ['"%s\\Wow.exe"|%s' % (windows_path(game), windows_path(game))])
        self.assertFalse(os.path.exists(os.path.join(game, "Cache")))
        config = read(os.path.join(game, "WTF", "Config.wtf"))
        self.assertTrue('SET gxWindow "1"\r\n' in config and 'SET realmList "127.0.0.1"\r\n' in config, config)
        s.press("play")  # the game runs: nothing happens
        time.sleep(1)
        self.assertEqual(len(runs(game)), 1)
        write(os.path.join(game, "Wow_quit.txt"))
        s.expect("Game exited")
        self.assertTrue(s.visible())

        # Settings: tick close-on-launch; PLAY now hides the window to the tray until the game ends.
        s.dialog(SETTINGS, "Tab", "Tab", "space", "Return", via="gear")
        s.expect("Settings saved. WoW dir: " + windows_path(game))
        self.assertTrue(s.settings()["close_on_launch"])
        tray = ["search", "--onlyvisible", "--name", "^Wine System Tray$"]
        for restore in ("game ends", "double click"):
            s.press("play")
            self.assertTrue(wait_until(lambda: not s.visible() and s.xdotool(*tray, check=False).strip()), restore)
            if restore == "double click":
                s.xdotool("mousemove", 13, 32, "click", "--repeat", 2, "--delay", 80, 1)
                self.assertTrue(wait_until(s.visible))
            write(os.path.join(game, "Wow_quit.txt"))
            s.expect("Game exited", count=len(runs(game)))
            self.assertTrue(wait_until(lambda: s.visible() and not s.xdotool(*tray, check=False).strip()), restore)
        self.assertNotIn(b"State:", s.log_bytes().split(b"Game exited")[1])

        # Cancel and Escape change nothing.
        s.dialog(SETTINGS, "End", "x", "Tab", "Tab", "Tab", "Tab", "space", via="gear")
        s.dialog(SETTINGS, "End", "x", "Escape", via="gear")

        # Browse... picks a folder without Wow.exe: PLAY fails and leaves it as it was.
        s.dialog(SETTINGS, "Tab", "space", "Tab", "Return", via="gear")
        s.expect("Settings saved. WoW dir: " + windows_path(docs))
        self.assertEqual(s.log_bytes().count(b"Settings saved"), 3)  # none from Cancel and Escape
        s.press("play")
        s.expect("State: Error (CreateProcess failed: 2)")
        self.assertEqual(os.listdir(docs), ["Cache"])
        self.assertEqual(len(runs(game)), 3)

        # A typed path of 300 characters is cut to 259.
        s.dialog(SETTINGS, "End", "shift+Home", via="gear")
        s.xdotool("type", "--delay", "1", "a" * 300)
        s.xdotool("key", "Return")
        s.expect("Settings saved. WoW dir: " + "a" * 259 + "\r\n")
        self.assertEqual(s.settings()["wow_dir"], "a" * 259)
        s.close()

    def test_a_launcher_killed_mid_unpack_unpacks_again(self):
        game = stand_in(self.path("wow"))
        server = self.enterContext(TestServer(port=PORT))
        rel = "Interface/AddOns/OstrelMap.zip"
        archive = os.path.join(server.root, "files", rel)
        os.makedirs(os.path.dirname(archive))
        files = big_addon(archive, tiles=2, tile_bytes=1 << 20, pins=1000)  # 1,000 small files: seconds to unpack
        data = read(archive).encode("latin-1")
        serve_manifest(server.root, game_files=[{"path": rel, "size": len(data), "md5": md5_of(data),
                                                 "extract_to": "Interface/AddOns", "cdn_url": server.url("/files/" + rel)}])
        addons = os.path.join(game, "Interface", "AddOns")

        def unpacked():
            return {os.path.relpath(os.path.join(d, f), addons).replace(os.sep, "/")
                    for d, _, names in os.walk(addons) for f in names}

        s = self.session(game)
        s.launch()
        s.expect("ZipExtract: unpacking")
        self.assertTrue(wait_until(lambda: "OstrelMap/Pins/pin0001.lua" in unpacked(), 30))
        kill_wineserver(s.build_dir, s.prefix)  # ended outright, as the task manager does
        s.wait_exit()
        self.assertLess(len(unpacked() & set(files)), len(files))  # the kill came before the last entry
        self.assertIn("OstrelMap.zip\t", read(os.path.join(s.folder, "launcher_cache", "unpacking.txt")))

        s.launch()  # the archive is whole and matches: unpacked again all the same
        log = s.expect("Updater complete")
        s.close()
        self.assertIn("Unpacking %s again: the last unpack did not finish" % rel, log)
        self.assertNotIn("Downloading: ", log)
        self.assertEqual(unpacked(), set(files) | {"OstrelMap.zip"})  # no part file left
        for name, content in files.items():
            self.assertEqual(read(os.path.join(addons, name)).encode("latin-1"), content, name)
        self.assertEqual(read(os.path.join(s.folder, "launcher_cache", "unpacking.txt")), "")

    def test_a_launcher_killed_mid_download_resumes_from_its_record(self):
        game = stand_in(self.path("wow"))
        server = self.enterContext(TestServer(port=PORT))
        rel, data = "Data/terrain.MPQ", os.urandom(40 << 20)  # in five pieces, each connection held to 2 MiB/s
        write(os.path.join(server.root, "files", rel), data)
        write(os.path.join(server.root, "_options.json"), b'{"/files/%s": {"rate": "2097152"}}' % rel.encode())
        serve_manifest(server.root, game_files=[{"path": rel, "size": len(data), "md5": md5_of(data),
                                                 "cdn_url": server.url("/files/" + rel)}])
        target = os.path.join(game, "Data", "terrain.MPQ")

        def held():
            """The (first, end) ranges the part's record claims."""
            return [tuple(map(int, line.split()[1:])) for line in read(target + ".ostrel-part.pieces").splitlines()
                    if line.startswith("held ")]

        s = self.session(game)
        s.launch()
        self.assertTrue(wait_until(lambda: sum(e - f for f, e in held()) >= 8 << 20, 30))
        kill_wineserver(s.build_dir, s.prefix)  # ended outright, as the task manager does
        s.wait_exit()
        claimed = held()
        self.assertFalse(os.path.exists(target))
        for first, end in claimed:  # the record never claims what the part does not hold
            self.assertEqual(read(target + ".ostrel-part")[first:end].encode("latin-1"), data[first:end])
        write(os.path.join(server.root, "_requests.log"), b"")

        s.launch()
        log = s.expect("Updater complete")
        s.close()
        self.assertIn("Resuming %s from its part file: %d of %d bytes held" % (
            rel, sum(e - f for f, e in claimed), len(data)), log)
        self.assertEqual(read(target).encode("latin-1"), data)
        self.assertEqual(sorted(os.listdir(os.path.dirname(target))), ["terrain.MPQ"])
        for line in read(os.path.join(server.root, "_requests.log")).splitlines():  # only what was missing
            if line.startswith("GET /files/"):
                first, last = map(int, line.split()[2][6:].split("-"))
                self.assertFalse([r for r in claimed if first < r[1] and r[0] <= last], line)

    def test_install_from_nothing(self):
        target = self.path("games")
        server = self.enterContext(TestServer(port=PORT))
        build_site(server.root, "127.0.0.1", PORT, os.path.join(BUILD, "stand_in.exe"))
        options = os.path.join(server.root, "_options.json")
        # Cut, and asked again from the bytes kept, a reply that does not fit them: no more tries.
        write(options, b'{"/files/wow_client.zip": {"cut": "3000", "once": "1", "wrong_range": "1"}}')
        s = self.session(self.path("none"), answers=["CANCEL", target])
        archive = os.path.join(s.folder, "launcher_cache", "wow_client.zip")
        s.launch()
        s.expect("waiting for client install")
        s.press("play")  # DOWNLOAD CLIENT, picker cancelled
        time.sleep(1)
        s.press("play")  # a download that breaks off
        s.expect("retry 1 of 3", "State: Error (Download failed: Server sent bytes from 0 instead of 3000)")
        self.assertEqual(os.path.getsize(archive), 3000)
        s.close()

        # Again, slowly enough to watch: the speed line, then the client found one level down.
        write(options, b'{"/files/wow_client.zip": {"drip": "0.05"}}')
        answer(s, target)
        s.launch()
        s.expect("waiting for client install")
        quiet = status_text(s)
        s.press("play")
        s.expect("State: Updating")
        self.assertTrue(wait_until(lambda: status_text(s) > quiet + 20, 5))
        client = os.path.join(target, "Ostrelhold_3.3.5a")
        s.expect("WoW client installed at: " + windows_path(client), "State: Ready")
        self.assertEqual(s.settings()["wow_dir"], windows_path(client))
        self.assertFalse(os.path.exists(archive))
        requests = read(os.path.join(server.root, "_requests.log"))
        self.assertEqual(requests.count("GET /files/wow_client.zip - "), 2)  # both from the first byte
        self.play(s, client)  # the installed stand-in
        s.dialog(ADDONS_TITLE, "Escape", via="addons")  # the demo's addons, installed by the update run
        s.close()

        # A RAR package: first without the tool, then with a tool that fails.
        rar_bytes = b"Rar!" * 100
        write(os.path.join(server.root, "files", "wow_client.rar"), rar_bytes)
        manifest = json.loads(read(os.path.join(server.root, "launcher", "manifest.php")))
        manifest["wow_client"].update(url=server.url("/files/wow_client.rar"), size=len(rar_bytes),
                                      md5=md5_of(rar_bytes))
        serve_manifest(server.root, **manifest)
        rar = os.path.join(s.folder, "launcher_cache", "wow_client.rar")
        for tool in (False, True):
            if tool:
                stand_in(os.path.join(s.folder, "assets", "tools"), "UnRAR.exe", cache=False)
                write(os.path.join(s.folder, "assets", "tools", "UnRAR_exit.txt"), b"1")
            s.write_settings(self.path("none"))
            s.launch()
            s.expect("waiting for client install")
            s.press("play")
            s.expect("State: Error")
            self.assertEqual(os.path.getsize(rar), 400)
            s.close()
        log = s.log_bytes().decode("latin-1")
        for line in ("State: Error (UnRAR.exe not found in assets\\tools\\. Reinstall the launcher.)",
                     "UnRAR exited with code 1", "State: Error (Could not unpack wow_client.rar: UnRAR exited with code 1)"):
            self.assertIn(line, log)
        self.assertEqual(read(os.path.join(s.folder, "assets", "tools", "UnRAR_ran.txt")),
                         '"%s\\assets\\tools\\UnRAR.exe" x -y "%s" "%s\\"|%s\r\n' % (
                             windows_path(s.folder), windows_path(rar), windows_path(target), windows_path(s.folder)))

    def test_locate_offline_and_play(self):
        game = stand_in(self.path("wow"))
        s = self.session(self.path("none"), answers=[self.path("empty"), game])
        os.makedirs(self.path("empty"))
        s.launch()  # no update server
        s.expect("Manifest fetch failed")
        s.dialog("WoW Not Found", "Return", via="locate")
        s.press("locate")
        s.expect("WoW located by user: " + windows_path(game), "State: Offline")
        self.assertEqual(s.settings()["wow_dir"], windows_path(game))
        s.dialog("Addons", "Return", via="addons")
        self.play(s, game)
        self.assertNotIn(b"State:", s.log_bytes().split(b"WoW located by user")[1].split(b"State: Offline")[1])
        self.assertEqual(read(os.path.join(s.folder, "messages.txt")),
                         "WoW Not Found|Wow.exe was not found in the selected folder.\nPlease choose your WoW "
                         "3.3.5a installation directory.\r\nAddons|No addons found in manifest.\r\n")

    def test_real_folder_picker_and_play_only_when_ready(self):
        """I HAVE WOW through the shell's own picker, by keyboard; PLAY does nothing while verifying,
        updating or after a failed update (while connecting: test_main_screen)."""
        pick = tempfile.mkdtemp(prefix="ostrelpick", dir=os.path.join(BUILD, "wineprefix", "drive_c"))
        self.addCleanup(shutil.rmtree, pick, True)
        with open(os.path.join(stand_in(pick), "big.bin"), "wb") as f:
            f.truncate(1 << 30)  # sparse: its check takes a while, its digest is known
        slow = os.urandom(100000)
        server = self.enterContext(TestServer(port=PORT))
        write(os.path.join(server.root, "files", "slow.bin"), slow)
        serve_manifest(server.root, game_files=[
            {"path": "big.bin", "size": 1 << 30, "md5": "cd573cfaace07e7949bc0c46028904ff", "cdn_url": "x"},
            {"path": "slow.bin", "size": len(slow), "md5": md5_of(slow), "cdn_url": server.url("/files/slow.bin")}])
        write(os.path.join(server.root, "_options.json"), json.dumps(
            {"/files/slow.bin": {"drip": "0.5", "cut": "40000", "once": "1", "wrong_range": "1"}}).encode())
        s = self.session(self.path("none"), program="OstrelLauncher.exe")
        s.launch()
        s.expect("waiting for client install")
        s.press("locate")
        # My Computer, its first drive (C:), then the folder by its name.
        s.dialog("Browse for Folder", "Home")
        s.xdotool("type", "My")
        s.xdotool("key", "--delay", "300", "Right", "Down", "Right")
        time.sleep(1)
        s.xdotool("type", os.path.basename(pick))
        time.sleep(1)
        s.xdotool("key", "Return")
        s.expect("WoW located by user: C:\\" + os.path.basename(pick))
        for line in ("State: Verifying", "State: Updating", "State: Error"):
            s.expect(line)
            s.press("play")
        time.sleep(1)  # a click that would start the game has done so by now
        self.assertEqual(runs(pick), [])
        self.assertNotIn("WoW cache cleared", s.new_log())
        self.assertNotIn("CreateProcess", s.new_log())

if __name__ == "__main__":
    unittest.main(verbosity=2)
