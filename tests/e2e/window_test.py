#!/usr/bin/python3
"""The splash as a user meets it: a 560 x 310 window of class TolvinInstaller,
centred on the screen, that closes with exit code 0 when the mouse is released
over the close glyph and stays open for a release just beside it. Closed in the
middle of the download, it leaves no part of the setup program behind. With
--log-pixels the display's DPI is set for the run, and the window, the glyph
and the place beside it are scaled by DPI / 96."""

import argparse
import contextlib
import sys

import harness


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

    display = harness.log_pixels(wine, dpi) if args.log_pixels else contextlib.nullcontext()
    with display, harness.DownloadServer(args.build_dir, harness.port_of(args.download_host), setup, rate=2048):
        proc = wine.start(args.installer, cwd=work)
        try:
            window = probe.wait_for(lambda w: w and w["visible"], 60, "the splash window")
            assert window["title"] == "Tolvin Installer", window
            width, height = scaled(560), scaled(310)
            assert (window["width"], window["height"]) == (width, height), (window, dpi)
            sw, sh = harness.screen_size()
            expected = ((sw - width) // 2, (sh - height) // 2)
            assert (window["left"], window["top"]) == expected, (window, expected)
            print(f"window: {window}, screen {sw}x{sh}")

            partial = work / "tolvin-setup.exe"
            harness.wait_until(partial.exists, 30, "the download to begin")

            left, top = window["left"], window["top"]
            # Just left of the glyph's hit area (x from R - 36), and on it.
            harness.click(left + width - scaled(36) - 1, top + scaled(12))
            assert harness.wait_exit(proc, 3) is None, "a release beside the glyph closed the window"
            assert probe.look() is not None, "window gone after a release beside the glyph"

            harness.click(left + width - scaled(22), top + scaled(26))
            code = harness.wait_exit(proc, 20)
            assert code == 0, f"installer exit code {code} after a release on the glyph"
            assert probe.look() is None, "window still there after closing"
            assert not partial.exists(), "closing mid-download left a partial setup program"
        finally:
            if proc.poll() is None:
                proc.kill()
    print("e2e_window: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
