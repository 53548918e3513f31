#!/usr/bin/env bash
# Installs what is missing, builds, and starts the server with the shipped example configuration and resources.
# The server looks for its resources, log folder and commandline.txt beside its own executable, so the example
# is laid out in run/ next to a copy of the freshly built binary. Extra arguments go to the server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target VexaServer

mkdir -p run
cp build/Server/VexaServer run/VexaServer
cp examples/server.xml run/server.xml
if [ -d examples/resources ]; then
	rm -rf run/resources
	cp -r examples/resources run/resources
fi
cd run
exec ./VexaServer "$@"
