#!/usr/bin/env bash
# The one list of Debian packages Quavera needs to build, run and test.
# Installs whatever is missing (apt-get, as root); does nothing when all are present.
set -euo pipefail

PACKAGES=(
  # build
  cmake g++ make pkg-config
  qt6-base-dev qt6-multimedia-dev libgl-dev libgstreamer1.0-dev
  # run: platform plugins, MP3 playback through GStreamer, fonts for the Chinese texts, xdg-open
  qt6-qpa-plugins libqt6multimedia6
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav
  fonts-noto-cjk xdg-utils qt6-translations-l10n
  # tests: MP3 fixtures, GStreamer's parser and decoder as the oracle of the frame index and the piece, a reader of the piece's length, a real X display, keyboard and mouse from outside, media probing, screenshots
  lame gstreamer1.0-tools mediainfo libimage-exiftool-perl xvfb xauth xdotool x11-utils ffmpeg imagemagick dpkg-dev file python3 openbox tesseract-ocr tesseract-ocr-chi-sim
  # tests: checking the installed desktop entry, software-centre entry and Debian package
  desktop-file-utils appstream lintian
  # tests: a vfat image for the cut on a file system without unnamed files
  dosfstools
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
