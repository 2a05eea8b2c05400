"""Drives OstrelLauncher.exe as a player would: a fresh launcher folder (its
name holds a blank, as many players' do), a real window on a private display,
real mouse clicks; and reads the log each start adds."""
import json
import os
import shutil
import subprocess
import tempfile
import time

from wine_env import WineSession, windows_path

BUILD = os.path.abspath(os.environ.get("OSTREL_BUILD_DIR", "build/windows"))  # ctest passes it
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PORT = 8405  # the test build's update server port


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

    def count(self, box, test):
        """How many pixels of box (x, y, w, h) pass test(r, g, b)."""
        x0, y0, w, h = box
        return sum(1 for y in range(y0, y0 + h) for x in range(x0, x0 + w) if test(*self.pixel(x, y)))


def near(rgb, argb, tolerance=4):
    """True when a screen pixel matches the colour 0xAARRGGBB (opaque) within tolerance."""
    want = ((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF)
    return all(abs(a - b) <= tolerance for a, b in zip(rgb, want))


class LauncherSession(WineSession):
    """`program` may be launcher_host.exe: the same window with scripted folder pickers."""

    def __init__(self, build_dir=BUILD, screen="1920x1080", folder=None, program="OstrelLauncher.exe"):
        super().__init__(build_dir, screen)
        self.folder = folder or tempfile.mkdtemp(prefix="ostrel launcher-")
        self.program = program
        self.proc = None
        self.window = None
        self.mark = 0

    def install(self, exe=None):
        """Lays the program (the build's, or `exe` under the program's name) and its
        assets into the launcher folder."""
        shutil.copy2(exe or os.path.join(self.build_dir, self.program), os.path.join(self.folder, self.program))
        assets = os.path.join(self.build_dir, "assets")
        if os.path.isdir(assets):
            shutil.copytree(assets, os.path.join(self.folder, "assets"), dirs_exist_ok=True)

    def launch(self, timeout=60):
        log = os.path.join(self.folder, "launcher.log")
        self.mark = os.path.getsize(log) if os.path.exists(log) else 0  # wait_for_log looks after it
        self.proc = self.start([os.path.join(self.folder, self.program)], cwd=self.folder)
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

    def start_with_client(self, client, muted=True):
        """Starts the launcher with `client` (a Unix folder) as its client folder."""
        self.write_settings(client, close_on_launch=True, muted=muted)
        self.launch()

    def run_to(self, client, text, timeout=60):
        """Starts with `client`, waits for `text` in the log, closes; gives this start's log."""
        self.start_with_client(client)
        if not self.wait_for_log(text, timeout=timeout):
            raise AssertionError("%r not in log:\n%s" % (text, self.new_log()[-2000:]))
        self.close()
        return self.new_log()

    def close(self):
        """Closes the window with its close button; the launcher must end cleanly."""
        self.click(1250, 10)
        code = self.wait_exit()
        if code != 0:
            raise RuntimeError("launcher exited with %s" % code)
        return code

    def geometry(self):
        out = self.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, x, y):
        """Clicks at a client point of the launcher's window."""
        wx, wy, _, _ = self.geometry()
        # One call, no --sync: that waits forever when the pointer is already there.
        self.xdotool("mousemove", wx + x, wy + y, "click", "1")

    def write_settings(self, wow_dir, close_on_launch=False, muted=True):
        with open(os.path.join(self.folder, "launcher_settings.json"), "w") as f:
            json.dump({"wow_dir": windows_path(wow_dir), "close_on_launch": close_on_launch, "muted": muted}, f)

    def settings(self):
        with open(os.path.join(self.folder, "launcher_settings.json")) as f:
            return json.load(f)

    def visible(self):
        return bool(self.xdotool("search", "--onlyvisible", "--name", "^Ostrelhold$", check=False).split())

    def keys(self, title, *keys, text=None, click=None):
        """Clicks at `click` if given, waits for the window titled `title` (a dialog, a message box), then
        types `text` and presses `keys`."""
        if click:
            self.click(*click)
        self.xdotool("search", "--sync", "--onlyvisible", "--name", "^%s$" % title)
        if text:
            self.xdotool("type", "--delay", "2", text)
        if keys:
            self.xdotool("key", "--delay", "60", *keys)

    def move_to(self, x, y):
        wx, wy, _, _ = self.geometry()
        # --sync waits for the pointer to move, forever when it already rests there.
        self.xdotool("mousemove", 0, 0)
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

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def log_bytes(self):
        return read(os.path.join(self.folder, "launcher.log")).encode("latin-1")

    def new_log(self):
        """The log's text since the last launch."""
        return self.log_bytes()[self.mark:].decode("latin-1")

    def wait_for_log(self, text, timeout=30, count=1, since=None):
        """Waits until `text` is in the log `count` times after its first `since` bytes
        (by default: since the last launch)."""
        start = self.mark if since is None else since
        return wait_until(lambda: self.log_bytes()[start:].count(text.encode()) >= count, timeout)

    def __exit__(self, *exc):
        try:
            return super().__exit__(*exc)
        finally:
            if not os.environ.get("OSTREL_KEEP_TEST_FOLDERS"):
                shutil.rmtree(self.folder, ignore_errors=True)


def wait_until(test, timeout=30):
    """The first true value of test(), or its last value when `timeout` seconds pass first."""
    deadline = time.time() + timeout
    while True:
        value = test()
        if value or time.time() > deadline:
            return value
        time.sleep(0.1)


def write(path, data=b"x"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    """A file's text (Latin-1, as the launcher's paths are bytes), or "" when absent."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return ""
