"""Drives OstrelLauncher.exe as a player would: a fresh launcher folder (its
name holds a blank, as many players' do), a real window on a private display,
real mouse clicks by button name; and reads the log each start adds."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import time

from wine_env import WineSession, windows_path

BUILD = os.path.abspath(os.environ.get("OSTREL_BUILD_DIR", "build/windows"))  # ctest passes it
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PORT = 8405  # the test build's update server port
# Client points of the buttons; "addons" sits left of PLAY where "locate" (I HAVE WOW) is.
BUTTONS = {"play": (1190, 686), "locate": (1030, 686), "addons": (1010, 687), "gear": (1194, 17),
           "mute": (1160, 16), "minimise": (1225, 16), "close": (1250, 10)}
STATUS_DOT = (890, 35)
GREEN, RED = 0xFF50C850, 0xFFC83C3C


class Shot:
    """A screenshot (binary PPM) with pixel lookups in client coordinates."""

    def __init__(self, ppm):
        magic, width, height, depth, self.data = ppm.split(maxsplit=4)
        assert magic == b"P6" and depth == b"255", magic
        self.width = int(width)

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])

    def count(self, box, test, other=None):
        """How many pixels of box (x, y, w, h) pass test(rgb), or test(rgb, other's rgb)."""
        x0, y0, w, h = box
        return sum(1 for y in range(y0, y0 + h) for x in range(x0, x0 + w)
                   if test(self.pixel(x, y), *([other.pixel(x, y)] if other else [])))

    def changed(self, other, box, threshold=48):
        """How many pixels of box differ from `other` by more than threshold in a channel."""
        return self.count(box, lambda a, b: max(abs(p - q) for p, q in zip(a, b)) > threshold, other)


def near(rgb, argb, tolerance=4):
    """True when a screen pixel matches the colour 0xAARRGGBB (opaque) within tolerance."""
    return all(abs(a - ((argb >> s) & 0xFF)) <= tolerance for a, s in zip(rgb, (16, 8, 0)))


class LauncherSession(WineSession):
    """`program` may be launcher_host.exe: the same window with scripted folder pickers."""

    def __init__(self, build_dir=BUILD, folder=None, program="OstrelLauncher.exe", **display):
        super().__init__(build_dir, **display)  # the benches pass build_dir
        self.folder = folder or tempfile.mkdtemp(prefix="ostrel launcher-")
        self.program = program
        self.proc = self.window = None
        self.mark = 0

    def install(self, exe=None):
        """Lays the program (the build's, or `exe` under the program's name) and its assets into the folder."""
        shutil.copy2(exe or os.path.join(self.build_dir, self.program), os.path.join(self.folder, self.program))
        shutil.copytree(os.path.join(self.build_dir, "assets"), os.path.join(self.folder, "assets"), dirs_exist_ok=True)
        return self

    def launch(self, client=None, muted=True, timeout=60, dll_overrides=""):
        """Starts the launcher (with `client`, a Unix folder, as its client folder when given)."""
        if client:
            self.write_settings(client, close_on_launch=True, muted=muted)
        self.mark = len(self.log_bytes())  # expect() looks after it
        self.proc = self.start([os.path.join(self.folder, self.program)], cwd=self.folder, dll_overrides=dll_overrides)
        found = wait_until(lambda: self.proc.poll() is not None or self.xdotool(
            "search", "--name", "^Ostrelhold$", check=False).split(), timeout)
        assert isinstance(found, list), "no launcher window (exit code %s)" % self.proc.poll()
        self.window = found[0]

    def run_to(self, client, text):
        """Starts with `client`, waits for `text` in the log, closes; gives this start's log."""
        self.launch(client)
        self.expect(text)
        self.close()
        return self.new_log()

    def close(self):
        """Closes the window with its close button; the launcher must end cleanly."""
        self.press("close")
        assert self.wait_exit() == 0, "launcher exited with %s" % self.proc.returncode

    def geometry(self):
        out = self.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, x, y):
        """Clicks at a client point of the launcher's window."""
        wx, wy, _, _ = self.geometry()
        # One call, no --sync: that waits forever when the pointer is already there.
        self.xdotool("mousemove", wx + x, wy + y, "click", "1")

    def press(self, button):
        self.click(*BUTTONS[button])

    def move_to(self, x, y):
        wx, wy, _, _ = self.geometry()
        # --sync waits for the pointer to move, forever when it already rests there.
        self.xdotool("mousemove", 0, 0)
        self.xdotool("mousemove", "--sync", wx + x, wy + y)

    def dialog(self, title, *keys, via=None):
        """Presses button `via` if given, waits for the window titled `title` (a dialog, a message box),
        then presses `keys`."""
        if via:
            self.press(via)
        self.xdotool("search", "--sync", "--onlyvisible", "--name", "^%s$" % title)
        if keys:
            self.xdotool("key", "--delay", "60", *keys)

    def write_settings(self, wow_dir, close_on_launch=False, muted=True):
        with open(os.path.join(self.folder, "launcher_settings.json"), "w") as f:
            json.dump({"wow_dir": windows_path(wow_dir), "close_on_launch": close_on_launch, "muted": muted}, f)

    def settings(self):
        with open(os.path.join(self.folder, "launcher_settings.json")) as f:
            return json.load(f)

    def visible(self):
        return bool(self.xdotool("search", "--onlyvisible", "--name", "^Ostrelhold$", check=False).split())

    def shot(self):
        """The window's client area as it is on screen now."""
        x, y, w, h = self.geometry()
        return Shot(subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-depth",
                                    "8", "ppm:-"], env=self.env, check=True, capture_output=True, timeout=60).stdout)

    def wait_pixel(self, point, argb, timeout=10):
        """The first screenshot whose pixel at `point` has colour argb; fails after `timeout` seconds."""
        shot = wait_until(lambda: (lambda s: s if near(s.pixel(*point), argb) else None)(self.shot()), timeout)
        assert shot, "pixel %s never became %08X" % (point, argb)
        return shot

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def log_bytes(self):
        return read(os.path.join(self.folder, "launcher.log")).encode("latin-1")

    def new_log(self):
        """The log's text since the last launch."""
        return self.log_bytes()[self.mark:].decode("latin-1")

    def expect(self, *texts, timeout=60, count=1):
        """Waits for each text in the log since the last launch (`count` times); gives that log."""
        for text in texts:
            assert wait_until(lambda: self.log_bytes()[self.mark:].count(text.encode()) >= count, timeout), \
                "%r not in log:\n%s" % (text, self.new_log()[-2000:])
        return self.new_log()

    def __exit__(self, *exc):
        try:
            return super().__exit__(*exc)
        finally:
            if not os.environ.get("OSTREL_KEEP_TEST_FOLDERS"):
                shutil.rmtree(self.folder, ignore_errors=True)


def configured_version():
    """The build's OSTREL_LAUNCHER_VERSION."""
    return re.search(r"^OSTREL_LAUNCHER_VERSION:\w+=(.*)$", read(os.path.join(BUILD, "CMakeCache.txt")), re.M).group(1)


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
