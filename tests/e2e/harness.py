"""Shared pieces of the end-to-end tests: the installer under Wine in the build
folder's prefix, the local download server on the installer's fixed port, the
window as a user and a screen reader see it, and real mouse clicks and key
strokes through the X server."""

import contextlib
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TOOLS = ROOT / "tools"


class Wine:
    def __init__(self, build_dir):
        self.build_dir = Path(build_dir)
        self.prefix = self.build_dir / "wineprefix"
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=str(self.prefix), WINEDEBUG=self.env.get("WINEDEBUG", "-all"),
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def run(self, exe, *args, cwd=None, timeout=60, env=None):
        # Output goes through a file, not a pipe: the first Wine program of a
        # session starts Wine's background services, which inherit its handles
        # and would hold a pipe open long after the program itself has exited.
        with tempfile.TemporaryFile(mode="w+") as out:
            result = subprocess.run(["wine", str(exe), *args], cwd=cwd, env=env or self.env,
                                    stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            result.stdout = out.read()
        return result

    def start(self, exe, cwd, env=None, args=(), log="wine-output.log"):
        # log: a name in cwd, or a path of its own (an absolute one wins the join).
        out = open(Path(cwd) / log, "w")
        return subprocess.Popen(["wine", str(exe), *args], cwd=cwd, env=env or self.env, stdout=out, stderr=out)


class Parented:
    """A Windows program started by window_probe's `run` verb, which waits for it
    and records its whole exit code: Wine hands the Unix side only the low byte
    (1618 reads 82). Killing `proc`, the probe, ends the program too."""

    def __init__(self, wine, probe_exe, exe, cwd, env=None, log="wine-output.log"):
        self.log = Path(cwd) / log
        self.proc = wine.start(probe_exe, cwd, env=env, args=("run", windows_path(exe)), log=log)

    def exit_code(self, timeout):
        """The program's exit code once it has ended, waiting up to timeout; None while it runs."""
        if wait_exit(self.proc, timeout) is None:
            return None
        codes = [line.split()[1] for line in self.log.read_text(errors="replace").splitlines()
                 if line.startswith("exit ")]
        assert codes, f"no exit code recorded: {self.log.read_text(errors='replace')[-2000:]}"
        return int(codes[-1])

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()


class Probe:
    """What FindWindowW sees of the installer's window class."""

    def __init__(self, wine, probe_exe):
        self.wine = wine
        self.exe = probe_exe

    def look(self):
        out = self.wine.run(self.exe).stdout.strip().splitlines()
        line = out[-1] if out else "none"
        if line == "none":
            return None
        state, left, top, width, height, title = line.split(" ", 5)
        return dict(visible=state == "visible", left=int(left), top=int(top), width=int(width),
                    height=int(height), title=title)

    def process_id(self):
        """The splash's Windows process id, as the prefix of Wine's +pid trace lines."""
        out = self.wine.run(self.exe, "pid").stdout.strip().splitlines()
        line = out[-1] if out else "none"
        return None if line == "none" else line

    def notice_text(self):
        """The notice box's text with real line feeds, or None when no box is up."""
        out = self.wine.run(self.exe, "notice").stdout.strip().splitlines()
        line = out[-1] if out else "none"
        return None if line == "none" else line.replace("\\n", "\n")

    def answer_notice(self, button):
        result = self.wine.run(self.exe, "notice", button)
        assert result.returncode == 0, f"no notice box to answer {button}: {result.stdout}"

    def post_close(self):
        """WM_CLOSE posted to the splash, as another program would."""
        result = self.wine.run(self.exe, "close")
        assert result.returncode == 0, f"no splash to post WM_CLOSE to: {result.stdout}"

    def has_focus(self):
        """Whether the splash is the foreground window and has the keyboard focus."""
        out = self.wine.run(self.exe, "focus").stdout.strip().splitlines()
        return bool(out) and out[-1] == "focus"

    def accessible(self):
        """The splash as a screen reader reads it: the client object as a dict
        (role, children, name) with `items`, its children by id, each a dict of
        role, name, value, description, action (None where there is none) and
        rect (left, top, width, height on screen); None without a splash."""
        client = None
        for line in self.wine.run(self.exe, "accessible").stdout.splitlines():
            fields = line.split("\t")
            if fields[0] == "client":
                client = dict(role=int(fields[1]), children=int(fields[2]), name=fields[3], items={})
            elif fields[0] == "child" and client is not None and len(fields) == 8:
                texts = [None if text == "-" else text for text in fields[3:7]]
                client["items"][int(fields[1])] = dict(role=int(fields[2]), name=texts[0], value=texts[1],
                                                       description=texts[2], action=texts[3],
                                                       rect=tuple(int(n) for n in fields[7].split()))
        return client

    def press_accessible_button(self):
        """The push button's default action, as a screen reader's command gives it."""
        result = self.wine.run(self.exe, "accessible", "press")
        assert result.returncode == 0 and "pressed" in result.stdout, f"button not pressed: {result.stdout}"

    def value_changes(self, seconds):
        """Listens `seconds` for the progress bar's value-change events: the
        value read at each event, and the values read before and after."""
        events, values = [], None
        for line in self.wine.run(self.exe, "accessible", "events", str(seconds), timeout=seconds + 60).stdout.splitlines():
            fields = line.split("\t")
            if fields[0] == "event" and fields[1] == "1":
                events.append(fields[2])
            elif fields[0] == "values":
                values = (fields[1], fields[2])
        assert values is not None, "no splash to listen to"
        return events, values[0], values[1]

    def wait_for_notice(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            text = self.notice_text()
            if text is not None:
                return text
            time.sleep(0.3)
        raise AssertionError("timed out waiting for the notice box")

    def wait_for(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        seen = None
        while time.monotonic() < deadline:
            seen = self.look()
            if predicate(seen):
                return seen
            time.sleep(0.3)
        raise AssertionError(f"timed out waiting for {what}; last seen: {seen}")


class DownloadServer:
    """tools/download_server.py on the port the installer was built with."""

    def __init__(self, build_dir, port, setup_file="-", rate=None, extra=(), proxy=False):
        self.dir = Path(tempfile.mkdtemp(prefix="server-", dir=build_dir))
        self.log = self.dir / "requests.log"
        port_file = self.dir / "port"
        cmd = ["/usr/bin/python3", str(TOOLS / "download_server.py"), "--cert-dir",
               str(Path(build_dir) / "test-ca"), "--port", str(port), "--setup-file", str(setup_file),
               "--log", str(self.log), "--port-file", str(port_file), "--watch-pid", str(os.getpid())]
        if rate:
            cmd += ["--rate", str(rate)]
        if proxy:
            cmd += ["--proxy-port", "0"]
        cmd += list(extra)
        self.proc = subprocess.Popen(cmd)
        deadline = time.monotonic() + 15
        while not port_file.exists():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"download server did not start on port {port}")
            time.sleep(0.1)
        # The CONNECT proxy's port (tools/connect_proxy.py), 0 without one.
        self.proxy_port = int(port_file.read_text().split()[2])

    def requests(self):
        return self.log.read_text().splitlines() if self.log.exists() else []

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def set_windows_version(wine, exe_name, version):
    """The Windows version Wine reports to one program (by file name) only."""
    subprocess.run(["wine", "reg", "add", f"HKCU\\Software\\Wine\\AppDefaults\\{exe_name}", "/v", "Version",
                    "/d", version, "/f"], env=wine.env, check=True, capture_output=True)


@contextlib.contextmanager
def registry_value(wine, key, name, kind, data):
    """One value of the prefix's registry set for the block; the earlier value
    (or none) is put back afterwards."""
    def reg(verb, *args):
        return subprocess.run(["wine", "reg", verb, key, "/v", name, *args], env=wine.env, capture_output=True,
                              text=True)
    saved = None
    for line in reg("query").stdout.splitlines():
        fields = line.split()
        if fields[:2] == [name, kind]:
            saved = fields[2] if len(fields) > 2 else ""
            if kind == "REG_DWORD":
                saved = str(int(saved, 16))  # queried as 0x..., added as a decimal number
    assert reg("add", "/t", kind, "/d", data, "/f").returncode == 0, f"{name} not written"
    try:
        yield
    finally:
        if saved is None:
            reg("delete", "/f")
        else:
            reg("add", "/t", kind, "/d", saved, "/f")


INTERNET_CONNECTIONS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
PROXY_FLAG, SCRIPT_FLAG, DETECT_FLAG = 2, 4, 8


def user_proxy_settings(wine, flags, proxy="", bypass="", script=""):
    """The user's proxy settings in the prefix, as Wine and Windows keep them,
    for a with block."""
    value = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, script):
        value += struct.pack("<I", len(text)) + text.encode("ascii")
    return registry_value(wine, INTERNET_CONNECTIONS, "DefaultConnectionSettings", "REG_BINARY", value.hex())


def log_pixels(wine, dpi):
    """The display's DPI as Wine gives it to every program started meanwhile
    (LogPixels under HKCU\\Control Panel\\Desktop, read when a program starts),
    for a with block. Tests that change it hold the desktop lock."""
    return registry_value(wine, r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", str(dpi))


LOG_LINE = re.compile(r"^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) (.*)$")


def support_logs(wine):
    """The support log beside the prefix's config.toml (one per profile)."""
    return list(wine.prefix.glob("drive_c/users/*/.tolvin/installer.log"))


def support_log_runs(wine):
    """The runs in the support log, oldest first: each a list of (stamp, text),
    from its header line on. A line without a time stamp is kept with stamp None."""
    logs = support_logs(wine)
    if not logs:
        return []
    runs = []
    for line in logs[0].read_bytes().decode("utf-8").split("\r\n"):
        if not line:
            continue
        match = LOG_LINE.match(line)
        stamp, text = match.groups() if match else (None, line)
        if text.startswith("tolvin-installer ") or not runs:
            runs.append([])
        runs[-1].append((stamp, text))
    return runs


def windows_path(path):
    """How a Linux path looks to a program under Wine (drive Z: is /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wait_until(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.2)
    raise AssertionError(f"timed out waiting for {what}")


def click(x, y):
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y)], check=True)
    time.sleep(0.2)
    subprocess.run(["xdotool", "click", "1"], check=True)


def keys(*names):
    """Key strokes through the X server, to the window with the keyboard focus."""
    subprocess.run(["xdotool", "key", *names], check=True)


def screen_size():
    out = subprocess.run(["xdpyinfo"], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        if "dimensions:" in line:
            w, h = line.split()[1].split("x")
            return int(w), int(h)
    raise RuntimeError("no screen dimensions from xdpyinfo")


def screenshot(path):
    subprocess.run(["import", "-window", "root", str(path)], check=True)


def port_of(host):
    return int(host.rsplit(":", 1)[1]) if ":" in host else 443


def wait_exit(proc, timeout):
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        return None


def work_dir(build_dir, name):
    path = Path(build_dir) / "e2e-work" / name
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


