#!/bin/sh
# check_exports.sh LIBRARY EXPECTED [ALLOWED]
# Fails unless LIBRARY exports exactly the function names listed in EXPECTED, has a SONAME, and
# needs no shared library but libc, libm and the ALLOWED ones (shell patterns, e.g.
# 'libmseed.so.*' for the library that wraps libmseed).
set -eu
lib=$1 expected=$2 allowed=${3:-}
NM=${NM:-nm} READELF=${READELF:-readelf}
status=0

actual=$($NM -D --defined-only "$lib" | awk 'NF == 3 { print $3 }' | sort)
wanted=$(sort "$expected")
if [ "$actual" != "$wanted" ]; then
    echo "exports of $lib differ from $expected:"
    printf '%s\n' "$actual" > "${TMPDIR:-/tmp}/exports.$$"
    printf '%s\n' "$wanted" | diff - "${TMPDIR:-/tmp}/exports.$$" || true
    rm -f "${TMPDIR:-/tmp}/exports.$$"
    status=1
fi

dynamic=$($READELF -d "$lib")
if ! printf '%s\n' "$dynamic" | grep -q '(SONAME)'; then
    echo "$lib has no SONAME"
    status=1
fi
needed=$(printf '%s\n' "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for n in $needed; do
    case $n in
        libc.so.*|libm.so.*) continue ;;
    esac
    ok=0
    for pattern in $allowed; do
        # shellcheck disable=SC2254
        case $n in $pattern) ok=1 ;; esac
    done
    [ $ok -eq 1 ] || { echo "$lib needs $n (only libc, libm${allowed:+ and $allowed} are allowed)"; status=1; }
done
[ $status -eq 0 ] && echo "$lib: exports, SONAME and dependencies as expected"
exit $status
