#!/usr/bin/env bash
# The demo: the demo host runs the server book over the bundled plug-in
# directory of a build, on a few sample entries made on first use.
set -euo pipefail
build=${1:-build}
plugins="$build/plugins"
book() { "$build/kelvo-book" --plugin-dir "$plugins" "$@"; }

if [ ! -e "$plugins/DATA/kelvo.mdb" ]; then
  echo "Beispieleinträge in $plugins/DATA/kelvo.mdb"
  book init
  book add "Vereinsseite" "ftp://ftp.example.com/verein/" "/verein/" "FtpWorker.so"
  book add "Firmen-Homepage" "https://www.example.com/" "/" "HttpsWorker.so"
  book add "Archiv (Gopher)" "gopher://gopher.example.org/" "/" "GopherWorker.so"
  book add "Lokale Vorschau" "/srv/www/vorschau" "/srv/www/vorschau" "FileWorker.so"
  book add "Übungsserver" "http://www.example.com/uebung/" "/uebung/" "HttpWorker.so"
fi

echo "Geladene Plugins:"
"$build/ostrel-host" --plugin-dir "$plugins" list
echo
"$build/ostrel-host" --plugin-dir "$plugins" serverbook
echo
echo "Das Serverbook enthält jetzt:"
book list
