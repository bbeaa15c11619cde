#!/bin/sh
# Set-up, build (the program and the Python package), then run the program on the bundled
# example input examples/b.cci.
# The run folder examples/b/ receives the results.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DTAVOLINE_TESTS=OFF >/dev/null
# the program, and the Python package in build/python where pybind11 is installed
cmake --build "$top/build" -j "$(nproc)"
cd "$top/examples"
exec "$top/build/tavoline" "${1:-b}"
