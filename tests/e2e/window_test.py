#!/usr/bin/python3
"""The splash as a user meets it: a 560 x 310 window of class TolvinInstaller,
centred on the screen, that closes with exit code 0 when the mouse is released
over the close glyph and stays open for a release just beside it. Closed in the
middle of the download, it leaves no part of the setup program behind. A
screen reader finds its progress bar, whose value follows the download and is
announced as it changes, and its close button, whose action closes it as the
glyph does; so does Esc, and no other key."""

import argparse
import re
import sys

import harness

PRODUCT_NAME = "tolvin音频格式转换器"
ROLE_CLIENT, ROLE_PROGRESSBAR, ROLE_PUSHBUTTON = 0x0A, 0x30, 0x2B


def percent(value):
    assert value and re.fullmatch(r"\d+%", value), value
    return int(value[:-1])


def check_accessible(probe, window):
    """The client object, its two children and the bar's value while the download runs."""
    splash = probe.accessible()
    assert splash is not None, "no accessible object"
    assert (splash["role"], splash["children"], splash["name"]) == (ROLE_CLIENT, 2, PRODUCT_NAME), splash
    left, top = window["left"], window["top"]
    bar, button = splash["items"].get(1), splash["items"].get(2)
    assert bar and (bar["role"], bar["name"]) == (ROLE_PROGRESSBAR, "下载进度"), splash
    assert re.fullmatch(r"\d+ KB/s|\d+\.\d\d MB/s", bar["description"] or ""), bar
    assert bar["rect"] == (left + 40, top + 275, 480, 8), bar  # where the bar is painted
    assert button and (button["role"], button["name"], button["action"]) == (ROLE_PUSHBUTTON, "关闭", "按下"), splash
    assert button["rect"] == (left + 524, top + 8, 28, 38), button  # the glyph's box
    before = percent(bar["value"])

    # One event per percentage shown: each one finds a new value.
    events, first, last = probe.value_changes(9)
    print(f"value changes: {events}, read {first} then {last}")
    assert events, "no value-change event while the download ran"
    shown = [percent(value) for value in events]
    assert shown == sorted(set(shown)), f"an event without a new percentage: {events}"
    assert before <= percent(first) < percent(last), (before, first, last)


def closes_leaving_nothing(proc, probe, partial, how):
    code = harness.wait_exit(proc, 20)
    assert code == 0, f"installer exit code {code} after {how}"
    assert probe.look() is None, f"window still there after {how}"
    assert not partial.exists(), f"{how} mid-download left a partial setup program"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--installer", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--download-host", required=True)
    ap.add_argument("--sample-setup")
    ap.add_argument("--support-host")
    args = ap.parse_args()

    wine = harness.Wine(args.build_dir)
    probe = harness.Probe(wine, args.probe)
    work = harness.work_dir(args.build_dir, "window")
    # A large, slow setup download keeps the installer busy on its splash for
    # the whole test instead of moving on to the setup program.
    setup = work / "slow-setup.bin"
    setup.write_bytes(b"\0" * (256 * 1024))
    partial = work / "tolvin-setup.exe"

    def start():
        proc = wine.start(args.installer, cwd=work)
        window = probe.wait_for(lambda w: w and w["visible"], 60, "the splash window")
        harness.wait_until(partial.exists, 30, "the download to begin")
        return proc, window

    with harness.DownloadServer(args.build_dir, harness.port_of(args.download_host), setup, rate=2048):
        proc, window = start()
        try:
            assert window["title"] == "Tolvin Installer", window
            assert (window["width"], window["height"]) == (560, 310), window
            sw, sh = harness.screen_size()
            expected = ((sw - 560) // 2, (sh - 310) // 2)
            assert (window["left"], window["top"]) == expected, (window, expected)
            print(f"window: {window}, screen {sw}x{sh}")

            check_accessible(probe, window)

            left, top = window["left"], window["top"]
            harness.click(left + 523, top + 12)
            assert harness.wait_exit(proc, 3) is None, "a release beside the glyph closed the window"
            assert probe.look() is not None, "window gone after a release beside the glyph"

            harness.click(left + 538, top + 26)
            closes_leaving_nothing(proc, probe, partial, "a release on the glyph")

            proc, window = start()
            assert probe.has_focus(), "the splash does not have the keyboard focus"
            harness.keys("Return", "space", "F4", "Tab", "alt")
            assert harness.wait_exit(proc, 3) is None, "a key other than Esc closed the window"
            harness.keys("Escape")
            closes_leaving_nothing(proc, probe, partial, "Esc")

            proc, window = start()
            probe.press_accessible_button()
            closes_leaving_nothing(proc, probe, partial, "the close button's default action")
        finally:
            if proc.poll() is None:
                proc.kill()
    print("e2e_window: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
