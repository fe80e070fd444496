#!/bin/sh
# Manual check, outside the normal test run (takes minutes and ~5 GiB of disk):
# deflated members past 4 GiB, from a file (size known up front) and from a pipe
# (size unknown until the end), to a file and to a pipe. Each archive must read
# back in Python's zipfile and in bsdtar, with the member's content intact.
#
# usage: tests/zip/manual_zip64_deflate.sh VAULTWICK_BINARY [SCRATCH_PARENT]
set -eu
bin=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
dir=$(mktemp -d "${2:-/tmp}/vaultwick-zip64-XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"

size=$((4 * 1024 * 1024 * 1024 + 123457))
truncate -s "$size" big.bin
printf 'head' | dd of=big.bin conv=notrunc status=none
printf 'tail' | dd of=big.bin bs=1 seek=$((size - 4)) conv=notrunc status=none

check() {  # archive member
  echo "== $1"
  python3 "$here/read_archive.py" "$1"
  bsdtar -tvf "$1"
  bsdtar -xOf "$1" "$2" | cmp - big.bin
  python3 "$here/read_archive.py" "$1" --extract "$2" | cmp - big.bin
  echo "ok: $1"
}

"$bin" zip file.zip big.bin
check file.zip big.bin

"$bin" zip - big.bin | cat > piped.zip
check piped.zip big.bin

cat big.bin | "$bin" zip stdin.zip -
check stdin.zip -

cat big.bin | "$bin" zip - - | cat > stdin-piped.zip
check stdin-piped.zip -
echo "all archives read back"
