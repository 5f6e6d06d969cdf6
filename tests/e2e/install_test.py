#!/usr/bin/python3
"""Whole installations under Wine against the local download server, as a user
would run them: the setup program is fetched into the current directory,
started without a command line while the splash is hidden, waited for and
deleted, and its exit code (3010) is the installer's, while a second start
meanwhile ends at once with 1618 and leaves another program's window of the
splash's class alone, and a close request posted to the hidden splash while
the setup program runs changes none of that; failed downloads and a download that does not carry the
publisher's signature (here: not a program at all) end in the notice box, with
the browser opens recorded, and in 1603 once the splash is closed. A body cut
off once, or on every try after an eighth, is continued; a busy server and one
that listens late are asked again; a server that speaks nothing newer than
TLS 1.1, one that never listens, a body cut every 4 KiB and a cut followed
by continuations answered only late are failed downloads; a proxy script
whose server never answers does not hold the download up. A download with no room on a 1 MiB file system ends in the
disk-space notice and 112, the folder empty; a clock four years behind, in the
notice that names the date and time. Exit codes are read whole, through a
Windows parent. Each run's steps and exit code end up in the support log."""

import argparse
import contextlib
import datetime
import os
import re
import subprocess
import sys
import time

import harness

SETUP_NAME = "tolvin-setup.exe"
RECORD = "sample-setup-record.txt"
DOWNLOAD_FAILED = "下载失败，请检查网络连接或联系客服。"
PAGE_SENTENCE = "已为您打开下载页面，请手动安装。"
HINT = '点击"确定"联系客服\n点击"取消"稍后处理'
DISK_FULL = re.compile(r"^磁盘空间不足，下载至少需要 (\d+) MB 可用空间，请释放磁盘空间后重新运行安装程序。\n\n" + re.escape(HINT) + "$")
CLOCK_BEHIND = re.compile(r"^电脑的日期和时间不正确（当前为 (\d{4}-\d{2}-\d{2})），请设置正确的日期和时间后重新运行安装程序。\n\n"
                          + re.escape(HINT) + "$")
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
# The installer is told it runs on Windows 7 (see main), whose channel needs no
# registry probe, so the registry keys other tests create cannot change the answer.
CHANNEL_PATH = "/tolvin/win7"
CHANNEL_REQUEST = re.compile(r"^GET /tolvin/win7 HTTP/1\.1\tTolvinInstaller/1\.0$")
# The configuration script's request, as the proxy's log has it.
SCRIPT_REQUEST = re.compile(r"^GET /proxy\.pac\?stall=300 HTTP/1\.1\t")
# The support log's lines of one run (the engine's own come between them).
LOG_HEADER = re.compile(r"^tolvin-installer \d+\.\d+\.\d+, Windows 6\.1\.\d+, (x64|arm64|x86), \d+ dpi$")
LOG_CHANNEL = re.compile(r"^channel win7: Windows 7$")
# The engine's: each request by its path alone, its answer, what its body brought.
LOG_REQUEST = re.compile(r"^request https://localhost:\d+/tolvin/win7 via (direct|system setting|proxy \S+|script .+)$")
LOG_FAILURE = re.compile(r"^failure \d+ \S+: .+$")
LOG_INSTALLED = [LOG_CHANNEL, LOG_REQUEST, re.compile(r"^answer 200 length=\d+ validator=(etag|last-modified|none)$"),
                 re.compile(r"^body \d+ bytes in \d+ ms$"), re.compile(r"^publisher check: WinVerifyTrust 0x00000000 ERROR_SUCCESS$"),
                 re.compile(r'^publisher check: signer ".+"$'), re.compile(r"^setup program started$")]


# Wine's stand-in for SetThreadExecutionState reports each call: process, thread, the state asked for.
AWAKE_CALL = re.compile(r"^([0-9a-f]{4}):([0-9a-f]{4}):warn:ntdll:NtSetThreadExecutionState \(0x([0-9a-f]+),")
ES_SYSTEM_REQUIRED, ES_CONTINUOUS = 0x1, 0x80000000


def continuation_request(offset):
    """The channel request again, from byte `offset` on of the version first answered."""
    return re.compile(r'^GET /tolvin/win7 HTTP/1\.1\tTolvinInstaller/1\.0'
                      r'\tRange: bytes=%d-\tIf-Range: "[0-9a-f]+-[0-9a-f]+"$' % offset)


# Wine's stand-in for the taskbar button reports the first call of each kind on
# fixme:explorerframe (later ones it takes in silence), its numbers in hex.
TASKBAR_STATE = re.compile(r"taskbar_list_SetProgressState iface \S+, hwnd \S+, flags ([0-9a-f]+) stub")
TASKBAR_VALUE = re.compile(r"taskbar_list_SetProgressValue iface \S+, hwnd \S+, "
                           r"ullCompleted ([0-9a-f]+), ullTotal ([0-9a-f]+) stub")
TBPF_INDETERMINATE = 1


def first_taskbar_calls(run):
    """The flags of the first state the installer gave its taskbar button and the
    first value (completed, total), each None when not given."""
    state = value = None
    for line in run.trace():
        if state is None and (found := TASKBAR_STATE.search(line)):
            state = int(found.group(1), 16)
        if value is None and (found := TASKBAR_VALUE.search(line)):
            value = (int(found.group(1), 16), int(found.group(2), 16))
    return state, value


def check_requests(requests, expected):
    assert len(requests) == len(expected) and all(e.match(r) for e, r in zip(expected, requests)), requests


def check_support_log(wine, code, expected):
    """The newest run in the support log: its header, `expected` in that order
    among its lines, every line stamped with its time, and last the exit code
    the installer ended with."""
    runs = harness.support_log_runs(wine)
    assert runs, "no support log"
    texts = [text for _, text in runs[-1]]
    assert all(stamp for stamp, _ in runs[-1]), f"a line without its time: {runs[-1]}"
    assert LOG_HEADER.match(texts[0]), texts
    remaining = iter(texts[1:-1])
    for pattern in expected:
        assert any(pattern.match(text) for text in remaining), f"no {pattern.pattern} in order in {texts}"
    last = re.match(r"^exit code (\d+)$", texts[-1])
    assert last and int(last.group(1)) == code, f"not the exit code {code} last: {texts}"


class Run:
    """One installer process in its own work folder, with the prefix's browser log."""

    def __init__(self, args, wine, name, winedebug=None, setup_exit=0):
        self.args = args
        self.wine = wine
        self.work = harness.work_dir(args.build_dir, name)
        # Beside the work folder, which a test may want to find empty.
        self.log = self.work.parent / (name + ".log")
        self.browser_log = wine.prefix / "browser.log"
        self.release = self.work.parent / (name + "-release-setup")
        self.release.unlink(missing_ok=True)
        self.env = dict(wine.env, TOLVIN_SAMPLE_SETUP_HOLD=harness.windows_path(self.release),
                        TOLVIN_SAMPLE_SETUP_EXIT_CODE=str(setup_exit))
        if winedebug:
            self.env["WINEDEBUG"] = winedebug
        self.installer = None

    def start(self):
        self.browser_log.unlink(missing_ok=True)
        # So the log's newest run is this one, never an earlier run's.
        for log in harness.support_logs(self.wine):
            log.unlink()
        self.installer = harness.Parented(self.wine, self.args.probe, self.args.installer, self.work, self.env,
                                          log=self.log)

    def exit_code(self, timeout):
        return self.installer.exit_code(timeout)

    def trace(self):
        return self.log.read_text(errors="replace").splitlines()

    def browser_opens(self):
        return self.browser_log.read_text().splitlines() if self.browser_log.exists() else []

    def stop(self):
        if self.installer:
            self.installer.stop()


def close_with_glyph(probe, run, expected_code):
    # On a busy machine one look right after the notice has been seen to find
    # no splash (cause not found); a splash that is really gone still fails.
    window = probe.wait_for(lambda w: w and w["visible"], 10, "the splash on screen")
    harness.click(window["left"] + 538, window["top"] + 26)
    code = run.exit_code(20)
    assert code == expected_code, f"exit code {code} after closing with the glyph"


def user_settings(wine, server, proxy, silent_script):
    if proxy:
        return harness.user_proxy_settings(wine, harness.PROXY_FLAG, f"127.0.0.1:{server.proxy_port}")
    if silent_script:
        return harness.user_proxy_settings(wine, harness.SCRIPT_FLAG,
                                           script=f"http://127.0.0.1:{server.proxy_port}/proxy.pac?stall=300")
    return contextlib.nullcontext()


def successful_install(args, wine, probe, name="install-ok", server_extra=(), expected=(CHANNEL_REQUEST,),
                       proxy=False, second_start=False, silent_script=False, setup_exit=0, close_while_running=False,
                       awake_trace=False):
    """proxy: the user's settings name the server's CONNECT proxy, which must carry the download.
    second_start: the download is paced to about 10 s and the installer started again meanwhile.
    silent_script: the user's settings name a configuration script whose server never answers; the
    download still starts within 5 s, directly. setup_exit: the setup program's exit code, which
    the installer's must be. close_while_running: WM_CLOSE is posted to the hidden splash while the setup
    program runs; the installer still waits for it, and a start meanwhile ends with 1618. awake_trace:
    the installer asked once, on one thread, to keep the system awake and let it sleep again before the
    setup program runs (Wine's report of each call)."""
    # The taskbar's calls come on fixme:explorerframe, which "+pid,warn+ntdll" leaves on as Wine's default.
    run = Run(args, wine, name, winedebug="+pid,warn+ntdll" if awake_trace else "-all,fixme+explorerframe",
              setup_exit=setup_exit)
    rate = os.path.getsize(args.sample_setup) // 10 if second_start else None
    second = decoy = late = None
    with harness.DownloadServer(args.build_dir, harness.port_of(args.download_host), args.sample_setup,
                                rate=rate, extra=server_extra, proxy=proxy or silent_script) as server, \
            user_settings(wine, server, proxy, silent_script):
        try:
            run.start()
            if silent_script:
                harness.wait_until(lambda: any(CHANNEL_REQUEST.match(r) for r in server.requests()), 5,
                                   "the download to start within 5 s")
            if second_start:
                harness.wait_until(lambda: server.requests(), 60, "the download to start")
                # Another program's window of the splash's class, above the splash.
                stop = run.work / "stop-decoy"
                decoy = wine.start(args.probe, cwd=run.work, args=("decoy", harness.windows_path(stop)),
                                   log="decoy-output.log")
                decoy_log = run.work / "decoy-output.log"
                harness.wait_until(lambda: "ready" in decoy_log.read_text(errors="replace"), 30, "the decoy window")
                # Started again from the same folder: it leaves the first alone and ends.
                # A page it opened would land in the prefix's browser log, which the
                # end of this run finds empty.
                second = harness.Parented(wine, args.probe, args.installer, run.work, run.env,
                                          log=run.work.parent / f"{name}-second.log")
                code = second.exit_code(20)
                stop.write_text("stop")
                assert harness.wait_exit(decoy, 20) == 0, "decoy window did not end"
                assert code == 1618, f"second start: exit code {code} (None: still running)"
                assert probe.notice_text() is None, "the second start showed a notice"
                assert decoy_log.read_text(errors="replace").split()[-1:] == ["alone"], \
                    f"the second start brought another program's window forward: {decoy_log.read_text()}"

            record = run.work / RECORD
            harness.wait_until(record.exists, 90, "the setup program to run")
            # While the setup program runs: splash hidden, installer waiting, file in place.
            window = probe.look()
            assert window is not None and not window["visible"], f"splash not hidden: {window}"
            assert run.exit_code(0) is None, "installer did not wait for the setup program"
            assert (run.work / SETUP_NAME).exists(), "setup program not in the current directory"
            if awake_trace:
                pid = probe.process_id()
                calls = [(m.group(2), int(m.group(3), 16)) for m in map(AWAKE_CALL.match, run.trace())
                         if m and m.group(1) == pid]
                assert [state for _, state in calls] == [ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS] and \
                    calls[0][0] == calls[1][0], f"execution states of {pid} while the setup program runs: {calls}"
            if close_while_running:
                probe.post_close()
                # Longer than the exit's wait for the worker, which would otherwise hide an ended run.
                assert run.exit_code(6) is None, "the close request ended the installer before the setup program"
                late = harness.Parented(wine, args.probe, args.installer, run.work, run.env,
                                        log=run.work.parent / f"{name}-late.log")
                code = late.exit_code(20)
                assert code == 1618, f"start after the close request: exit code {code} (None: still running)"

            lines = dict(line.split("=", 1) for line in record.read_text().splitlines()[1:])
            command_line = lines["command line"].strip().strip('"')
            assert command_line.lower().endswith(SETUP_NAME), f"setup started with arguments: {lines}"
            assert lines["current directory"].rstrip("\\").lower() == \
                harness.windows_path(run.work).lower(), lines

            run.release.write_text("go")
            code = run.exit_code(30)
            assert code == setup_exit, f"installer exit code {code}"
            assert not (run.work / SETUP_NAME).exists(), "setup program not deleted"
            requests = server.requests()
            if proxy:
                # Inside the tunnel Wine writes the whole URL into the request line.
                assert requests == [f"CONNECT {args.download_host} HTTP/1.1\tTolvinInstaller/1.0",
                                    f"GET https://{args.download_host}/tolvin/win7 HTTP/1.1\tTolvinInstaller/1.0"], \
                    requests
            else:
                check_requests(requests, expected)
            assert run.browser_opens() == [], run.browser_opens()
            # The button from the first show on, indeterminate before the length came, then in
            # percent. A quick download may be hidden before any paint shows a percent; a paced one
            # is not.
            state, value = first_taskbar_calls(run)
            assert state == TBPF_INDETERMINATE and (value is None and not second_start or
                                                    value and value[1] == 100 and value[0] <= 100), (state, value)
            check_support_log(wine, code, LOG_INSTALLED + [re.compile(rf"^setup program exit code {setup_exit}$")])
            print(f"{name}: ok ({len(requests)} requests, {lines['current directory']})")
        finally:
            run.stop()
            if second:
                second.stop()
            if late:
                late.stop()
            if decoy and decoy.poll() is None:
                decoy.kill()


def failed_download(args, wine, probe, name, server_extra, answer, setup=None, expected=(CHANNEL_REQUEST,),
                    within=90, logged=(LOG_FAILURE,), no_body=False):
    """within: seconds from the start in which the notice must come; logged: the
    support log's lines between the channel's and the notice's; expected: the
    server's requests, or a function that checks them; no_body: no length or
    byte of the body ever came."""
    run = Run(args, wine, name, winedebug="+process,+pid")
    with harness.DownloadServer(args.build_dir, harness.port_of(args.download_host), setup or args.sample_setup,
                                extra=server_extra) as server:
        try:
            run.start()
            started = time.monotonic()
            try:
                text = probe.wait_for_notice(within)
                waited = time.monotonic() - started
            except AssertionError:
                # What the run did meanwhile: its steps, its requests, and its
                # exit code if it has ended.
                runs = harness.support_log_runs(wine)
                steps = "\n".join(f"{stamp} {text}" for stamp, text in runs[-1]) if runs else "no support log"
                raise AssertionError(f"no notice within {within} s; exit code {run.exit_code(0)}; "
                                     f"requests {server.requests()}; steps:\n{steps}") from None
            assert text == DOWNLOAD_FAILED + "\n\n" + PAGE_SENTENCE + "\n\n" + HINT, repr(text)
            if callable(expected):
                expected(server.requests())
            else:
                check_requests(server.requests(), expected)
            # With no length there is no percent: the one value the button can have been given by
            # the time the box is up is the error state's full bar.
            state, value = first_taskbar_calls(run)
            assert state == TBPF_INDETERMINATE and (value == (100, 100) if no_body else value), (state, value)
            page = f"https://{args.download_host}{CHANNEL_PATH}"
            # ShellExecuteW returns once Wine's browser hand-off has started, not once
            # the URL arrived, so the log may trail the notice by a moment.
            harness.wait_until(lambda: run.browser_opens() == [page], 10, f"the download page {page}")

            pid = probe.process_id()
            probe.answer_notice(answer)
            harness.wait_until(lambda: probe.notice_text() is None, 10, "the notice to close")
            # Wine's browser hand-off writes a bare host in its canonical form, with a slash.
            opens = [page, f"https://{args.support_host}/"] if answer == "ok" else [page]
            harness.wait_until(lambda: run.browser_opens() == opens, 10, f"browser opens {opens}")
            # The browser came from Explorer's process, not the elevated installer's:
            # none of the installer's own trace lines starts it.
            own = [line for line in run.trace() if pid and line.startswith(pid + ":")]
            assert any(":trace:process:" in line for line in own), f"no process trace from the installer ({pid})"
            started = [line for line in own if "CreateProcessInternalW" in line and "winebrowser" in line]
            assert not started, f"the installer started the browser itself: {started}"

            # The splash stays with its close glyph; nothing was started or left behind.
            assert run.exit_code(2) is None, "installer ended after a failed download"
            assert not (run.work / RECORD).exists(), "a setup program ran after a failed download"
            assert not (run.work / SETUP_NAME).exists(), "a partial setup program was left behind"
            close_with_glyph(probe, run, 1603)
            notice = re.compile("^notice: " + re.escape(DOWNLOAD_FAILED) + r" \(download page opened\)$")
            answered = re.compile("^notice answered " + ("OK" if answer == "ok" else "Cancel"))
            check_support_log(wine, 1603, [LOG_CHANNEL, *logged, notice, answered])
            print(f"{name}: ok ({answer}; notice after {waited:.0f} s, {len(server.requests())} requests)")
        finally:
            run.stop()


def notice_for_the_user(args, wine, probe, run, server_extra, body, pattern):
    """A failure the user can put right: its notice, matched by pattern, opens no download page (it would
    fail the same way); answered and the splash closed, it leaves the folder empty. Returns the notice's
    match and the installer's exit code."""
    with harness.DownloadServer(args.build_dir, harness.port_of(args.download_host), body,
                                extra=server_extra) as server:
        try:
            run.start()
            text = probe.wait_for_notice(90)
            found = pattern.match(text)
            assert found, repr(text)
            probe.answer_notice("cancel")
            harness.wait_until(lambda: probe.notice_text() is None, 10, "the notice to close")
            window = probe.wait_for(lambda w: w and w["visible"], 10, "the splash on screen")
            harness.click(window["left"] + 538, window["top"] + 26)
            code = run.exit_code(20)
            assert run.browser_opens() == [], run.browser_opens()
            assert sorted(os.listdir(run.work)) == [], os.listdir(run.work)
            # Support sees the same notice, with no page, and the whole exit code last.
            notice = re.compile("^notice: " + re.escape(text.split("\n\n")[0]) + "$")
            check_support_log(wine, code, [notice, re.compile("^notice answered Cancel$")])
            return found, code, server.requests()
        finally:
            run.stop()


def disk_full(args, wine, probe, with_length):
    """A working folder on a 1 MiB file system, a 2 MiB download: refused before its first byte when the
    server announces the length, stopped at the write that finds the disk full when it does not."""
    name = "disk-full" if with_length else "disk-full-no-length"
    run = Run(args, wine, name)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,mode=0777", "tolvin-full", str(run.work)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        # CI runs as root, where the mount works: a refusal there is a case that never ran.
        assert os.environ.get("CI") != "true", f"{name}: a 1 MiB tmpfs cannot be mounted ({mounted.stderr.strip()})"
        print(f"{name}: skipped, a 1 MiB tmpfs cannot be mounted here ({mounted.stderr.strip()})")
        return
    try:
        body = harness.work_dir(args.build_dir, name + "-body") / "two-mib.bin"
        body.write_bytes(os.urandom(2 * 1024 * 1024))
        extra = [] if with_length else ["--channel-nolength"]
        found, code, _ = notice_for_the_user(args, wine, probe, run, extra, body, DISK_FULL)
        assert code == 112, f"exit code {code} after the disk-space notice"
        # Announced, the length and the room check's 1 MiB margin are asked for; without it, what
        # had arrived (over 1 MiB, with what the file system keeps in memory) and the margin.
        assert found.group(1) == "3", found.group(0)
        print(f"{name}: ok ({found.group(1)} MB asked for)")
    finally:
        subprocess.run(["umount", "-l", str(run.work)], check=False)


def clock_behind(args, wine, probe):
    """The computer's clock four years behind (libfaketime in the installer's process; the test
    certificates were made a day ago), so the server's certificate is not yet valid."""
    assert os.path.exists(FAKETIME_LIB), f"{FAKETIME_LIB} missing: tools/setup.sh installs faketime"
    run = Run(args, wine, "clock-behind")
    # With file times moved too, Wine would take the prefix for out of date and update it.
    run.env.update(LD_PRELOAD=FAKETIME_LIB, FAKETIME="-4y", NO_FAKE_STAT="1")
    found, code, requests = notice_for_the_user(args, wine, probe, run, [], args.sample_setup, CLOCK_BEHIND)
    assert code == 1603, f"exit code {code} after the date and time notice"
    # The handshake failed: no request reached the server.
    assert requests == [], requests
    # libfaketime's year is 365 days; the shown date may cross midnight meanwhile.
    shown = datetime.date.fromisoformat(found.group(1))
    expected = datetime.date.today() - datetime.timedelta(days=4 * 365)
    assert abs((shown - expected).days) <= 1, (shown, expected)
    print(f"clock-behind: ok ({shown})")


def not_a_program(args, wine, probe):
    body = harness.work_dir(args.build_dir, "not-a-program-body") / "not-a-program.bin"
    body.write_bytes(b"This is a text file, not a Windows program.\r\n" * 100)
    # Unsigned, so refused before any start: a failed download, and the file goes.
    failed_download(args, wine, probe, "not-a-program", [], "cancel", setup=body,
                    logged=[re.compile(r"^setup program refused: ")])


def main():
    ap = argparse.ArgumentParser()
    for name in ("build-dir", "installer", "probe", "sample-setup", "download-host", "support-host"):
        ap.add_argument("--" + name, required=True)
    # A release's publisher check alone: the signed setup program starts, this unsigned one does not.
    ap.add_argument("--unsigned-setup")
    args = ap.parse_args()

    wine = harness.Wine(args.build_dir)
    probe = harness.Probe(wine, args.probe)
    harness.set_windows_version(wine, "tolvin-installer.exe", "win7")
    successful_install(args, wine, probe, second_start=True, setup_exit=3010, close_while_running=True,
                       awake_trace=True)
    if args.unsigned_setup:
        failed_download(args, wine, probe, "unsigned-program", [], "cancel", setup=args.unsigned_setup,
                        logged=[re.compile(r"^setup program refused: ")])
        print("e2e_install: publisher checked")
        return 0
    successful_install(args, wine, probe, "install-through-proxy", proxy=True)
    # The lookup is left waiting for the script when the installer ends.
    successful_install(args, wine, probe, "silent-proxy-script", silent_script=True,
                       expected=[SCRIPT_REQUEST, CHANNEL_REQUEST])
    half = os.path.getsize(args.sample_setup) // 2
    successful_install(args, wine, probe, "cut-once",
                       ["--channel-cut", str(half), "--channel-once", "--channel-ranges"],
                       [CHANNEL_REQUEST, continuation_request(half)])
    eighth = -(-os.path.getsize(args.sample_setup) // 8)
    successful_install(args, wine, probe, "cut-every-eighth",
                       ["--channel-cut-each", str(eighth), "--channel-ranges"],
                       [CHANNEL_REQUEST] + [continuation_request(eighth * k) for k in range(1, 8)])
    successful_install(args, wine, probe, "busy-twice", ["--channel-busy", "2"], [CHANNEL_REQUEST] * 3)
    successful_install(args, wine, probe, "listening-late", ["--listen-after", "3"])
    # Asked once: a status other than 502-504 is not asked again.
    failed_download(args, wine, probe, "status-404", ["--channel-status", "404"], "cancel",
                    logged=[LOG_REQUEST, re.compile(r"^answer 404 "), LOG_FAILURE], no_body=True)
    # Cut on every try by a server that ignores ranges and names no version: the
    # continuation asks for the whole file and gets no further, so none follows.
    failed_download(args, wine, probe, "cut-off-body", ["--channel-cut", "1000"], "ok",
                    expected=[CHANNEL_REQUEST] * 2)
    # Each try brings 4 KiB more: the first request and ten continuations.
    failed_download(args, wine, probe, "cut-every-4k", ["--channel-cut-each", "4096", "--channel-ranges"], "cancel",
                    expected=[CHANNEL_REQUEST] + [continuation_request(4096 * k) for k in range(1, 11)], within=120)
    # Cut, then every continuation answered 503 only after 25 s: the file stops
    # growing, and the download gives up 60 s after its last byte. A third
    # continuation goes out only when the pauses' spread leaves it time.
    def late_continuations(requests):
        assert len(requests) in (3, 4), requests
        check_requests(requests, [CHANNEL_REQUEST] + [continuation_request(half)] * (len(requests) - 1))
    failed_download(args, wine, probe, "cut-then-late-busy",
                    ["--channel-cut", str(half), "--channel-ranges", "--channel-late-busy", "25"], "cancel",
                    expected=late_continuations, within=90)
    # Asked again for 30 s, then the notice.
    failed_download(args, wine, probe, "never-listening", ["--listen-after", "600"], "cancel", expected=[],
                    within=60, no_body=True)
    # The handshake fails, so no request reaches the server's log.
    # Not asked again, so the notice comes at once.
    failed_download(args, wine, probe, "tls-1.1", ["--max-tls", "1.1"], "cancel", expected=[], within=15,
                    no_body=True)
    not_a_program(args, wine, probe)
    disk_full(args, wine, probe, with_length=True)
    disk_full(args, wine, probe, with_length=False)
    clock_behind(args, wine, probe)
    print("e2e_install: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
