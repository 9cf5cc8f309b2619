#!/bin/sh
# The seam check passes on the tree as it is and fails once a logic file
# includes a host or POSIX header.
set -eu
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for d in app ui partition removal fileops diskette scripts; do
    [ -d "$root/$d" ] && cp -r "$root/$d" "$work/"
done
"$work/scripts/check-seam" "$work" >/dev/null || { echo "the tree itself fails the seam check"; exit 1; }
for line in '#include <unistd.h>' '#include "platform/host/machine/machine.h"' '#include <sys/stat.h>'; do
    mkdir -p "$work/fileops"
    printf '%s\n' "$line" > "$work/fileops/probe.cpp"
    if "$work/scripts/check-seam" "$work" >/dev/null 2>&1; then echo "not refused: $line"; exit 1; fi
done
rm "$work/fileops/probe.cpp"
echo "seam guard: 3 probes refused"
