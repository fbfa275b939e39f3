#!/usr/bin/env bash
#
# The Debian package: builds it with CPack from a build folder, installs it
# with dpkg, checks what it installed and how the installed program starts,
# then removes it and checks that nothing of it is left.
#
# Usage: deb.sh BUILD_DIR [CPACK [APP_ID]]
#
# Installing a package needs root: as anyone else it exits 77 (skipped), and
# so it does when a noksu package that it did not install itself is there
# already. Prints "ok - ..." / "not ok - ..." for each check and a closing
# "N passed, N failed" line; exits non-zero if any check failed.

set -euo pipefail

if [[ $# -lt 1 || $# -gt 3 ]]; then
    echo "usage: $0 BUILD_DIR [CPACK [APP_ID]]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
cpack=${2:-cpack}
app_id=${3:-fi.ukkoviisari.noksu}

package=noksu
version=1.1
maintainer="Ukko Viisari"
section=utils
binary=/usr/bin/noksu
desktop=/usr/share/applications/$app_id.desktop
metainfo=/usr/share/metainfo/$app_id.metainfo.xml
expected_files=("$binary" "$desktop" "$metainfo")

# Left while this test has the package installed: a later run that finds the
# package and this file knows the package is the leftover of a run that was
# killed before it could remove it.
marker=/var/tmp/noksu-package-test.installed
# Runs of this test, in other build folders too, take turns.
lock=/run/lock/noksu-package-test.lock

skip() {
    echo "SKIP: $*"
    exit 77
}

bail_out() {
    echo "Bail out! $*"
    exit 1
}

passed=0
failed=0

pass() {
    passed=$((passed + 1))
    echo "ok - $*"
}

fail() {
    failed=$((failed + 1))
    echo "not ok - $*"
}

# check NAME COMMAND...: passes if COMMAND succeeds.
check() {
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# expect_eq NAME EXPECTED ACTUAL
expect_eq() {
    if [[ $2 == "$3" ]]; then
        pass "$1"
    else
        fail "$1: expected '$2', got '$3'"
    fi
}

comment() {
    sed 's/^/#   /'
}

installed() {
    [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) == installed ]]
}

# dpkg ARGS..., waiting a while for another package manager to let go of
# dpkg's lock; dpkg's output is shown as comments.
dpkg_run() {
    local out status deadline=$((SECONDS + 180))
    while true; do
        status=0
        out=$(dpkg "$@" 2>&1 </dev/null) || status=$?
        [[ -z $out ]] || comment <<<"$out"
        ((status != 0)) || return 0
        if grep -q 'locked by another process' <<<"$out" && ((SECONDS < deadline)); then
            echo "# dpkg is busy elsewhere, trying again"
            sleep 3
            continue
        fi
        return "$status"
    done
}

# ----------------------------------------------------------------------------
# whether this test may run here
# ----------------------------------------------------------------------------

((EUID == 0)) || skip "installing a package needs root"

missing=()
for tool in dpkg dpkg-deb dpkg-query dpkg-shlibdeps file desktop-file-validate appstreamcli \
            flock Xvfb xev xprop ldd "$cpack"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
((${#missing[@]} == 0)) \
    || bail_out "missing tools: ${missing[*]} (packages dpkg-dev, file, desktop-file-utils," \
                "appstream, xvfb, x11-utils; scripts/check-hardening installs them)"
[[ -f $build/CPackConfig.cmake ]] || bail_out "no CPackConfig.cmake in $build"

exec 9>"$lock"
flock -w 300 9 || bail_out "another run of this test holds $lock"

if installed; then
    if [[ -e $marker ]]; then
        echo "# removing the package an earlier run of this test left installed"
        dpkg_run -r "$package" || bail_out "could not remove the leftover package"
        rm -f "$marker"
    else
        skip "a $package package that this test did not install is installed"
    fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/noksu-deb.XXXXXX")
xvfb_pid=""
xev_pid=""
we_installed=""

cleanup() {
    local status=$?
    [[ -z $xev_pid ]] || kill "$xev_pid" 2>/dev/null || true
    [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true
    if [[ -n $we_installed ]] && installed; then
        echo "# cleaning up: removing $package"
        dpkg_run -r "$package" || true
    fi
    installed || rm -f "$marker"
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ----------------------------------------------------------------------------
# the package file
# ----------------------------------------------------------------------------

echo "# building the package from $build"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" \
        >"$work/cpack.log" 2>&1; then
    comment <"$work/cpack.log"
    bail_out "cpack failed"
fi
arch=$(dpkg --print-architecture)
deb=$work/cpack/${package}_${version}_$arch.deb
[[ -f $deb ]] || {
    comment <"$work/cpack.log"
    bail_out "cpack made no $(basename "$deb")"
}
pass "cpack -G DEB makes $(basename "$deb")"

field() {
    dpkg-deb -f "$deb" "$1"
}
expect_eq "Package" "$package" "$(field Package)"
expect_eq "Version" "$version" "$(field Version)"
expect_eq "Architecture" "$arch" "$(field Architecture)"
expect_eq "Maintainer" "$maintainer" "$(field Maintainer)"
expect_eq "Section" "$section" "$(field Section)"
depends=$(field Depends)
echo "# Depends: $depends"

# The package's own files, without the folders that hold them.
package_files() {
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort
}
expect_eq "the package holds the program, its desktop entry and its metadata" \
    "$(printf '%s\n' "${expected_files[@]}" | sort | xargs)" "$(package_files | xargs)"

# Whether the desktop entry and the metadata agree with each other (the
# launchable names an existing desktop entry, the ids match) is checked on the
# package's tree before it goes anywhere.
mkdir "$work/tree"
dpkg-deb -x "$deb" "$work/tree"
if appstreamcli validate-tree --no-net "$work/tree/usr" >"$work/tree.log" 2>&1; then
    pass "appstreamcli validate-tree on the package's files"
else
    fail "appstreamcli validate-tree on the package's files"
fi
comment <"$work/tree.log"

# ----------------------------------------------------------------------------
# installed
# ----------------------------------------------------------------------------

: >"$marker"
we_installed=yes
if ! dpkg_run -i "$deb"; then
    fail "dpkg -i $(basename "$deb")"
    exit 1
fi
pass "dpkg -i $(basename "$deb")"

expect_eq "dpkg knows $package $version as installed" "installed $version" \
    "$(dpkg-query -W -f='${db:Status-Status} ${Version}' "$package")"

listed_files() {
    local path
    dpkg -L "$package" | while read -r path; do
        [[ -d $path ]] || printf '%s\n' "$path"
    done | sort
}
expect_eq "dpkg -L lists the program, its desktop entry and its metadata" \
    "$(printf '%s\n' "${expected_files[@]}" | sort | xargs)" "$(listed_files | xargs)"
check "$binary is an executable file" test -f "$binary" -a -x "$binary"
check "$desktop is a file" test -f "$desktop"
check "$metainfo is a file" test -f "$metainfo"

# Every wx library the installed program loads comes from a package that the
# package depends on.
wx_libraries=$(ldd "$binary" | awk '/libwx_/ { print $3 }')
if [[ -z $wx_libraries ]]; then
    fail "the installed program loads wxWidgets libraries"
fi
for library in $wx_libraries; do
    owner=$(dpkg -S "$(readlink -f "$library")" 2>/dev/null | cut -d: -f1 | head -n1)
    check "$(basename "$library") comes from $owner, which $package depends on" \
        grep -Eq "(^|, )${owner:-unknown}( |,|$)" <<<"$depends"
done
check "no library the installed program loads is missing" \
    bash -c "! ldd '$binary' | grep -q 'not found'"

if desktop-file-validate "$desktop" >"$work/desktop.log" 2>&1 && ! [[ -s $work/desktop.log ]]; then
    pass "desktop-file-validate $desktop says nothing"
else
    fail "desktop-file-validate $desktop"
    comment <"$work/desktop.log"
fi
if appstreamcli validate --no-net "$metainfo" >"$work/metainfo.log" 2>&1; then
    pass "appstreamcli validate --no-net $metainfo"
else
    fail "appstreamcli validate --no-net $metainfo"
fi
comment <"$work/metainfo.log"

# ----------------------------------------------------------------------------
# the installed program, asked for its usage
# ----------------------------------------------------------------------------

# A display of its own, with xev reporting every top-level window that gets
# mapped on it.
# The lock stays with this script, not with what it starts.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$work/display" >"$work/xvfb.log" 2>&1 9>&- &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ $(cat "$work/display" 2>/dev/null) == *[0-9]* ]] && break
    sleep 0.1
done
[[ $(cat "$work/display") == *[0-9]* ]] || {
    comment <"$work/xvfb.log"
    bail_out "Xvfb did not start"
}
DISPLAY=:$(tr -dc '0-9' <"$work/display")
export DISPLAY
export NO_AT_BRIDGE=1

xev -root -event substructure -event property >"$work/xev.log" 2>&1 9>&- &
xev_pid=$!

sync_count=0
# Changes a property of the root window and waits until xev has reported it,
# and with it all that happened on the display before.
xev_sync() {
    sync_count=$((sync_count + 1))
    local i
    for i in $(seq 50); do
        # xev may not be listening yet the first time: set it again.
        if ((i % 10 == 1)); then
            xprop -root -f _NOKSU_TEST_SYNC 32c -set _NOKSU_TEST_SYNC "$sync_count"
        fi
        [[ $(grep -c '(_NOKSU_TEST_SYNC)' "$work/xev.log") -ge $sync_count ]] && return 0
        sleep 0.1
    done
    return 1
}
xev_sync || bail_out "xev does not report what happens on $DISPLAY"
sync_count=$(grep -c '(_NOKSU_TEST_SYNC)' "$work/xev.log")
maps_before=$(grep -c '^MapNotify' "$work/xev.log" || true)

status=0
timeout 30 "$binary" --help >"$work/help.out" 2>"$work/help.err" 9>&- || status=$?
xev_sync || bail_out "xev does not report what happens on $DISPLAY"
maps_after=$(grep -c '^MapNotify' "$work/xev.log" || true)

expect_eq "$binary --help exits with status 255" 255 "$status"
check "$binary --help prints the usage on stderr" grep -q '^Usage: noksu' "$work/help.err"
expect_eq "$binary --help prints nothing on stdout" "" "$(cat "$work/help.out")"
expect_eq "$binary --help maps no window" 0 "$((maps_after - maps_before))"
if ((failed > 0)); then
    echo "# stderr:"
    comment <"$work/help.err"
fi

kill "$xev_pid" 2>/dev/null || true
kill "$xvfb_pid" 2>/dev/null || true
wait "$xev_pid" "$xvfb_pid" 2>/dev/null || true
xev_pid=""
xvfb_pid=""

# ----------------------------------------------------------------------------
# removed
# ----------------------------------------------------------------------------

if dpkg_run -r "$package"; then
    pass "dpkg -r $package"
    rm -f "$marker"
else
    fail "dpkg -r $package"
fi
expect_eq "dpkg no longer knows $package" "" \
    "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -v '^not-installed$' || true)"
for file in "${expected_files[@]}"; do
    check "$file is gone" test ! -e "$file"
done

echo "$passed passed, $failed failed"
((failed == 0 && passed > 0))
