# shellcheck shell=bash
#
# Shared by scripts/run-clock and scripts/run-tests: the Debian packages Noksu
# needs, installing the missing ones, and building.

NOKSU_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The Debian 12 packages, in one place, for the scripts that source this file.
# shellcheck disable=SC2034
{
    # To build the program (wxWidgets 3.2 on GTK 3).
    NOKSU_BUILD_PACKAGES=(build-essential cmake pkg-config libwxgtk3.2-dev libgtk-3-dev)
    # To run it in a virtual X server and drive it from outside, reading what
    # it shows with tesseract.
    NOKSU_X_PACKAGES=(xvfb xauth openbox xdotool x11-utils imagemagick wmctrl
                      tesseract-ocr tesseract-ocr-eng)
    # For the unit tests, for the test that builds, installs and checks the
    # Debian package, and for the end-to-end tests that move the clock the
    # program sees and watch its memory.
    NOKSU_TEST_PACKAGES=(libgtest-dev googletest dpkg-dev file desktop-file-utils appstream
                         faketime valgrind)
}

noksu_say() {
    printf '==> %s\n' "$*"
}

noksu_die() {
    printf 'error: %s\n' "$*" >&2
    exit 1
}

# The packages among the arguments that are not installed.
noksu_missing_packages() {
    local package
    for package in "$@"; do
        if [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) != installed ]]; then
            printf '%s\n' "$package"
        fi
    done
}

NOKSU_APT_UPDATED=""

# noksu_install_packages PACKAGE...: installs those that are missing with
# apt-get, as root or through sudo; the package lists are updated once.
noksu_install_packages() {
    command -v dpkg-query >/dev/null 2>&1 \
        || noksu_die "no dpkg-query: this script installs Debian packages; install these yourself: $*"
    local missing
    mapfile -t missing < <(noksu_missing_packages "$@")
    if ((${#missing[@]} == 0)); then
        noksu_say "Packages: all ${#} needed are installed."
        return 0
    fi

    local sudo=()
    if ((EUID != 0)); then
        command -v sudo >/dev/null 2>&1 \
            || noksu_die "not root and no sudo: install these packages as root: ${missing[*]}"
        sudo=(sudo)
    fi
    local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o Dpkg::Use-Pty=0)

    noksu_say "Installing missing packages: ${missing[*]}"
    if [[ -z $NOKSU_APT_UPDATED ]]; then
        "${apt[@]}" update </dev/null || noksu_die "apt-get update failed"
        NOKSU_APT_UPDATED=yes
    fi
    "${apt[@]}" install -y "${missing[@]}" </dev/null \
        || noksu_die "could not install: ${missing[*]}"
}

# noksu_build BUILD_DIR [CMAKE_OPTION...]: configures and builds there.
noksu_build() {
    local dir=$1
    shift
    noksu_say "Configuring in $dir"
    cmake -S "$NOKSU_ROOT" -B "$dir" "$@" || noksu_die "configuring failed"
    noksu_say "Building in $dir"
    cmake --build "$dir" --parallel "$(nproc)" || noksu_die "building failed"
}
