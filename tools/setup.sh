#!/bin/sh
# Installs what building needs on a Debian machine, only what is missing; with --tests also
# the tools the tests use (SVG and PNG converters, an XML checker, a headless browser, a
# single-node Slurm, python3 for the validation cases).
set -e
need=""
command -v cmake >/dev/null 2>&1 || need="$need cmake"
command -v make >/dev/null 2>&1 || need="$need make"
command -v g++ >/dev/null 2>&1 || need="$need g++"
command -v gs >/dev/null 2>&1 || need="$need ghostscript"
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
[ -f /usr/include/CLI/CLI.hpp ] || need="$need libcli11-dev"
[ -f /usr/include/nlohmann/json.hpp ] || need="$need nlohmann-json3-dev"
command -v parallel >/dev/null 2>&1 || need="$need parallel"  # runs parameter sweeps
# the Python package: pybind11, the interpreter's headers and numpy
[ -f /usr/include/pybind11/pybind11.h ] || need="$need pybind11-dev"
[ -x /usr/bin/python3-config ] || need="$need python3-dev"
/usr/bin/python3 -c "import numpy" >/dev/null 2>&1 || need="$need python3-numpy"
if [ "${1:-}" = "--tests" ]; then
    # tools the tests render and inspect results with
    command -v rsvg-convert >/dev/null 2>&1 || need="$need librsvg2-bin"
    command -v xmllint >/dev/null 2>&1 || need="$need libxml2-utils"
    command -v pngtopnm >/dev/null 2>&1 || need="$need netpbm"
    command -v chromium >/dev/null 2>&1 || need="$need chromium"
    command -v python3 >/dev/null 2>&1 || need="$need python3"  # the validation cases
    # the Python package's tests and examples
    /usr/bin/python3 -c "import pytest" >/dev/null 2>&1 || need="$need python3-pytest"
    /usr/bin/python3 -c "import scipy" >/dev/null 2>&1 || need="$need python3-scipy"
    /usr/bin/python3 -c "import matplotlib" >/dev/null 2>&1 || need="$need python3-matplotlib"
    # a single-node Slurm for the job-array test of the sweeps
    command -v slurmctld >/dev/null 2>&1 || need="$need slurm-wlm"
    command -v munged >/dev/null 2>&1 || need="$need munge"
    [ -f "$(clang++ -print-runtime-dir 2>/dev/null)/libclang_rt.fuzzer-$(uname -m).a" ] || need="$need clang libclang-rt-dev"  # libFuzzer
fi
if [ -n "$need" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing:$need"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $need
fi
