#!/bin/sh
# system_install_check.sh BUILD_DIR: installs the build's Debian package system-wide
# with apt-get, as a user would on a machine without the build, and checks that both
# programs start, that `man kcab` shows the page and that `apt-get remove` leaves
# nothing behind; runs lintian on the package when it is there. It changes the
# machine's packages for a moment, so scripts/test runs it only when asked
# (KP_PACKAGE_CHECK=1) or on CI (CI=true). Needs root or sudo.
set -eu
build=$(cd "$1" && pwd)
fail() { echo "system_install_check: $*" >&2; exit 1; }
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
apt="$sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -q"

if dpkg-query -W -f='${Status}' kpellix 2>/dev/null | grep -q 'install ok'; then
    # On CI the only kpellix there can be is one an earlier run left when it was
    # stopped; a developer's own installation is theirs to remove.
    [ "${CI:-}" = true ] || fail "kpellix is installed already; remove it first (apt-get remove kpellix)"
    $apt remove kpellix >/dev/null 2>&1 || fail "cannot remove the kpellix an earlier run left"
fi
scratch=$(mktemp -d)
installed=""
cleanup() {
    [ -n "$installed" ] && $apt remove kpellix >/dev/null 2>&1
    rm -rf "$scratch"
}
trap cleanup EXIT
# The package lies outside the build, so nothing of the build can be used by mistake.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; }
version=$("$build/bin/kcab" --version | sed -n '1s/.* //p')
deb="$scratch/kpellix_${version}_$(dpkg --print-architecture).deb"
chmod a+rx "$scratch"  # apt's download user reads local packages too

if command -v lintian >/dev/null; then
    lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
    if grep -q '^E:' "$scratch/lintian.log"; then
        cat "$scratch/lintian.log" >&2
        fail "lintian reports errors"
    fi
    echo "system_install_check: lintian: $(grep -c '^W:' "$scratch/lintian.log" || true) warnings, no errors"
fi

installed=yes
$apt install "$deb" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "apt-get install failed"; }
dpkg-query -L kpellix >"$scratch/files"

[ "$(command -v kcab)" = /usr/bin/kcab ] || fail "kcab is not the installed command"
[ "$(cd / && kcab --version)" = "kcab (Korvath Pellix) $version" ] || fail "kcab --version: '$(kcab --version)'"
mkdir "$scratch/out"
(cd / && kcab -q -r --sfx "$scratch/out/doc.exe" /usr/share/doc/kpellix) ||
    fail "the installed kcab does not make a self-extractor"
# The wizard shows its window offscreen and keeps running until it is stopped.
rc=0
(cd / && QT_QPA_PLATFORM=offscreen timeout 3 kpellix >"$scratch/kpellix.log" 2>&1) || rc=$?
[ $rc -eq 124 ] || { cat "$scratch/kpellix.log"; fail "kpellix ended by itself with status $rc"; }
[ "$(man -w kcab)" = /usr/share/man/man1/kcab.1.gz ] || fail "man finds no page for kcab"
MANWIDTH=80 man -P cat kcab 2>/dev/null | grep -q 'kcab  *- pack files into a Microsoft Cabinet' ||
    fail "man kcab does not show the page"
MANWIDTH=80 man -P cat kpellix 2>/dev/null | grep -q 'kpellix  *- wizard' || fail "man kpellix does not show the page"

$apt remove kpellix >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "apt-get remove failed"; }
installed=""
state=$(dpkg-query -W -f='${Status}' kpellix 2>/dev/null || true)
case "$state" in
    "" | *not-installed) ;;
    *) fail "kpellix not fully removed: $state" ;;
esac
# Every file and folder of its own is gone; shared folders (/usr/bin, ...) stay.
while read -r path; do
    if [ -L "$path" ] || [ -f "$path" ]; then
        fail "$path is left behind"
    fi
done <"$scratch/files"
for folder in /usr/lib/kpellix /usr/share/doc/kpellix; do
    [ ! -e "$folder" ] || fail "$folder is left behind"
done
echo "system_install_check: kpellix $version installed, both programs started, man kcab shown, removed without a trace"
