#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, builds a Release build into build/ and packs
# it with cpack. Prints the package's path; install it with
#   sudo apt-get install ./build/pictavo_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/setup.sh >&2
(cd build && cpack -G DEB >&2)
ls -1t "$PWD"/build/pictavo_*.deb | head -1
