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


class LauncherSession(WineSession):
    """`program` may be launcher_host.exe: the same window with scripted folder pickers."""

    def __init__(self, build_dir, screen="1920x1080", folder=None, program="OstrelLauncher.exe"):
        super().__init__(build_dir, screen)
        self.folder = folder or tempfile.mkdtemp(prefix="ostrel-launcher-")
        self.program = program
        self.proc = None
        self.window = None
        self.mark = 0

    def install(self):
        """Lays the program and its assets into the launcher folder."""
        shutil.copy2(os.path.join(self.build_dir, self.program), self.folder)
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

    def geometry(self):
        out = self.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, x, y):
        """Clicks at a client point of the launcher's window."""
        wx, wy, _, _ = self.geometry()
        # One call, no --sync: that waits forever when the pointer is already there.
        self.xdotool("mousemove", wx + x, wy + y, "click", "1")

    def write_settings(self, wow_dir, close_on_launch=False):
        with open(os.path.join(self.folder, "launcher_settings.json"), "w") as f:
            json.dump({"wow_dir": windows_path(wow_dir), "close_on_launch": close_on_launch, "muted": True}, f)

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

    def close(self):
        self.click(1250, 10)
        return self.wait_exit()

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def log_bytes(self):
        path = os.path.join(self.folder, "launcher.log")
        with open(path, "rb") as f:
            return f.read()

    def wait_for_log(self, text, timeout=30, count=1):
        """Waits until `text` is in the log `count` times since the last launch."""
        return wait_until(lambda: os.path.exists(os.path.join(self.folder, "launcher.log")) and
                          self.log_bytes()[self.mark:].count(text.encode()) >= count, timeout)

    def __exit__(self, *exc):
        try:
            return super().__exit__(*exc)
        finally:
            if not os.environ.get("OSTREL_KEEP_TEST_FOLDERS"):
                shutil.rmtree(self.folder, ignore_errors=True)


def wait_until(test, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if test():
            return True
        time.sleep(0.1)
    return False


def read(path):
    """A file's text (Latin-1, as the launcher's paths are bytes), or "" when absent."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return ""
