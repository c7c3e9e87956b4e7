#!/bin/sh
# install_check.sh BUILD_DIR SCRATCH_DIR: installs the build into SCRATCH_DIR/usr and
# checks that the programs, the clip and the stubs beside them, the commands, the
# menu entry, the icons and the manual pages are where a Debian desktop looks for them.
set -eu
build=$1
root=$2
rm -rf "$root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null

fail() { echo "install_check: $*" >&2; exit 1; }
program="$root/usr/lib/kpellix/kpellix"
[ -x "$program" ] || fail "no program in /usr/lib/kpellix"
cmp -s "$build/bin/solefile.avi" "$root/usr/lib/kpellix/solefile.avi" || fail "no clip beside the program"
[ "$(readlink "$root/usr/bin/kpellix")" = "../lib/kpellix/kpellix" ] || fail "/usr/bin/kpellix does not lead to the program"
[ -x "$root/usr/lib/kpellix/kcab" ] || fail "no kcab beside the program"
[ "$(readlink "$root/usr/bin/kcab")" = "../lib/kpellix/kcab" ] || fail "/usr/bin/kcab does not lead to kcab"
for stub in kstub16.exe kstub08.exe; do
    if [ -f "$build/bin/$stub" ]; then
        cmp -s "$build/bin/$stub" "$root/usr/lib/kpellix/$stub" || fail "no $stub beside the programs"
    fi
done
for page in kcab kpellix; do
    gzip -t "$root/usr/share/man/man1/$page.1.gz" 2>/dev/null || fail "no manual page $page(1)"
done
desktop="$root/usr/share/applications/kpellix.desktop"
grep -q '^Exec=kpellix %F$' "$desktop" || fail "the menu entry does not hand files to the program"
grep -q '^Icon=kpellix$' "$desktop" || fail "the menu entry has no icon"
for size in 48 128 256; do
    icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/kpellix.png"
    [ -f "$icon" ] || fail "no ${size}x${size} icon"
    case "$(head -c 8 "$icon" | od -An -c | tr -d ' ')" in
        *PNG*) ;;
        *) fail "the ${size}x${size} icon is not a PNG" ;;
    esac
done
echo "install_check: layout complete"
