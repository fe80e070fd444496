#!/bin/sh
# Manual check, outside the normal test run (takes minutes and ~4.5 GiB of
# disk): a dump past 4 GiB, packed by `vaultwick zip` (ZIP64 sizes), restored
# by `vaultwick restore` into a new database on the private server. Almost all
# of the dump is empty lines, which the restore skips, so that the inflating
# and reading past 4 GiB is what is tried, not the server.
#
# usage: eval "$(scripts/mariadb start DIR)"
#        tests/restore/manual_restore_zip64.sh VAULTWICK_BINARY [SCRATCH_PARENT]
set -eu
bin=$(realpath "$1")
dir=$(mktemp -d "${2:-/tmp}/vaultwick-restore64-XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"

printf 'CREATE TABLE `big`(\r\n\t`id` int NOT NULL PRIMARY KEY\r\n);\r\n' >big.sql
printf "INSERT INTO \`big\` VALUES('1');\r\n" >>big.sql
yes "$(printf '\r')" | head -c $((4 * 1024 * 1024 * 1024 + 1000)) >>big.sql
printf "INSERT INTO \`big\` VALUES('2');\r\nCOMMIT;\r\n" >>big.sql
ls -l big.sql

"$bin" zip big.zip big.sql
python3 -c 'import sys, zipfile; i = zipfile.ZipFile(sys.argv[1]).infolist()[0]; print(i.filename, i.file_size)' big.zip

database="vw_restore64_$$"
VAULTWICK_PASSWORD="$VAULTWICK_TEST_DB_PASSWORD" "$bin" restore \
  --host "$VAULTWICK_TEST_DB_HOST:$VAULTWICK_TEST_DB_PORT" --login "$VAULTWICK_TEST_DB_USER" \
  --archive big.zip --database "$database"
rows=$(mariadb --no-defaults -h "$VAULTWICK_TEST_DB_HOST" -P "$VAULTWICK_TEST_DB_PORT" \
  -u "$VAULTWICK_TEST_DB_USER" -p"$VAULTWICK_TEST_DB_PASSWORD" -N \
  -e "SELECT GROUP_CONCAT(id ORDER BY id) FROM \`$database\`.big; DROP DATABASE \`$database\`")
[ "$rows" = "1,2" ] || { echo "restored rows: $rows" >&2; exit 1; }
echo "restored past 4 GiB: ok"
