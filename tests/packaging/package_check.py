#!/usr/bin/env python3
"""Installs the built program the two ways a user gets it, and starts each installed copy.

1. `cmake --install` into a temporary prefix.
2. The Debian package from CPack, unpacked into a temporary root with `dpkg -x`; its control
   file must depend on the package of every library the program links and of every file it
   loads at run time without linking.

Each installed copy must hold the program, the desktop entry, the icons of every size, the
software-centre entry, the manual page, the copyright and changelog, and the pages; the entry and
metainfo must pass desktop-file-validate and appstreamcli. Each copy must answer --help, --version
and an unknown option without a display, come up in a display (Xvfb) with a fresh configuration,
find its own pages (the "剪切其他格式？" button hands the page address to xdg-open, which a
recording stand-in on PATH answers), and end normally when its window is closed.

The package must pass lintian with no error or warning, and its program, started as "Open with"
starts it (quavera FILE), must play that file: Start and End then cut a piece of it into its
folder. Its window class must be the entry's StartupWMClass.

The program as built, in the build tree, must find the build tree's copy of its pages the same
way.

usage: package_check.py BUILD_DIR SOURCE_DIR BUILT_PROGRAM
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from urllib.parse import unquote, urlparse

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "acceptance"))
from acceptance import (  # noqa: E402
    FIRST_RUN_TITLE, LABEL_TOTAL, MAIN_TITLE, PART_PREFIX, Desktop, Failure, check,
    close_program, make_tone_mp3, probe_duration, read_seconds, stop_program)

PAGES = ["help.html", "formats.html"]
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]
APP_ID = "org.example.quavera"
# Centre of "剪切其他格式？" in the main window's client area, in pixels.
OTHER_FORMATS_BUTTON = (320 + 65 // 2, 176 + 33 // 2)
# Files the program loads at run time without linking them, as dpkg -S patterns.
RUN_TIME_FILES = [
    "*/qt6/plugins/platforms/libqxcb.so",
    "*/qt6/plugins/multimedia/libgstreamermediaplugin.so",
    "*/gstreamer-1.0/libgstplayback.so",
    "*/gstreamer-1.0/libgstautodetect.so",
    "*/gstreamer-1.0/libgstaudioparsers.so",
    "*/gstreamer-1.0/libgstmpg123.so",
    "*/qt6/translations/qtbase_zh_CN.qm",
    "*/NotoSansCJK-Regular.ttc",
    "/usr/bin/xdg-open",
]


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options).stdout


def owning_package(pattern):
    out = subprocess.run(["dpkg", "-S", pattern], capture_output=True, text=True).stdout
    lines = [line for line in out.splitlines() if not line.startswith("diversion")]
    if not lines:
        raise Failure(f"no installed package holds {pattern}; is scripts/deps.sh complete?")
    return lines[0].split(":")[0]


def png_size(path):
    data = path.read_bytes()[:24]
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def entry_fields(entry):
    return dict(line.split("=", 1) for line in entry.read_text(encoding="utf-8").splitlines()
                if "=" in line and not line.startswith("#"))


def check_layout(root, source_dir):
    """root holds bin/ and share/ of one installed copy."""
    program = root / "bin" / "quavera"
    check(program.is_file() and os.access(program, os.X_OK), f"{program} is an executable")

    entry = root / "share" / "applications" / "quavera.desktop"
    check(entry.is_file(), f"{entry} is there")
    if shutil.which("desktop-file-validate"):
        result = subprocess.run(["desktop-file-validate", str(entry)], capture_output=True,
                                text=True)
        complaints = result.stdout.strip()
        check(result.returncode == 0 and not complaints,
              f"desktop-file-validate accepts the entry {complaints}".strip())
    fields = entry_fields(entry)
    check(fields.get("Type") == "Application" and fields.get("Name") == "Quavera",
          "the entry names the application Quavera")
    check(re.search(r"[\u4e00-\u9fff]", fields.get("Comment[zh_CN]", "")) is not None,
          "the entry has a Chinese comment")
    check(fields.get("Exec", "").split()[0] == "quavera", "the entry starts quavera from PATH")
    check(fields.get("Icon") == "quavera", "the entry names the installed icon")
    check("audio/mpeg" in fields.get("MimeType", "").split(";"), "the entry handles audio/mpeg")
    check({"AudioVideo", "AudioVideoEditing"} <= set(fields.get("Categories", "").split(";")),
          "the entry is in AudioVideo and AudioVideoEditing")
    check(fields.get("Keywords") and fields.get("Keywords[zh_CN]"),
          "the entry has English and Chinese keywords")

    icons = root / "share" / "icons" / "hicolor"
    for size in ICON_SIZES:
        icon = icons / f"{size}x{size}" / "apps" / "quavera.png"
        check(icon.is_file() and png_size(icon) == (size, size), f"{icon} is a {size}x{size} PNG")
    svg = icons / "scalable" / "apps" / "quavera.svg"
    check(svg.is_file() and b"<svg" in svg.read_bytes(), f"{svg} is an SVG")

    metainfo = root / "share" / "metainfo" / f"{APP_ID}.metainfo.xml"
    result = subprocess.run(["appstreamcli", "validate", "--no-net", str(metainfo)],
                            capture_output=True, text=True)
    complaints = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    check(result.returncode == 0 and not complaints,
          f"appstreamcli accepts {metainfo.name} {complaints or ''}".strip())
    version = run(str(program), "--version").split()[-1]
    check(f'<release version="{version}"' in metainfo.read_text(encoding="utf-8"),
          f"the metainfo's release is the program's version {version}")

    for document in ["man/man1/quavera.1.gz", "doc/quavera/copyright",
                     "doc/quavera/changelog.gz"]:
        check((root / "share" / document).is_file(), f"share/{document} is there")

    for page in PAGES:
        installed = root / "share" / "quavera" / "pages" / page
        check(installed.is_file() and
              installed.read_bytes() == (source_dir / "resources" / "pages" / page).read_bytes(),
              f"{installed} is the bundled page")
    return program


def check_depends(deb, program):
    depends = run("dpkg-deb", "-f", str(deb), "Depends")
    named = {re.sub(r"\s*\(.*\)", "", alternative).strip().split(":")[0]
             for clause in depends.split(",") for alternative in clause.split("|")}
    print(f"Depends: {depends.strip()}")

    libraries = {}
    for line in run("ldd", str(program)).splitlines():
        found = re.match(r"\s*(\S+) => (/\S+)", line)
        if found:
            libraries[found.group(1)] = found.group(2)
    needed = re.findall(r"NEEDED\s+(\S+)", run("objdump", "-p", str(program)))
    check(bool(needed), "the program links shared libraries")
    for library in needed:
        check(library in libraries, f"{library} resolves on this system")
        # With merged /usr, dpkg knows a library by /lib/... while ldd may report /usr/lib/...
        real = Path(os.path.realpath(libraries[library]))
        package = owning_package(f"*/{real.parent.name}/{real.name}")
        check(package in named, f"Depends names {package}, which holds {library}")
    for pattern in RUN_TIME_FILES:
        package = owning_package(pattern)
        check(package in named, f"Depends names {package}, which holds {pattern}")


def check_command_line(program):
    """Help, version and a refused option, all without a display."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    outcomes = {}
    for option in ("--help", "--version", "--no-such-option"):
        result = subprocess.run([str(program), option], env=env, capture_output=True, text=True,
                                timeout=30)
        outcomes[option] = (result.returncode, result.stdout, result.stderr)
    code, out, _ = outcomes["--help"]
    check(code == 0 and "Usage:" in out and "[FILE]" in out, "--help prints the usage, exit 0")
    code, out, _ = outcomes["--version"]
    check(code == 0 and re.fullmatch(r"Quavera \d+(\.\d+)+\n", out) is not None,
          f"--version prints {out.strip()!r}, exit 0")
    code, out, err = outcomes["--no-such-option"]
    check(code == 2 and not out and "no-such-option" in err and "Usage:" in err,
          "an unknown option is refused with the usage on standard error, exit 2")


def user_env(desktop, work):
    (work / "home").mkdir(parents=True, exist_ok=True)
    env = dict(desktop.env, XDG_CONFIG_HOME=str(work / "config"), HOME=str(work / "home"),
               LANG="C.UTF-8")
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("QT_MEDIA_BACKEND", None)  # the program chooses its own backend
    return env


def check_opens_file(program, entry, desktop, work):
    """Started as "Open with" starts it, with a file name relative to the working folder."""
    folder = work / "音乐"
    folder.mkdir(parents=True)
    source = folder / "tone.mp3"
    make_tone_mp3(source, seconds=12)
    app = subprocess.Popen([str(program), source.name], env=user_env(desktop, work), cwd=folder,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        box = desktop.find(FIRST_RUN_TITLE)
        desktop.activate(box)
        desktop.key("Escape")
        main = desktop.find(MAIN_TITLE)
        desktop.activate(main)
        window_class = re.findall(r'"([^"]*)"', desktop.run("xprop", "-id", main, "WM_CLASS"))
        check(window_class[-1:] == [entry_fields(entry).get("StartupWMClass")],
              f"the window class {window_class} is the entry's StartupWMClass")

        time.sleep(2.0)  # playing
        total = read_seconds(desktop, main, LABEL_TOTAL, work)
        _, duration = probe_duration(source)
        check(total is not None and abs(total - duration) <= 1,
              f"the total time reads {total} s for the file's {duration:.2f} s")
        desktop.key("alt+s")
        time.sleep(1.5)
        desktop.key("alt+p")  # End; Enter on a player control would only play or pause
        # The cut reads the source box and the destination its folder filled in.
        part = folder / (PART_PREFIX + "1" + source.name)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and not part.exists():
            time.sleep(0.2)
        check(part.exists() and 0 < part.stat().st_size < source.stat().st_size,
              f"Start and End cut a piece of the file given into {part.name}")

        close_program(desktop, main, app)
    finally:
        stop_program(app)


def check_lintian(deb):
    result = subprocess.run(["lintian", "--info", "--display-info", str(deb)],
                            capture_output=True, text=True)
    tags = [line for line in result.stdout.splitlines() if re.match(r"[EWI]: ", line)]
    print("lintian:\n" + "\n".join(tags) if tags else "lintian: no tags")
    serious = [line for line in tags if line[0] in "EW"]
    check(not serious, f"lintian reports no error or warning {serious or ''}".strip())


def check_starts(program, pages_dir, desktop, work):
    """Starts the installed program as a user would and follows its page lookup."""
    stand_in = work / "stand-in"
    stand_in.mkdir(parents=True)
    record = work / "opened.txt"
    opener = stand_in / "xdg-open"
    opener.write_text(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{record}"\n')
    opener.chmod(0o755)
    env = dict(user_env(desktop, work), PATH=f"{stand_in}:{os.environ['PATH']}")
    # Started from a folder of its own: nothing may be looked up relative to the working folder.
    app = subprocess.Popen([str(program)], env=env, cwd=work / "home", stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT)
    try:
        box = desktop.find(FIRST_RUN_TITLE)
        desktop.activate(box)
        desktop.key("Escape")
        main = desktop.find(MAIN_TITLE)
        check(desktop.gone(FIRST_RUN_TITLE), "the first-run question was answered")

        desktop.activate(main)
        desktop.click(main, *OTHER_FORMATS_BUTTON)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not record.exists():
            time.sleep(0.2)
        check(record.exists(), "剪切其他格式？ handed an address to xdg-open")
        address = record.read_text().splitlines()[0]
        url = urlparse(address)
        check(url.scheme == "file" and
              Path(unquote(url.path)) == (pages_dir / "formats.html").resolve(),
              f"the page address {address} points into this copy")

        time.sleep(2)
        check(app.poll() is None, "the program is still running two seconds later")
        close_program(desktop, main, app)
    finally:
        stop_program(app)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir", type=Path)
    parser.add_argument("source_dir", type=Path)
    parser.add_argument("built_program", type=Path)
    tree = parser.parse_args()
    tree.build_dir, tree.source_dir, tree.built_program = (
        tree.build_dir.resolve(), tree.source_dir.resolve(), tree.built_program.resolve())
    # Outside the build tree, so the program cannot find its pages there by accident.
    work = Path(tempfile.mkdtemp(prefix="quavera-package-"))
    desktop = None
    failures = []
    try:
        desktop = Desktop()

        for name, step in [("build tree", check_build_tree), ("cmake --install", check_install),
                           ("Debian package", check_package)]:
            print(f"== {name}")
            try:
                step(tree, work, desktop)
            except (Failure, subprocess.CalledProcessError) as failure:
                failures.append(name)
                print(f"FAILED: {failure} {getattr(failure, 'stderr', None) or ''}")
    finally:
        if desktop:
            desktop.close()
        shutil.rmtree(work, ignore_errors=True)
    print("all passed" if not failures else f"failed: {', '.join(failures)}")
    return 1 if failures else 0


def check_build_tree(tree, work, desktop):
    check_starts(tree.built_program, tree.build_dir / "share" / "quavera" / "pages", desktop,
                 work / "run-build-tree")


def check_install(tree, work, desktop):
    prefix = work / "prefix"
    run("cmake", "--install", str(tree.build_dir), "--prefix", str(prefix))
    program = check_layout(prefix, tree.source_dir)
    check_command_line(program)
    check_starts(program, prefix / "share" / "quavera" / "pages", desktop, work / "run-prefix")


def check_package(tree, work, desktop):
    output = work / "cpack"
    run("cpack", "--config", str(tree.build_dir / "CPackConfig.cmake"), "-B", str(output))
    debs = list(output.glob("*.deb"))
    check(len(debs) == 1, f"CPack made one package: {[deb.name for deb in debs]}")
    deb = debs[0]
    check(run("dpkg-deb", "-f", str(deb), "Package").strip() == "quavera", "the package is quavera")
    root = work / "root"
    run("dpkg", "-x", str(deb), str(root))
    program = check_layout(root / "usr", tree.source_dir)
    check_depends(deb, program)
    check_lintian(deb)
    check_command_line(program)
    check_starts(program, root / "usr" / "share" / "quavera" / "pages", desktop, work / "run-deb")
    check_opens_file(program, root / "usr" / "share" / "applications" / "quavera.desktop",
                     desktop, work / "run-open-with")


if __name__ == "__main__":
    sys.exit(main())
