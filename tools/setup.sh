#!/bin/sh
# Installs what building and testing need on a Debian machine, only what is missing.
set -e
need=""
command -v cmake >/dev/null 2>&1 || need="$need cmake"
command -v make >/dev/null 2>&1 || need="$need make"
command -v g++ >/dev/null 2>&1 || need="$need g++"
command -v gs >/dev/null 2>&1 || need="$need ghostscript"
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
[ -f /usr/include/CLI/CLI.hpp ] || need="$need libcli11-dev"
[ -f /usr/include/nlohmann/json.hpp ] || need="$need nlohmann-json3-dev"
if [ -n "$need" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing:$need"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $need
fi
