#!/bin/sh
# package_check.sh CPACK BUILD_DIR SCRATCH_DIR: makes the Debian package of the build
# in SCRATCH_DIR and checks it without installing it: its file name, version and
# relations, that every file lies where Debian and the programs look for it, that the
# programs are stripped, and that the kcab it holds runs from the unpacked tree and
# finds the stub beside itself.
set -eu
cpack=$1
build=$2
scratch=$3
fail() { echo "package_check: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; }

version=$("$build/bin/kcab" --version | sed -n '1s/.* //p')
deb="$scratch/kpellix_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$scratch")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kpellix ] || fail "package named '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "package version '$(field Version)', kcab says $version"
# What dpkg-shlibdeps found the programs link: the C and C++ run-times, Qt, zlib and
# libmspack, each with a version.
depends=$(field Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 zlib1g libmspack0; do
    # A basic expression: the '+' of libstdc++6 stands for itself.
    printf '%s\n' "$depends" | tr ',' '\n' | grep -q "^ *$library (>= [^)]*)$" ||
        fail "Depends lacks $library with a version: $depends"
done
printf '%s\n' "$(field Suggests)" | tr ',' '\n' | grep -qxE ' *wine' ||
    fail "Wine is not suggested: '$(field Suggests)'"

# Every file in its place, and nothing else.
dpkg-deb -c "$deb" | awk '{ print $6 ($7 == "->" ? " -> " $8 : "") }' |
    grep -v '/$' | sort >"$scratch/contents"
cat >"$scratch/expected" <<LIST
./usr/bin/kcab -> ../lib/kpellix/kcab
./usr/bin/kpellix -> ../lib/kpellix/kpellix
./usr/lib/kpellix/kcab
./usr/lib/kpellix/kpellix
./usr/lib/kpellix/kstub08.exe
./usr/lib/kpellix/kstub16.exe
./usr/lib/kpellix/solefile.avi
./usr/share/applications/kpellix.desktop
./usr/share/doc/kpellix/changelog.gz
./usr/share/doc/kpellix/copyright
./usr/share/icons/hicolor/128x128/apps/kpellix.png
./usr/share/icons/hicolor/256x256/apps/kpellix.png
./usr/share/icons/hicolor/48x48/apps/kpellix.png
./usr/share/man/man1/kcab.1.gz
./usr/share/man/man1/kpellix.1.gz
LIST
sort -o "$scratch/expected" "$scratch/expected"
diff -u "$scratch/expected" "$scratch/contents" >&2 || fail "the package holds other files than these"
# Owned by root, readable by everyone; the programs alone executable.
dpkg-deb -c "$deb" | awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' >&2 ||
    fail "files not owned by root"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for program in kcab kpellix; do
    case "$(file -b "$root/usr/lib/kpellix/$program")" in
        *ELF*", stripped"*) ;;
        *) fail "$program is not a stripped program: $(file -b "$root/usr/lib/kpellix/$program")" ;;
    esac
    # A search path into the build would make it work here and nowhere else.
    ! readelf -d "$root/usr/lib/kpellix/$program" | grep -qE 'R(UN)?PATH' ||
        fail "$program carries a library search path"
done
for stub in kstub16.exe kstub08.exe; do
    cmp -s "$build/bin/$stub" "$root/usr/lib/kpellix/$stub" || fail "$stub differs from the build's"
done
for page in kcab kpellix; do
    gzip -dc "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH .*\"Korvath Pellix $version\"" ||
        fail "the manual page of $page does not name version $version"
done
gzip -dc "$root/usr/share/doc/kpellix/changelog.gz" | head -n 1 | grep -q "^kpellix ($version) " ||
    fail "the changelog's last entry is not version $version"

# The packaged kcab, through its command link, packs the package's own files into a
# self-extractor built on the stub beside it.
[ "$("$root/usr/bin/kcab" --version)" = "kcab (Korvath Pellix) $version" ] ||
    fail "the packaged kcab says '$("$root/usr/bin/kcab" --version)'"
"$root/usr/bin/kcab" -q -r -m mszip -o "$scratch/share.cab" --sfx "$scratch/share.exe" \
    "$root/usr/share" || fail "the packaged kcab could not make a self-extractor"
mkdir "$scratch/unpacked"
cabextract -q -d "$scratch/unpacked" "$scratch/share.cab"
diff -r "$root/usr/share" "$scratch/unpacked" >&2 || fail "the cabinet does not give back what went in"
[ "$(head -c 2 "$scratch/share.exe")" = MZ ] || fail "no Windows program made"
echo "package_check: $(basename "$deb"), $(wc -l <"$scratch/contents") files, Depends: $depends"
