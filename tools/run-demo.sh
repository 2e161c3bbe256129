#!/usr/bin/env bash
# Builds Baroterm and its box simulator, starts the simulator on 127.0.0.1 and
# then the program, its live view served as a page on http://127.0.0.1:8081/.
# Type 127.0.0.1 as the box address.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target baroterm baroterm-boxsim

# Port 80 needs privileges; the demo's web forms answer on 8080 instead, and
# BAROTERM_WEBFORM_PORT sends the program's "Change IP Settings..." there.
build/tools/boxsim/baroterm-boxsim --host 127.0.0.1 --http-port 8080 --time-scale 10 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT
sleep 0.5
kill -0 "$sim" 2>/dev/null || { echo "the box simulator did not start" >&2; exit 1; }
echo "Box simulator running on 127.0.0.1 (ports 4000-4003). Enter 127.0.0.1 as the box address."
# The live view is shared on this computer only; open the page in a browser.
echo "The live view's page: http://127.0.0.1:8081/"
BAROTERM_WEBFORM_PORT=8080 build/app/baroterm --monitor 127.0.0.1:8081
