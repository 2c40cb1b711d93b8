#!/usr/bin/env bash
# Builds the Debian packages from a finished build and checks them as Debian,
# a user and a worker author would: what lintian says, what each package
# holds and depends on, a real install into a throw-away root used by two
# ordinary users, a purge that leaves nothing, the unpacked tree working
# wherever it lies, and the SDK building the example worker, which the
# installed host then loads.
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # the users below must reach the throw-away root
fail() { echo "check-package: $*" >&2; exit 1; }
version=1.0.0.1
ma=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null 2>&1) || fail "cpack failed"
debs=()
for package in kelvo libostrelhost1 libostrelhost-dev; do
  deb=$work/pkg/${package}_${version}_amd64.deb
  [ -f "$deb" ] || fail "no package $(basename "$deb"): $(ls "$work/pkg")"
  debs+=("$deb")
done
kelvo=${debs[0]} runtime=${debs[1]} dev=${debs[2]}

# lintian: no errors, and no warnings but the ones the README explains.
lintian --tag-display-limit 0 "${debs[@]}" >"$work/lintian" 2>&1 || true
grep -v -e '^running with root privileges' -e '^I: ' -e '^N: ' "$work/lintian" \
  | grep -v -x -e 'W: libostrelhost1: maintainer-script-empty \[postinst\]' \
               -e 'W: libostrelhost1: maintainer-script-empty \[postrm\]' >"$work/unexplained" || true
[ ! -s "$work/unexplained" ] || fail "lintian: $(cat "$work/unexplained")"

holds() {  # package, then the paths it must hold
  local deb=$1 contents
  shift
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for path in "$@"; do
    grep -qx "./$path" <<<"$contents" || fail "$(basename "$deb") lacks $path"
  done
  ! grep -q -e ZFtpWorker -e TelnetWorker -e noexports <<<"$contents" || fail "test fixtures in $(basename "$deb")"
}
docs() { echo "usr/share/doc/$1/copyright usr/share/doc/$1/changelog.gz"; }
# shellcheck disable=SC2046
holds "$kelvo" usr/bin/kelvo-book usr/bin/ostrel-host usr/bin/kelvo-shot \
  usr/lib/$ma/ostrel/plugins/Kelvo.so usr/lib/$ma/ostrel/plugins/FtpWorker.so \
  usr/lib/$ma/ostrel/plugins/FileWorker.so usr/share/ostrel/skel/plugins/DATA/kelvo.mdb \
  usr/share/man/man1/kelvo-book.1.gz usr/share/man/man1/ostrel-host.1.gz usr/share/man/man1/kelvo-shot.1.gz \
  usr/share/bash-completion/completions/kelvo-book $(docs kelvo)
# shellcheck disable=SC2046
holds "$runtime" usr/lib/$ma/libostrelhost.so.1 $(docs libostrelhost1)
# shellcheck disable=SC2046
holds "$dev" usr/lib/$ma/libostrelhost.so usr/include/ostrel/pluginapi.h usr/include/ostrel/cplugindll.h \
  usr/include/ostrel/userplugindir.h usr/lib/$ma/cmake/OstrelHost/OstrelHostConfig.cmake $(docs libostrelhost-dev)
! dpkg-deb -c "$kelvo" | grep -q "libostrelhost" || fail "the host library is in the kelvo package"
depends() { dpkg-deb -f "$1" Depends; }
grep -q "libostrelhost1 (= $version)" <<<"$(depends "$kelvo")" || fail "kelvo depends: $(depends "$kelvo")"
grep -q "libqt6core6" <<<"$(depends "$kelvo")" || fail "dependencies not computed: $(depends "$kelvo")"
grep -q "libsqlite3-0" <<<"$(depends "$kelvo")" || fail "SQLite is no dependency: $(depends "$kelvo")"
grep -q "libostrelhost1 (= $version)" <<<"$(depends "$dev")" || fail "-dev depends: $(depends "$dev")"
grep -q "libsecret-1-0" <<<"$(depends "$kelvo")" || fail "libsecret is no dependency: $(depends "$kelvo")"
grep -q "libcurl4" <<<"$(depends "$kelvo")" || fail "libcurl is no dependency: $(depends "$kelvo")"
grep -q "gnome-keyring" <<<"$(dpkg-deb -f "$kelvo" Recommends)" || fail "no keyring recommended"
[ "$(dpkg-deb -f "$runtime" Multi-Arch)" = same ] || fail "the host library is not Multi-Arch: same"
# Every run path an installed binary has leads to a folder the packages make.
unpacked=$work/unpacked
mkdir -p "$unpacked"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$unpacked"; done
while IFS= read -r -d '' binary; do
  runpath=$(readelf -d "$binary" 2>/dev/null | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  IFS=: read -ra folders <<<"$runpath"
  for folder in "${folders[@]}"; do
    resolved=${folder//\$ORIGIN/$(dirname "$binary")}
    [ -d "$resolved" ] || fail "run path $folder of ${binary#"$unpacked"} leads nowhere"
  done
done < <(find "$unpacked" -type f \( -name '*.so*' -o -path '*/bin/*' \) -print0)
[ "$(dpkg-deb --ctrl-tarfile "$runtime" | tar -xO ./shlibs)" = "libostrelhost 1 libostrelhost1 (>= $version)" ] \
  || fail "no shlibs for libostrelhost.so.1"

# A real install into a throw-away root whose package database is this
# machine's, so that dpkg checks the dependencies against what is installed.
# The host's triggers are not copied: nothing of the machine itself runs.
if [ "$(id -u)" -ne 0 ]; then
  echo "check-package: not root, so the install into a throw-away root is left out"
else
  root=$work/root
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  cp /var/lib/dpkg/status "$root/var/lib/dpkg/status"
  touch "$root/var/lib/dpkg/available"
  cp /var/lib/dpkg/info/*.list "$root/var/lib/dpkg/info/"
  dpkg --root="$root" --force-script-chrootless -i "${debs[@]}" >"$work/dpkg.log" 2>&1 \
    || fail "dpkg -i: $(tail -5 "$work/dpkg.log")"
  # Multi-Arch: same, so dpkg names its files with the architecture.
  grep -qx "activate-noawait ldconfig" "$root/var/lib/dpkg/info/libostrelhost1:$(dpkg --print-architecture).triggers" \
    || fail "libostrelhost1 does not run ldconfig by trigger"
  usr=$root/usr
  find "$usr" -print0 | sort -z | xargs -0 stat -c '%n %s %Y' >"$work/usr-before"

  # Two ordinary users, each with a home of their own.
  as_user() {  # uid, then the command
    local uid=$1 home=$work/home-$1
    shift
    mkdir -p "$home" && chown "$uid" "$home"
    setpriv --reuid="$uid" --regid=65534 --clear-groups \
      env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen "$@"
  }
  for uid in 65534 4711; do
    home=$work/home-$uid
    book=$home/.local/share/ostrel/plugins/DATA/kelvo.mdb
    listed=$(as_user $uid "$usr/bin/ostrel-host" list 2>/dev/null) || fail "ostrel-host list as $uid"
    grep -q "^Kelvo.so	7	" <<<"$listed" || fail "the installed host did not load the module: $listed"
    [ -f "$book" ] || fail "no book of their own for user $uid"
    [ -z "$(as_user $uid "$usr/bin/kelvo-book" list)" ] || fail "a new user's book is not empty"
    as_user $uid "$usr/bin/kelvo-book" add "Site $uid" ftp://site$uid.example/ / FtpWorker.so \
      || fail "kelvo-book add as $uid"
    [ "$(as_user $uid "$usr/bin/kelvo-book" list)" = "0	Site $uid	ftp://site$uid.example/	/	FtpWorker.so" ] \
      || fail "kelvo-book list as $uid"
    shown=$(as_user $uid "$usr/bin/ostrel-host" about 2>/dev/null) || fail "ostrel-host about as $uid"
    picture=${shown#Bild des Dialogs: }
    [[ $picture == "$home/.cache/ostrel/about.png" && -s $picture ]] || fail "picture of user $uid: $shown"
    # A folder the user may not write: the message says why and what to do.
    refused=$(as_user $uid "$usr/bin/kelvo-book" --plugin-dir "$usr/lib/$ma/ostrel/plugins" init 2>&1) \
      && fail "kelvo-book init under /usr succeeded for user $uid"
    [[ $refused == *"dürfen Sie nicht schreiben"*"--plugin-dir"* ]] || fail "init under /usr said: $refused"
    for tool in ostrel-host kelvo-book kelvo-shot; do
      [ "$(as_user $uid "$usr/bin/$tool" --version)" = "$tool $version" ] || fail "$tool --version"
    done
  done
  find "$usr" -print0 | sort -z | xargs -0 stat -c '%n %s %Y' >"$work/usr-after"
  cmp -s "$work/usr-before" "$work/usr-after" \
    || fail "the users' runs wrote under /usr: $(diff "$work/usr-before" "$work/usr-after" | head -5)"

  # Completion of a command and of the backup names for restore.
  if [ -f /usr/share/bash-completion/bash_completion ]; then
    completed=$(as_user 65534 bash -c '
      source /usr/share/bash-completion/bash_completion
      source "$0"
      PATH=$1:$PATH
      complete_line() { COMP_LINE=$1; COMP_POINT=${#1}; read -ra COMP_WORDS <<<"$1"
                        [[ $1 == *" " ]] && COMP_WORDS+=("")
                        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kelvo_book; echo "${COMPREPLY[*]}"; }
      complete_line "kelvo-book re"
      complete_line "kelvo-book restore "' \
      "$usr/share/bash-completion/completions/kelvo-book" "$usr/bin")
    [[ $(head -1 <<<"$completed") == restore && $(tail -1 <<<"$completed") == kelvo-*Z.mdb ]] \
      || fail "bash completion: $completed"
  fi

  dpkg --root="$root" --force-script-chrootless --purge kelvo libostrelhost-dev libostrelhost1 \
    >>"$work/dpkg.log" 2>&1 || fail "dpkg --purge: $(tail -5 "$work/dpkg.log")"
  if [ -d "$usr" ]; then
    left=$(find "$usr" ! -type d)
    [ -z "$left" ] || fail "purge left files under /usr: $left"
  fi
fi

# Unpacked somewhere else than /usr: everything finds everything relative to
# itself, and the book is the user's own.
for deb in "${debs[@]}"; do dpkg -x "$deb" "$work/tree"; done
usr=$work/tree/usr
plugins=$usr/lib/$ma/ostrel/plugins
export QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=$work/data
"$usr/bin/kelvo-book" add Paket ftp://paket.example/ / FtpWorker.so
[ "$("$usr/bin/kelvo-book" list)" = "$(printf '0\tPaket\tftp://paket.example/\t/\tFtpWorker.so')" ] \
  || fail "kelvo-book list in the unpacked tree"
[ -f "$XDG_DATA_HOME/ostrel/plugins/DATA/kelvo.mdb" ] || fail "the book is not in the user's plug-in folder"

# The SDK: the example worker, out of tree, against the unpacked prefix; a
# worker of the user's own, in their plug-in folder.
cmake -S "$source/examples/worker" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$usr" >/dev/null \
  || fail "the example worker does not configure against the SDK"
cmake --build "$work/example" >/dev/null || fail "the example worker does not build"
exports=$(nm -D --defined-only "$work/example/ExampleWorker.so" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$exports" = "GetPluginInfo GetPluginName GetPluginTypeAsInteger GetPluginTypeAsString GetSupportedService " ] \
  || fail "the example worker exports more or less than the contract: $exports"
cp "$work/example/ExampleWorker.so" "$XDG_DATA_HOME/ostrel/plugins/"
listed=$("$usr/bin/ostrel-host" list 2>/dev/null)
grep -q "^ExampleWorker.so	2	PLUGINTYPE_PUBWORKER	Beispiel-FTP-Worker$" <<<"$listed" \
  || fail "the installed host did not load the user's own worker: $listed"
grep -q "^Kelvo.so	7	" <<<"$listed" || fail "the installed host lost the installed module: $listed"
[ ! -e "$plugins/DATA" ] || fail "something was written into the installed plug-in folder"
echo "check-package: all good"
