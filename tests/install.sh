#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the programs, the
# scripts and the manual pages are all there.
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "install failed"; exit 1; }
fail=0
for p in vornconv vornconv_classic timefit stampfill regrid axisturn vornseq vornjoin vornhead vornsim vornchain vornbatch grid2mseed timereport; do
  [ -x "$prefix/bin/$p" ] || { echo "missing $prefix/bin/$p"; fail=1; }
  [ -f "$prefix/share/man/man1/$p.1" ] || { echo "missing man page $p.1"; fail=1; }
done
exit $fail
