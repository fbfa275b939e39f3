# shellcheck shell=bash
#
# Helpers shared by the scripts that build and test the Windows program on
# Linux: where things are kept, and installing Debian packages when missing.
# Source it; it sets no shell options of its own.

# shellcheck disable=SC2034 # the settings are for the scripts that source this

# The source tree this file belongs to.
NOKSU_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Everything built once per machine is kept here, outside the work tree.
NOKSU_CACHE=${NOKSU_CACHE:-/var/cache/noksu}

# The cross compilers: the posix thread model, which the C++ standard
# library's threads need.
NOKSU_MINGW_CC=x86_64-w64-mingw32-gcc-posix
NOKSU_MINGW_CXX=x86_64-w64-mingw32-g++-posix

noksu_log() {
    printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2
}

noksu_die() {
    noksu_log "error: $*"
    exit 1
}

# noksu_missing_packages PACKAGE...: prints those of the Debian packages that
# are not installed.
noksu_missing_packages() {
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null \
            | grep -q '^install ok installed$' || printf '%s\n' "$package"
    done
}

# noksu_need_packages PACKAGE...: installs the missing ones with apt-get.
noksu_need_packages() {
    local missing
    mapfile -t missing < <(noksu_missing_packages "$@")
    ((${#missing[@]})) || return 0

    noksu_log "installing ${missing[*]}"
    local sudo=()
    ((EUID == 0)) || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    # Package lists are fetched at most once per run.
    if [[ -z ${NOKSU_APT_UPDATED:-} ]]; then
        "${sudo[@]}" apt-get update -qq || return 1
        NOKSU_APT_UPDATED=1
    fi
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null || return 1
}

# noksu_elapsed START: minutes and seconds since START (seconds since the
# epoch), as 3m07s.
noksu_elapsed() {
    local seconds=$(( $(date +%s) - $1 ))
    printf '%dm%02ds' $((seconds / 60)) $((seconds % 60))
}
