#!/usr/bin/env bash
# with-xsession.sh COMMAND...: runs COMMAND in a private X session, Xvfb with
# openbox. The unit tests need a window manager too: a window's frame, and so
# the room left for what it holds, is only known once one manages it.
set -uo pipefail
# shellcheck source=tests/e2e/xsession.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e/xsession.sh"
xsession_start 1280x1024x24 || exit 1
"$@"
