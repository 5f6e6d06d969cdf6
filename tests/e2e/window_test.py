#!/usr/bin/python3
"""The splash as a user meets it: a 560 x 310 window of class TolvinInstaller,
centred on the screen, that closes when the mouse is released over the close
glyph and stays open for a release just beside it. Closed in the middle of the
download, it leaves no part of the setup program behind and the installer exits
with 1602, cancelled by the user. A
screen reader finds its progress bar, whose value follows the download and is
announced as it changes, and its close button, whose action closes it as the
glyph does; so does Esc, and no other key. With --log-pixels the display's DPI
is set for the run, and the window, the glyph, the place beside it and what
the screen reader is told of their places are scaled by DPI / 96."""

import argparse
import contextlib
import re
import sys

import harness

PRODUCT_NAME = "tolvin音频格式转换器"
ROLE_CLIENT, ROLE_PROGRESSBAR, ROLE_PUSHBUTTON = 0x0A, 0x30, 0x2B


def percent(value):
    assert value and re.fullmatch(r"\d+%", value), value
    return int(value[:-1])


def check_accessible(probe, window, scaled):
    """The client object, its two children and the bar's value while the download runs."""
    splash = probe.accessible()
    assert splash is not None, "no accessible object"
    assert (splash["role"], splash["children"], splash["name"]) == (ROLE_CLIENT, 2, PRODUCT_NAME), splash
    left, top = window["left"], window["top"]
    bar, button = splash["items"].get(1), splash["items"].get(2)
    assert bar and (bar["role"], bar["name"]) == (ROLE_PROGRESSBAR, "下载进度"), splash
    assert re.fullmatch(r"\d+ KB/s|\d+\.\d\d MB/s", bar["description"] or ""), bar
    # Where the bar is painted: the track picture's size, centred, its bottom 35 px above the window's.
    bar_width = scaled(480)
    bar_place = (left + (window["width"] - bar_width) // 2, top + window["height"] - scaled(35), bar_width, scaled(8))
    assert bar["rect"] == bar_place, (bar, bar_place)
    assert button and (button["role"], button["name"], button["action"]) == (ROLE_PUSHBUTTON, "关闭", "按下"), splash
    glyph = (left + window["width"] - scaled(36), top + scaled(8), scaled(28), scaled(38))  # the glyph's box
    assert button["rect"] == glyph, (button, glyph)
    before = percent(bar["value"])

    # One event per percentage shown: each one finds a new value.
    events, first, last = probe.value_changes(9)
    print(f"value changes: {events}, read {first} then {last}")
    assert events, "no value-change event while the download ran"
    shown = [percent(value) for value in events]
    assert shown == sorted(set(shown)), f"an event without a new percentage: {events}"
    assert before <= percent(first) < percent(last), (before, first, last)


def closes_leaving_nothing(run, probe, partial, how):
    code = run.exit_code(20)
    assert code == 1602, f"installer exit code {code} after {how}"
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
    ap.add_argument("--log-pixels", type=int)
    args = ap.parse_args()
    dpi = args.log_pixels or 96

    def scaled(value):
        # Rounded to the nearest pixel, halves away from zero, as MulDiv does.
        return (value * dpi + 48) // 96

    wine = harness.Wine(args.build_dir)
    probe = harness.Probe(wine, args.probe)
    work = harness.work_dir(args.build_dir, "window")
    # A large, slow setup download keeps the installer busy on its splash for
    # the whole test instead of moving on to the setup program.
    setup = work / "slow-setup.bin"
    setup.write_bytes(b"\0" * (256 * 1024))
    partial = work / "tolvin-setup.exe"

    def start():
        run = harness.Parented(wine, args.probe, args.installer, work)
        window = probe.wait_for(lambda w: w and w["visible"], 60, "the splash window")
        harness.wait_until(partial.exists, 30, "the download to begin")
        return run, window

    display = harness.log_pixels(wine, dpi) if args.log_pixels else contextlib.nullcontext()
    with display, harness.DownloadServer(args.build_dir, harness.port_of(args.download_host), setup, rate=2048):
        run, window = start()
        try:
            assert window["title"] == "Tolvin Installer", window
            width, height = scaled(560), scaled(310)
            assert (window["width"], window["height"]) == (width, height), (window, dpi)
            sw, sh = harness.screen_size()
            expected = ((sw - width) // 2, (sh - height) // 2)
            assert (window["left"], window["top"]) == expected, (window, expected)
            print(f"window: {window}, screen {sw}x{sh}")

            check_accessible(probe, window, scaled)

            left, top = window["left"], window["top"]
            # Just left of the glyph's hit area (x from R - 36), and on it.
            harness.click(left + width - scaled(36) - 1, top + scaled(12))
            assert run.exit_code(3) is None, "a release beside the glyph closed the window"
            assert probe.look() is not None, "window gone after a release beside the glyph"

            harness.click(left + width - scaled(22), top + scaled(26))
            closes_leaving_nothing(run, probe, partial, "a release on the glyph")

            # The keys and the button's action do not depend on the scale.
            if not args.log_pixels:
                run, window = start()
                assert probe.has_focus(), "the splash does not have the keyboard focus"
                harness.keys("Return", "space", "F4", "Tab", "alt")
                assert run.exit_code(3) is None, "a key other than Esc closed the window"
                harness.keys("Escape")
                closes_leaving_nothing(run, probe, partial, "Esc")

                run, window = start()
                probe.press_accessible_button()
                closes_leaving_nothing(run, probe, partial, "the close button's default action")
        finally:
            run.stop()
    print("e2e_window: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
