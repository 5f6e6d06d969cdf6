#!/usr/bin/python3
"""The installer started with administrator rights from a downloads folder that
other programs of the same user can write into: DLLs dropped beside it are not
loaded, an existing tolvin-setup.exe that is a hard link to another file is
replaced rather than written through, a .tolvin that is a symbolic link gets no
config.toml, and a program that keeps going after the download while it is
written and until the setup program has started never gets to change, replace
or delete it. The installation completes all the same."""

import argparse
import getpass
import os
import shutil
import sys

import harness

SETUP_NAME = "tolvin-setup.exe"
RECORD = "sample-setup-record.txt"
# Delay-loaded, each once its first call comes: the publisher check loads wintrust.
PLANTED = ("winhttp", "gdiplus", "wintrust")


def main():
    ap = argparse.ArgumentParser()
    for name in ("build-dir", "installer", "probe", "sample-setup", "download-host", "support-host",
                 "planted-dll", "contender"):
        ap.add_argument("--" + name, required=True)
    args = ap.parse_args()

    wine = harness.Wine(args.build_dir)
    harness.set_windows_version(wine, "tolvin-installer.exe", "win7")
    work = harness.work_dir(args.build_dir, "downloads")
    installer = work / "tolvin-installer.exe"
    shutil.copy(args.installer, installer)
    for name in PLANTED:
        shutil.copy(args.planted_dll, work / f"{name}.dll")
    victim = work.parent / "victim.txt"
    victim.write_text("a file elsewhere on the machine\n")
    os.link(victim, work / SETUP_NAME)

    profile = wine.prefix / "drive_c" / "users" / getpass.getuser()
    registry = profile / ".tolvin"
    saved = profile / ".tolvin.e2e-saved"
    decoy = work.parent / "decoy-registry"
    shutil.rmtree(decoy, ignore_errors=True)
    decoy.mkdir()
    if saved.exists() or saved.is_symlink():
        raise RuntimeError(f"{saved} is left from an earlier run")
    if registry.exists() or registry.is_symlink():
        registry.rename(saved)
    registry.symlink_to(decoy, target_is_directory=True)

    release = work / "release-setup"
    # Like Windows, the program's own folder comes first for these DLLs.
    env = dict(wine.env, WINEDLLOVERRIDES="mscoree,mshtml=;" + ",".join(PLANTED) + "=n,b",
               TOLVIN_SAMPLE_SETUP_HOLD=harness.windows_path(release))
    # About four seconds of download for the contender to go at.
    rate = max(1, os.path.getsize(args.sample_setup) // 4)
    proc = contender = None
    try:
        with harness.DownloadServer(args.build_dir, harness.port_of(args.download_host), args.sample_setup,
                                    rate=rate) as server:
            proc = wine.start(installer, cwd=work, env=env)
            # The contender goes after the installer's file, not the link that stood there before.
            download = work / SETUP_NAME
            linked = victim.stat().st_ino
            harness.wait_until(lambda: download.exists() and download.stat().st_ino != linked, 60,
                               "the download to begin")
            contender = wine.start(args.contender, cwd=work, args=(SETUP_NAME, RECORD), log="contender.log")
            record = work / RECORD
            harness.wait_until(record.exists, 90, "the setup program to run")
            assert harness.wait_exit(contender, 30) == 0, "the contender did not finish"
            tries = (work / "contender.log").read_text().split()
            assert tries[-2:-1] == ["attempts"] and int(tries[-1]) > 0, tries
            assert tries[:-2] == [], f"the contender got at the download before the start: {tries[:-2]}"

            lines = dict(line.split("=", 1) for line in record.read_text().splitlines()[1:])
            assert lines["image"].lower() == harness.windows_path(work / SETUP_NAME).lower(), lines
            release.write_text("go")
            code = harness.wait_exit(proc, 30)
            assert code == 0, f"installer exit code {code}"
            assert len(server.requests()) == 1, server.requests()

        loaded = sorted(p.name for p in work.glob("*.loaded"))
        assert loaded == [], f"planted DLLs loaded: {loaded}"
        assert victim.read_text() == "a file elsewhere on the machine\n", "written through the hard link"
        assert not (work / SETUP_NAME).exists(), "setup program not deleted"
        assert list(decoy.iterdir()) == [], f"written through the .tolvin link: {list(decoy.iterdir())}"
        print(f"e2e_downloads_folder: ok ({int(tries[-1])} attempts refused)")
        return 0
    finally:
        for p in (proc, contender):
            if p and p.poll() is None:
                p.kill()
        registry.unlink(missing_ok=True)
        if saved.exists() or saved.is_symlink():
            saved.rename(registry)


if __name__ == "__main__":
    sys.exit(main())
