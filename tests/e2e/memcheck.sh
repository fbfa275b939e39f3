#!/usr/bin/env bash
#
# End-to-end under valgrind's memcheck: the real noksu binary goes through
# every command of its menu (Info, Tausta, Fontti with its colour, Sulje) in
# a private X session, and ends with no invalid access to memory and no
# memory of its own lost.
#
# Usage: memcheck.sh PATH/TO/noksu
#
# Prints "ok - ..." / "not ok - ..." for each check and a closing
# "N passed, N failed" line; exits non-zero if any check failed, and with
# status 77 (skipped) for a build with AddressSanitizer.

set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=xsession.sh
source "$here/xsession.sh"

e2e_begin "$@"
work=$XSESSION_DIR
log=$work/memcheck.log

# CTest counts this status as skipped (SKIP_RETURN_CODE).
skipped=77
if e2e_sanitized; then
    echo "# skipped: $NOKSU is built with AddressSanitizer, which valgrind cannot run"
    exit "$skipped"
fi
if ! command -v valgrind >/dev/null 2>&1; then
    fail "valgrind is not installed (scripts/run-tests installs it)"
    e2e_finish
    exit
fi

# Everything takes many times longer under valgrind.
CLOCK_WINDOW_TIMEOUT=120
CLOCK_UI_TIMEOUT=30
dialog_timeout=60

# glibc's AVX2 string functions read whole vectors past a string's end,
# which memcheck reports for wxString's comparisons; the SSE2 ones it knows.
memcheck=(env GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2
          valgrind --tool=memcheck --log-file="$log" --num-callers=50 --fullpath-after=
          --suppressions="$here/valgrind.supp"
          --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite)

if start_clock memcheck "${memcheck[@]}"; then
    if clock_menu_key 3 && info=$(xsession_wait_for_window NoksuInfo "$dialog_timeout"); then
        pass "Info"
        xsession_activate "$info"
        xdotool key Return
        check "Info is dismissed" xsession_wait_for_no_window NoksuInfo "$dialog_timeout"
    else
        fail "Info"
    fi
    if clock_menu_key 2 && dialog=$(xsession_wait_for_window Taustaväri "$dialog_timeout"); then
        pass "Tausta"
        clock_choose_colour "$dialog" '#0000FF'
        check "Tausta's colour is chosen" xsession_wait_for_no_window Taustaväri "$dialog_timeout"
    else
        fail "Tausta"
    fi
    if clock_menu_key 1 && dialog=$(clock_wait_for_dialog "$dialog_timeout"); then
        pass "Fontti"
        clock_choose_font "$dialog" 'DejaVu Sans Mono Bold' 24
        if dialog=$(xsession_wait_for_window 'Tekstin väri' "$dialog_timeout"); then
            pass "Fontti asks for the text colour"
            clock_choose_colour "$dialog" '#FF0000'
            check "the text colour is chosen" \
                xsession_wait_for_no_window 'Tekstin väri' "$dialog_timeout"
        else
            fail "Fontti asks for the text colour"
        fi
    else
        fail "Fontti"
    fi
    # A few seconds of ticks in the new style.
    sleep 3
    clock_menu_key -1
    if xsession_wait_for_exit "$clock_pid" 60; then
        expect_eq "Sulje: exit status" 0 "$XSESSION_EXIT_STATUS"
    else
        fail "Sulje: still running a minute later"
        xsession_stop_process "$clock_pid"
    fi
fi

if ! grep -q 'ERROR SUMMARY' "$log" 2>/dev/null; then
    fail "memcheck's report is complete"
    show_file "memcheck" "$log"
    e2e_finish
    exit
fi
grep -E 'ERROR SUMMARY|definitely lost:' "$log" | sed 's/^==[0-9]*== /# /'

# The reports of errors other than leaks, each with its stack.
awk '
    /^==[0-9]+== (Invalid (read|write|free)|Mismatched free|Conditional jump|Use of uninitialised|Syscall param|Source and destination overlap|Argument .* of function|Jump to the invalid)/ { report = 1 }
    report { print }
    report && /^==[0-9]+== $/ { report = 0 }
' "$log" >"$work/errors"
if [[ -s $work/errors ]]; then
    fail "no invalid access to memory: $(grep -c '^==[0-9]*== [A-Z]' "$work/errors") reports"
    show_file "memcheck" "$work/errors"
else
    pass "no invalid access to memory"
fi

# The program's sources are where its main() is, as its debugging
# information says.
sources=$(grep -o ' main (/[^:)]*' "$log" | head -n 1 | sed 's/^ main (//; s|[^/]*$||')
echo "# the program's sources: ${sources:-not found}"
[[ -n $sources ]] || fail "memcheck's stacks show where the program's sources are"

# A definite leak is the program's own when its memory was allocated by the
# program's code (directly or through a template or inline function compiled
# into it), or by wxWidgets called from it. What the libraries under the
# toolkit allocate for themselves (fontconfig's, GTK's and the graphics
# driver's caches) and lose is theirs.
awk -v sources="$sources" '
    function flush() {
        if (record != "" && ours) printf "%s", record
        record = ""; ours = 0; decided = 0; wx = 0; ourframe = 0
    }
    /are definitely lost in loss record/ { flush(); inleak = 1; record = $0 "\n"; next }
    inleak && /^==[0-9]+== $/ { if (wx && ourframe) ours = 1; flush(); inleak = 0; next }
    inleak {
        record = record $0 "\n"
        if (index($0, sources)) ourframe = 1
        if (decided) next
        # The allocator itself, and what was inlined from headers.
        if ($0 ~ /vgpreload_memcheck|\(\/usr\/include\//) next
        decided = 1
        if (index($0, sources)) ours = 1
        else if ($0 ~ /libwx_/) wx = 1
    }
    END { flush() }
' "$log" >"$work/leaks"
if [[ -s $work/leaks ]]; then
    fail "no memory of the program's own is lost: $(grep -c 'definitely lost in loss record' "$work/leaks") leaks"
    show_file "memcheck" "$work/leaks"
else
    pass "no memory of the program's own is lost ($(grep -c 'definitely lost in loss record' "$log") leaks of the libraries' own)"
fi

e2e_finish
