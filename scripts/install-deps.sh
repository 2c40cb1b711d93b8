#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and the demo need.
# Idempotent: packages already installed are skipped, and apt is not touched
# at all when nothing is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  clang libclang-rt-14-dev        # sanitizer build and the address-parser fuzzer
  qt6-base-dev                    # Qt Core, Gui, Widgets, Sql, Test
  libicu-dev                      # the list's collation sort, with ICU as QCollator uses it
  libqt6sql6-sqlite               # the QSQLITE driver: the plain-Qt floor of the dialog benchmark
  qt6-qpa-plugins                 # the offscreen platform for tests and pictures
  libsqlite3-dev sqlite3          # the store's database; the shell for tests and by hand
  time                            # bench_kelvobook: each process's peak memory
  fonts-dejavu-core               # text in offscreen pictures
  dpkg-dev                        # make package: dpkg-shlibdeps computes the dependencies
  lintian bash-completion         # the package check: lintian, and kelvo-book's completion tried
  qt6-translations-l10n           # Qt's own German texts: "Ja", "Nein", the file dialogs
  xvfb dbus at-spi2-core python3-pyatspi  # the screen-reader test: an X server, a session bus, AT-SPI
  openbox x11-utils               # and a window manager, which decides the active window as a desktop does; xprop sees it ready
  libsecret-1-dev                 # passwords in the desktop's keyring through the Secret Service
  gnome-keyring libsecret-tools   # the keyring tests: a real Secret Service, and secret-tool to check it
  libcurl4-openssl-dev            # the site check's transfers
  python3-pyftpdlib python3-openssl python3-paramiko  # the site check's test servers: FTP, FTPS, SFTP
  openssl openssh-client          # the test servers' certificate and host key
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
