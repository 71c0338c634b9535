#!/bin/bash
# The Python package: its pytest suite against the built library, then an
# offline install into a virtual environment (system site packages, the
# system's setuptools, no build isolation) and one call through it.
#
# usage: tests/python_package.sh LIBRARY SOURCE_DIR
set -euo pipefail
lib=$(realpath "$1")
src=$(realpath "$2")
py=python3
"$py" -c "import pytest, setuptools" 2>/dev/null || py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

MORVEL_LIBRARY=$lib PYTHONPATH=$src/python "$py" -m pytest -q -p no:cacheprovider "$src/python/tests"

# pip builds in the folder it is given: a copy keeps the checkout clean.
cp -r "$src/python" "$work/pkg"
rm -rf "$work/pkg/tests"
"$py" -m venv --system-site-packages "$work/v"
"$work/v/bin/pip" install -q --no-index --no-build-isolation "$work/pkg"
cd "$work"
MORVEL_LIBRARY=$lib "$work/v/bin/python" -c "
import morvel, sys
morvel.optimize(sys.argv[1], 'out.pdf')
assert morvel.check('out.pdf')
" "$src/examples/sample.pdf"
echo "python package ok"
