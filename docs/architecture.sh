#!/bin/sh
# Draws docs/architecture.svg from docs/architecture.dot with Graphviz (package graphviz,
# installed by scripts/setup). Run from anywhere; writes next to the .dot file.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command -v dot >/dev/null 2>&1 || { echo "architecture.sh: 'dot' not found (apt-get install graphviz)" >&2; exit 1; }
dot -Tsvg "$here/architecture.dot" -o "$here/architecture.svg"
echo "wrote $here/architecture.svg"
