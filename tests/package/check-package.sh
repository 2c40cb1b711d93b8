#!/usr/bin/env bash
# Builds the Debian package from a finished build and checks it as a user
# and a worker author would: what it holds, what it depends on, that the
# unpacked tools work wherever the tree lies, and that the SDK builds the
# example worker, which the installed host then loads.
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null) || fail "cpack failed"
deb=$(ls "$work"/pkg/*.deb)
[ "$(basename "$deb")" = "kelvo_1.0.0.1_amd64.deb" ] || fail "unexpected package name $(basename "$deb")"

ma=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in usr/bin/kelvo-book usr/bin/ostrel-host usr/bin/kelvo-shot \
            usr/lib/$ma/ostrel/plugins/Kelvo.so usr/lib/$ma/ostrel/plugins/FtpWorker.so \
            usr/lib/$ma/ostrel/plugins/FileWorker.so usr/lib/$ma/libostrelhost.so.1 \
            usr/include/ostrel/pluginapi.h usr/include/ostrel/cplugindll.h \
            usr/lib/$ma/cmake/OstrelHost/OstrelHostConfig.cmake \
            usr/share/man/man1/kelvo-book.1 usr/share/man/man1/ostrel-host.1; do
  grep -qx "./$path" <<<"$contents" || fail "the package lacks $path"
done
! grep -q -e ZFtpWorker -e TelnetWorker -e noexports <<<"$contents" || fail "test fixtures in the package"
info=$(dpkg-deb -f "$deb" Package Version Depends)
grep -qx "Package: kelvo" <<<"$info" || fail "package name: $info"
grep -qx "Version: 1.0.0.1" <<<"$info" || fail "version: $info"
grep -q "libqt6core6" <<<"$info" || fail "dependencies not computed: $info"
grep -q "libqt6sql6-sqlite" <<<"$info" || fail "the SQLite driver is no dependency: $info"

# Unpacked somewhere else than /usr: everything finds everything relative to itself.
dpkg -x "$deb" "$work/root"
usr=$work/root/usr
plugins=$usr/lib/$ma/ostrel/plugins
export QT_QPA_PLATFORM=offscreen
"$usr/bin/kelvo-book" init
"$usr/bin/kelvo-book" add Paket ftp://paket.example/ / FtpWorker.so
[ "$("$usr/bin/kelvo-book" list)" = "$(printf '0\tPaket\tftp://paket.example/\t/\tFtpWorker.so')" ] \
  || fail "kelvo-book list in the unpacked tree"
[ -f "$plugins/DATA/kelvo.mdb" ] || fail "the store is not in the installed plug-in folder"
listed=$("$usr/bin/ostrel-host" list 2>/dev/null)
grep -q "^Kelvo.so	7	" <<<"$listed" || fail "ostrel-host did not load the installed module: $listed"

# The SDK: the example worker, out of tree, against the unpacked prefix.
cmake -S "$source/examples/worker" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$usr" >/dev/null \
  || fail "the example worker does not configure against the SDK"
cmake --build "$work/example" >/dev/null || fail "the example worker does not build"
exports=$(nm -D --defined-only "$work/example/ExampleWorker.so" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$exports" = "GetPluginInfo GetPluginName GetPluginTypeAsInteger GetPluginTypeAsString GetSupportedService " ] \
  || fail "the example worker exports more or less than the contract: $exports"
cp "$work/example/ExampleWorker.so" "$plugins/"
"$usr/bin/ostrel-host" list 2>/dev/null | grep -q "^ExampleWorker.so	2	PLUGINTYPE_PUBWORKER	Beispiel-FTP-Worker$" \
  || fail "the installed host did not load the example worker"
echo "check-package: all good"
