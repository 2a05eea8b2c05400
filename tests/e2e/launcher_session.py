"""Drives OstrelLauncher.exe as a player would: a fresh launcher folder, a
real window on a private display, real mouse clicks."""
import json
import os
import shutil
import subprocess
import tempfile
import time

from wine_env import WineSession, windows_path

WINDOW_W, WINDOW_H = 1280, 720


class Shot:
    """A screenshot (binary PPM) with pixel lookups in client coordinates."""

    def __init__(self, ppm):
        magic, width, height, depth, self.data = ppm.split(maxsplit=4)
        assert magic == b"P6" and depth == b"255", magic
        self.width, self.height = int(width), int(height)

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])

    def changed(self, other, box, threshold=48):
        """How many pixels of box (x, y, w, h) differ from `other` by more than threshold in a channel."""
        x0, y0, w, h = box
        count = 0
        for y in range(y0, y0 + h):
            a = self.data[3 * (y * self.width + x0):3 * (y * self.width + x0 + w)]
            b = other.data[3 * (y * self.width + x0):3 * (y * self.width + x0 + w)]
            count += sum(1 for i in range(0, len(a), 3)
                         if max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2])) > threshold)
        return count


def near(rgb, argb, tolerance=4):
    """True when a screen pixel matches the colour 0xAARRGGBB (opaque) within tolerance."""
    want = ((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF)
    return all(abs(a - b) <= tolerance for a, b in zip(rgb, want))


class LauncherSession(WineSession):
    def __init__(self, build_dir, screen="1920x1080", folder=None):
        super().__init__(build_dir, screen)
        self.folder = folder or tempfile.mkdtemp(prefix="ostrel-launcher-")
        self.proc = None
        self.window = None

    def install(self, exe=None):
        """Lays the program (the build's, or `exe`) and its assets into the launcher folder."""
        shutil.copy2(exe or os.path.join(self.build_dir, "OstrelLauncher.exe"),
                     os.path.join(self.folder, "OstrelLauncher.exe"))
        assets = os.path.join(self.build_dir, "assets")
        if os.path.isdir(assets):
            shutil.copytree(assets, os.path.join(self.folder, "assets"), dirs_exist_ok=True)

    def launch(self, timeout=60):
        self.proc = self.start([os.path.join(self.folder, "OstrelLauncher.exe")], cwd=self.folder)
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.xdotool("search", "--name", "^Ostrelhold$", check=False).split()
            if found:
                self.window = found[0]
                return self.window
            if self.proc.poll() is not None:
                raise RuntimeError("launcher exited with %s before showing its window" % self.proc.returncode)
            time.sleep(0.25)
        raise RuntimeError("no window titled Ostrelhold within %s s" % timeout)

    def start_with_client(self, client):
        """Starts the launcher with `client` (a Unix folder) as its client folder."""
        settings = {"wow_dir": windows_path(client), "close_on_launch": True, "muted": True}
        with open(os.path.join(self.folder, "launcher_settings.json"), "w") as f:
            f.write(json.dumps(settings, separators=(",", ":")))
        self.launch()

    def close(self):
        """Closes the window with its close button; the launcher must end cleanly."""
        self.click(1250, 10)
        code = self.wait_exit(timeout=30)
        if code != 0:
            raise RuntimeError("launcher exited with %s" % code)

    def geometry(self):
        out = self.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, x, y):
        """Clicks at a client point of the launcher's window."""
        wx, wy, _, _ = self.geometry()
        # --sync waits for the pointer to move: when it already rests on the
        # spot (the same button clicked in an earlier run) it would wait ~15 s.
        self.xdotool("mousemove", 0, 0)
        self.xdotool("mousemove", "--sync", wx + x, wy + y)
        self.xdotool("click", "1")

    def move_to(self, x, y):
        wx, wy, _, _ = self.geometry()
        self.xdotool("mousemove", "--sync", wx + x, wy + y)

    def wheel(self, toward_player, notches=1):
        """Turns the mouse wheel over the window (button 5 turns it toward the player)."""
        self.xdotool("click", "--repeat", notches, "--delay", 100, "5" if toward_player else "4")

    def shot(self):
        """The window's client area as it is on screen now."""
        x, y, w, h = self.geometry()
        ppm = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8", "ppm:-"],
                             env=self.env, check=True, capture_output=True, timeout=60).stdout
        return Shot(ppm)

    def settings(self):
        with open(os.path.join(self.folder, "launcher_settings.json"), "rb") as f:
            return f.read()

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def log_bytes(self):
        path = os.path.join(self.folder, "launcher.log")
        with open(path, "rb") as f:
            return f.read()

    def wait_for_log(self, text, timeout=30, since=0):
        """Waits until `text` appears in the log after its first `since` bytes."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if os.path.exists(os.path.join(self.folder, "launcher.log")) and text.encode() in self.log_bytes()[since:]:
                return True
            time.sleep(0.2)
        return False

    def wait_for_file(self, path, timeout=30):
        deadline = time.time() + timeout
        while not os.path.exists(path):
            if time.time() > deadline:
                return False
            time.sleep(0.2)
        return True

    def __exit__(self, *exc):
        try:
            return super().__exit__(*exc)
        finally:
            if not os.environ.get("OSTREL_KEEP_TEST_FOLDERS"):
                shutil.rmtree(self.folder, ignore_errors=True)
