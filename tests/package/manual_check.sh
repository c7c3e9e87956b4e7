#!/bin/sh
# manual_check.sh KCAB PAGE: the manual page PAGE (roff) against `KCAB --help` and
# `KCAB --version`. Fails naming every option the help lists and the page's OPTIONS
# lack, every long option the page names and kcab does not take, a version other
# than kcab's, and any warning the page gives when formatted.
set -eu
kcab=$1
page=$2
status=0
fail() { echo "manual_check: $*" >&2; status=1; }

# An option is a dash and a letter, or two dashes and a name, at the start of a word.
options_in() {
    grep -oE '(^|[ ,(])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[ ,(]*//' | sort -u
}
help=$("$kcab" --help)
# The page as text: roff's escaped hyphens as plain ones, font changes dropped.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")

# The OPTIONS section, up to the next section: an option only named in an example
# is not described.
described=$(printf '%s\n' "$text" | sed -n '/^\.SH OPTIONS/,/^\.SH /p' | options_in)

listed=$(printf '%s\n' "$help" | options_in)
[ -n "$listed" ] || fail "kcab --help lists no options"
for option in $listed; do
    printf '%s\n' "$described" | grep -qxe "$option" ||
        fail "the OPTIONS of $page do not describe $option, which kcab --help lists"
done
for option in $(printf '%s\n' "$text" | options_in | grep -e '^--'); do
    printf '%s\n' "$listed" | grep -qxe "$option" ||
        fail "$page describes $option, which kcab --help does not list"
done

version=$("$kcab" --version | sed -n '1s/.* //p')
grep -q "^\.TH KCAB 1 .*\"Korvath Pellix $version\"" "$page" ||
    fail "$page does not name version $version, which kcab --version shows"

# Formatted as man shows it (the way lintian checks pages), a page says nothing.
if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || true
    [ -z "$warnings" ] || fail "$page has formatting warnings: $warnings"
fi
[ $status -eq 0 ] && echo "manual_check: $(echo $listed | wc -w) options, version $version"
exit $status
