#!/bin/sh
# Builds a cabinet set with the plain C client from two real programs and checks
# that cabextract extracts both byte for byte.
set -eu
client=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/out" "$dir/x"
"$client" "$dir/out" /bin/sh /usr/bin/env
[ -f "$dir/out/c2.cab" ] || { echo "expected a set of several cabinets"; exit 1; }
cabextract -q -d "$dir/x" "$dir/out/c1.cab"
cmp "$dir/x/sh" /bin/sh
cmp "$dir/x/env" /usr/bin/env
echo "C client: set of $(ls "$dir/out" | wc -l) cabinets extracted by cabextract"
