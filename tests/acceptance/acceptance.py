#!/usr/bin/env python3
"""Drives the built program in a real X display the way a user would, with keyboard and mouse
only, and checks from outside what it leaves on disk.

usage: acceptance.py PROGRAM [--shots DIR]
"""
import argparse
import math
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import wave
from pathlib import Path

MAIN_TITLE = "QuaveraV" + os.environ["QUAVERA_VERSION"]
FIRST_RUN_TITLE = "Quavera-提示"
OPEN_TITLE = "打开"
PREVIEW_TITLE = "试听--Quavera"
ABOUT_TITLE = "关于Quavera"
PART_PREFIX = "[铃声]"
MESSAGE_TITLES = ("提示", "错误", "Quavera")

# Label places in the main window's client area, in pixels: x, y, width, height.
LABEL_TOTAL = (64, 216, 73, 17)
LABEL_START = (200, 216, 57, 17)
LABEL_END = (328, 216, 57, 17)
# The preview window's "不满意，删除！" button: centre in client pixels.
PREVIEW_DELETE = (112 + 113 // 2, 216 + 33 // 2)
# The About window's "确定(Q)" button: centre in client pixels. At Qt's default font the
# description takes 27 pixels more than its place, and the buttons below it move down by 18.
ABOUT_OK = (152 + 97 // 2, 208 + 18 + 33 // 2)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)
    print(f"ok: {message}")


class Desktop:
    """An Xvfb display with a window manager, and xdotool to act on it."""

    def __init__(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=[write_fd], stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise Failure("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=f":{number}")
        self.wm = subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        time.sleep(1.0)

    def close(self):
        for process in (self.wm, self.xvfb):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()

    def run(self, *command):
        return subprocess.run(command, env=self.env, check=True, capture_output=True,
                              text=True).stdout

    def find(self, title, timeout=15.0):
        deadline = time.monotonic() + timeout
        pattern = "^" + re.escape(title) + "$"
        while time.monotonic() < deadline:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                                   env=self.env, capture_output=True, text=True).stdout.split()
            if found:
                return found[-1]
            time.sleep(0.2)
        raise Failure(f"no window titled {title!r} within {timeout} s")

    def gone(self, title, timeout=10.0):
        deadline = time.monotonic() + timeout
        pattern = "^" + re.escape(title) + "$"
        while time.monotonic() < deadline:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                                   env=self.env, capture_output=True, text=True).stdout.split()
            if not found:
                return True
            time.sleep(0.2)
        return False

    def message_boxes(self):
        """Titles of the visible windows that are message boxes of the program."""
        titles = []
        for title in MESSAGE_TITLES:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                    "^" + re.escape(title) + "$"],
                                   env=self.env, capture_output=True, text=True).stdout.split()
            titles += [title] * len(found)
        return titles

    def activate(self, window):
        self.run("xdotool", "windowactivate", "--sync", window)
        time.sleep(0.3)

    def key(self, *keys):
        self.run("xdotool", "key", "--clearmodifiers", *keys)

    def type(self, text):
        # xdotool types a character outside the keyboard map by remapping a spare key; typing
        # those slowly gives the program time to see each new mapping, or characters get lost.
        for run in re.findall(r"[\x20-\x7e]+|[^\x20-\x7e]", text):
            self.run("xdotool", "type", "--delay", "40" if run.isascii() else "150", run)
            if not run.isascii():
                time.sleep(0.15)

    def click(self, window, x, y):
        self.run("xdotool", "mousemove", "--window", window, str(x), str(y))
        time.sleep(0.2)
        self.run("xdotool", "click", "1")

    def shot(self, window, path, frame=True):
        command = ["import", "-window", window]
        if frame:
            command.insert(1, "-frame")
        self.run(*command, str(path))


def stop_program(app):
    """Ends the program if a failed check left it running, and shows what it printed."""
    if app.poll() is None:
        app.send_signal(signal.SIGTERM)
        try:
            app.wait(5)
        except subprocess.TimeoutExpired:
            app.kill()
            app.wait()
    output = app.stdout.read().decode(errors="replace") if app.stdout else ""
    if output.strip():
        print("program output:\n" + output)


def close_program(desktop, main, app):
    """Closes the main window as a user would; the program must then end normally."""
    desktop.activate(main)
    desktop.key("alt+F4")
    app.wait(10)
    check(app.returncode == 0, f"the program ended normally ({app.returncode})")


def make_tone_mp3(path, seconds=30):
    """A tone that steps its pitch every second and swells and fades every five, encoded as
    constant-bitrate MP3."""
    rate = 44100
    wav = path.with_suffix(".wav")
    with wave.open(str(wav), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        frames = bytearray()
        for second in range(seconds):
            frequency = 330 + 20 * second
            for n in range(rate):
                loudness = 0.2 + 0.8 * abs(math.sin(math.pi * (second + n / rate) / 5))
                frames += struct.pack("<h", int(12000 * loudness *
                                                math.sin(2 * math.pi * frequency * n / rate)))
        out.writeframes(bytes(frames))
    subprocess.run(["lame", "--silent", "--cbr", "-b", "128", str(wav), str(path)], check=True)
    wav.unlink()


def probe_duration(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration:stream=codec_name",
                          "-of", "default=noprint_wrappers=1", str(path)],
                         check=True, capture_output=True, text=True).stdout
    codec = re.search(r"codec_name=(\S+)", out)
    duration = re.search(r"duration=([0-9.]+)", out)
    return (codec.group(1) if codec else None), (float(duration.group(1)) if duration else None)


def piece_slice(piece, original):
    """Where the piece's audio begins after its head (a tag, an information frame and maybe a
    silent frame), and where that audio lies in the source: the first frame sync from which the
    rest of the piece is one slice of the source."""
    at = 0
    if piece[:3] == b"ID3":
        at = 10 + (piece[6] << 21 | piece[7] << 14 | piece[8] << 7 | piece[9])
    for candidate in range(at, min(len(piece) - 1, at + 4096)):
        if piece[candidate] == 0xFF and piece[candidate + 1] & 0xE0 == 0xE0:
            offset = original.find(piece[candidate:])
            if offset >= 0:
                return candidate, offset
    return 0, -1


def read_seconds(desktop, window, box, work):
    """Reads a whole-seconds label (" 12秒") off the screen."""
    x, y, width, height = box
    whole = work / "window.png"
    shot = work / "label.png"
    desktop.run("import", "-window", window, str(whole))
    subprocess.run(["convert", str(whole), "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                    "-scale", "400%", "-colorspace", "gray", "-threshold", "55%",
                    "-bordercolor", "white", "-border", "30", str(shot)], check=True)
    text = subprocess.run(["tesseract", str(shot), "-", "--psm", "7", "-l", "chi_sim",
                           "-c", "tessedit_char_whitelist=-0123456789秒"],
                          capture_output=True, text=True).stdout
    digits = re.match(r"\s*(-?\d+)", text)
    return int(digits.group(1)) if digits else None


def scenario(program, desktop, root, source_name, shots):
    print(f"== source {source_name!r}")
    folder = root / "音乐 文件夹 (test)"
    folder.mkdir(parents=True)
    source = folder / source_name
    make_tone_mp3(source)
    original = source.read_bytes()
    config = root / "config"
    env = dict(desktop.env, XDG_CONFIG_HOME=str(config), HOME=str(root / "home"),
               LANG="C.UTF-8")
    (root / "home").mkdir()
    app = subprocess.Popen([program], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        box = desktop.find(FIRST_RUN_TITLE)
        desktop.activate(box)
        if shots:
            desktop.shot(box, shots / "first-run.png")
        desktop.key("Escape")  # Cancel: leave the start page alone
        main = desktop.find(MAIN_TITLE)
        desktop.activate(main)
        check(desktop.gone(FIRST_RUN_TITLE), "the first-run question was answered")

        desktop.key("Return")  # the focus starts on the source's browse button
        dialog = desktop.find(OPEN_TITLE)
        desktop.activate(dialog)
        desktop.type(str(source))
        time.sleep(0.5)
        # The first Return may only take the completer's suggestion, as it would for a user.
        for _ in range(3):
            desktop.key("Return")
            loaded_at = time.monotonic()
            if desktop.gone(OPEN_TITLE, timeout=1.5):
                break
        check(desktop.gone(OPEN_TITLE), "the source was chosen in the file dialog")
        desktop.activate(main)

        time.sleep(2.0)  # let it play
        desktop.key("Tab", "Tab", "Tab", "Tab")  # past the player's screen to play/pause
        desktop.key("Return")  # pauses; it must not reach 结束 (End)
        time.sleep(1.5)
        others = [p.name for p in folder.iterdir() if p.name != source_name]
        check(others == [], f"Enter on the play button wrote no file (found {others})")
        boxes = desktop.message_boxes()
        check(boxes == [], f"Enter on the play button showed no message box (found {boxes})")
        desktop.key("Return")  # plays again
        desktop.key("Home")  # from the start, so the marks can be checked against the clock
        loaded_at = time.monotonic()
        time.sleep(2.0)
        desktop.key("alt+s")
        start_at = time.monotonic() - loaded_at
        time.sleep(3.0)
        desktop.key("alt+p")
        end_at = time.monotonic() - loaded_at

        part = folder / (PART_PREFIX + "1" + source_name)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and not part.exists():
            time.sleep(0.2)
        time.sleep(1.0)
        new_files = sorted(p.name for p in folder.iterdir() if p.name != source_name)
        check(new_files == [part.name], f"the folder holds exactly one new file {part.name!r} "
                                       f"(found {new_files})")
        check(source.read_bytes() == original, "the source is unchanged")
        piece = part.read_bytes()
        head, offset = piece_slice(piece, original)
        check(len(piece) > head and offset >= 0 and head < 4096,
              f"the piece ({len(piece)} bytes) is a head of {head} bytes and then one contiguous "
              f"slice of the source, at byte {offset}")
        piece = piece[head:]

        codec, source_duration = probe_duration(source)
        piece_codec, piece_duration = probe_duration(part)
        check(piece_codec == "mp3", f"ffprobe reads the piece as MP3 ({piece_codec})")
        slice_start = offset / len(original) * source_duration
        slice_end = (offset + len(piece)) / len(original) * source_duration

        if shots:
            desktop.shot(main, shots / "main-window.png")
        start_label = read_seconds(desktop, main, LABEL_START, root)
        end_label = read_seconds(desktop, main, LABEL_END, root)
        total_label = read_seconds(desktop, main, LABEL_TOTAL, root)
        print(f"labels: total={total_label} start={start_label} end={end_label}; "
              f"slice {slice_start:.2f}..{slice_end:.2f} s; keys at {start_at:.2f}, {end_at:.2f} s")
        check(total_label is not None and abs(total_label - source_duration) <= 1,
              f"the total time reads {total_label} s for {source_duration:.2f} s")
        check(start_label is not None and abs(slice_start - start_label) <= 1,
              f"the slice starts within 1 s of the start label ({slice_start:.2f} vs {start_label})")
        check(end_label is not None and abs(slice_end - end_label) <= 1,
              f"the slice ends within 1 s of the end label ({slice_end:.2f} vs {end_label})")
        check(abs(start_at - slice_start) <= 1.5,
              f"the start mark follows playback ({slice_start:.2f} s, Alt+S at {start_at:.2f} s)")
        check(piece_duration is not None and abs(piece_duration - (end_label - start_label)) <= 1,
              f"the piece plays {piece_duration} s for marks {start_label}..{end_label}")

        desktop.activate(main)
        desktop.key("alt+t")
        preview = desktop.find(PREVIEW_TITLE)
        time.sleep(2.5)  # playing, and its outline read
        if shots:
            desktop.shot(preview, shots / "preview-window.png")
        desktop.click(preview, *PREVIEW_DELETE)
        check(desktop.gone(PREVIEW_TITLE), "the preview window closed after 不满意，删除！")
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and part.exists():
            time.sleep(0.2)
        check(not part.exists(), "不满意，删除！ deleted the piece")
        check(source.read_bytes() == original, "the source is still unchanged")

        desktop.activate(main)
        desktop.key("alt+a")
        about = desktop.find(ABOUT_TITLE)
        time.sleep(0.5)
        if shots:
            desktop.shot(about, shots / "about-window.png")
        desktop.click(about, *ABOUT_OK)
        check(desktop.gone(ABOUT_TITLE), "确定(Q) closed the About window")

        close_program(desktop, main, app)
    finally:
        stop_program(app)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--shots", type=Path)
    args = parser.parse_args()
    program = str(Path(args.program).resolve())
    if args.shots:
        args.shots.mkdir(parents=True, exist_ok=True)
    desktop = Desktop()
    failures = 0
    try:
        for index, name in enumerate(["tone.mp3", "我的 铃声 #1 (试).mp3"]):
            root = Path(tempfile.mkdtemp(prefix="quavera-acceptance-"))
            try:
                scenario(program, desktop, root, name, args.shots if index == 1 else None)
            except (Failure, subprocess.CalledProcessError) as failure:
                failures += 1
                print(f"FAILED: {failure}")
            finally:
                shutil.rmtree(root, ignore_errors=True)
    finally:
        desktop.close()
    print(f"{2 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
