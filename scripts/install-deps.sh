#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the tool. Safe to run again.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake pkg-config git dpkg-dev \
    qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev qttools5-dev-tools qttools5-dev \
    liblog4cplus-dev libquazip1-qt5-dev libzip-dev zlib1g-dev libssl-dev libmpv-dev \
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev \
    libx11-dev libgl-dev libgl1-mesa-dri libglx-mesa0 mesa-utils-bin \
    xvfb xauth x11-utils fonts-wqy-microhei fontconfig \
    ffmpeg zip unzip clang-format python3
