#!/usr/bin/env python3
"""Runs Windows programs under Wine for the tests: a private prefix inside the build folder, a
private Xvfb display, and nothing left running afterwards. As a command: see main(); as a
module: with WineSession(build_dir) as wine: proc = wine.start([...])"""
import contextlib
import fcntl
import os
import shutil
import subprocess
import sys

from test_server import TestServer


def wine_environment(build_dir, display=None, prefix="wineprefix"):
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.join(os.path.abspath(build_dir), prefix)
    # Sound goes to ALSA's null device: music plays (MCI reports "playing")
    # on machines without a sound card, and nothing is heard.
    home = os.path.join(os.path.abspath(build_dir), "wine-home")
    os.makedirs(home, exist_ok=True)
    with open(os.path.join(home, ".asoundrc"), "w") as f:
        f.write("pcm.!default { type null }\n")
    # No Mono or Gecko installer dialogs when the prefix is made.
    env.update(HOME=home, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
    if display is not None:
        env["DISPLAY"] = display
    return env


def headless_environment(build_dir, prefix="wineprefix"):
    """The environment for programs of the prefix that open no window."""
    env = wine_environment(build_dir, prefix=prefix)
    env.pop("DISPLAY", None)
    return env


def ensure_prefix(build_dir, prefix="wineprefix", dpi=None):
    """Creates a Wine prefix of the build once (about 10 s, safe against concurrent callers), with the
    fonts GDI+ asks for mapped to Liberation Sans and Wine's window management off; `dpi` sets the
    display's DPI for every program of the prefix."""
    env = headless_environment(build_dir, prefix=prefix)
    prefix = env["WINEPREFIX"]
    marker = os.path.join(prefix, ".ostrel-ready-2")  # bumped when the set-up changes
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(marker):
            return
        shutil.rmtree(prefix, ignore_errors=True)
        subprocess.run(["wineboot", "-i"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        settings = [(r"HKCU\Software\Wine\Fonts\Replacements", face, "REG_SZ", "Liberation Sans") for face in
                    ("Arial", "Microsoft Sans Serif", "Segoe UI", "Tahoma")]
        # With no window manager, keys then reach dialogs, and a window closes at once, not after 2 s.
        settings.append((r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N"))
        if dpi:
            settings.append((r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", str(dpi)))
        for key, name, kind, value in settings:
            subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"], env=env,
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
        open(marker, "w").close()


def kill_wineserver(build_dir, prefix="wineprefix"):
    for flag in ("-k", "-w"):  # -k asks; -w waits until the server has really gone
        subprocess.run(["wineserver", flag], env=wine_environment(build_dir, prefix=prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def windows_path(unix_path):
    """The path a Windows program under Wine sees for a Unix path (Z: is /)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class WineSession(contextlib.AbstractContextManager):
    """A prefix, a private X display (Xvfb) and a promise: every Wine process is gone at exit. A
    display of another size or DPI gets a prefix of its own (the DPI holds for the whole prefix)."""

    def __init__(self, build_dir, screen="1920x1080", dpi=None):
        self.build_dir = os.path.abspath(build_dir)
        self.procs = []
        self.screen, self.dpi = screen, dpi
        self.prefix = "wineprefix-%d" % dpi if dpi else "wineprefix"

    def __enter__(self):
        ensure_prefix(self.build_dir, self.prefix, self.dpi)
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen + "x24",
                                      "-nolisten", "tcp", "-noreset"], pass_fds=(write_fd,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd, "rb") as pipe:
            number = pipe.readline().strip()  # Xvfb writes its display number once it is ready
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env = wine_environment(self.build_dir, ":" + number.decode(), self.prefix)
        return self

    def start(self, argv, cwd=None, dll_overrides="", **kwargs):
        """Starts a program; `dll_overrides` adds to WINEDLLOVERRIDES ("mfplat=d" leaves a DLL out)."""
        env = dict(self.env)
        if dll_overrides:
            env["WINEDLLOVERRIDES"] += ";" + dll_overrides
        proc = subprocess.Popen(["wine"] + list(argv), env=env, cwd=cwd, **kwargs)
        self.procs.append(proc)
        return proc

    def xdotool(self, *args, check=True):
        out = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env,
                             capture_output=True, text=True, timeout=30)
        if check and out.returncode != 0:
            raise RuntimeError("xdotool %s failed: %s" % (args, out.stderr))
        return out.stdout

    def __exit__(self, *exc):
        try:
            kill_wineserver(self.build_dir, self.prefix)
        finally:
            for proc in self.procs:
                if proc.poll() is None:
                    proc.kill()
                proc.wait()
            self.xvfb.terminate()
            self.xvfb.wait(timeout=10)
        return False


def main():
    """run --build DIR [--with-server] -- PROGRAM ARGS: the server's port and folder go to the program
    as OSTREL_TEST_SERVER_PORT and OSTREL_TEST_SERVER_ROOT."""
    args = sys.argv[1:]
    if args[:2] != ["run", "--build"] or "--" not in args:
        sys.exit("usage: wine_env.py run --build BUILD_DIR [--with-server] -- PROGRAM.exe ARGS...")
    with WineSession(args[2]) as wine, contextlib.ExitStack() as stack:
        if "--with-server" in args[:args.index("--")]:
            server = stack.enter_context(TestServer())
            wine.env.update(OSTREL_TEST_SERVER_PORT=str(server.port), OSTREL_TEST_SERVER_ROOT=windows_path(server.root))
        return wine.start(args[args.index("--") + 1:]).wait()


if __name__ == "__main__":
    sys.exit(main())
