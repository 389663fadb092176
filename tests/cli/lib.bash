# Shared by the tessaro-cli checks in this folder. Each check starts with
#   source "$(dirname "$0")/lib.bash"
# and is run as "bash CHECK.sh /path/to/tessaro-cli" (tests/CMakeLists.txt runs every *.sh here;
# this file is not one of them). It sets cli to that program and work to a temporary
# directory removed on exit. A failed check is counted and the script goes on; finish
# reports the count and exits 1 when any failed.
set -u
cli=${1:?usage: bash CHECK.sh /path/to/tessaro-cli}
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Set by a check of one subcommand: expect then runs "$cli $subcommand ARGS...".
subcommand=""

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect NAME EXPECTED_STATUS PATTERN... -- ARGS...: runs tessaro-cli with ARGS and checks its
# exit status and that each fixed string stands in its output (stdout and stderr together).
expect() {
    local name="$1" status="$2"
    shift 2
    local patterns=()
    while [ "$1" != "--" ]; do
        patterns+=("$1")
        shift
    done
    shift
    local out rc
    out=$("$cli" ${subcommand:+"$subcommand"} "$@" 2>&1)
    rc=$?
    [ "$rc" -eq "$status" ] || fail "$name: exit $rc, expected $status; output:
$out"
    for p in "${patterns[@]}"; do
        grep -qF -- "$p" <<<"$out" || fail "$name: missing '$p' in:
$out"
    done
}

# expect_exact OUTPUT COMMAND...: the command's output (stdout and stderr together) is exactly OUTPUT.
expect_exact() {
    local want=$1
    shift
    local got
    got=$("$@" 2>&1)
    [ "$got" = "$want" ] || fail "$*
  want: $want
  got:  $got"
}

# expect_status CODE COMMAND...: the command exits with CODE.
expect_status() {
    local want=$1
    shift
    "$@" >/dev/null 2>&1
    local got=$?
    [ "$got" = "$want" ] || fail "$* exited $got, want $want"
}

# finish NAME: the last line of a check.
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$1: $failures check(s) failed"
        exit 1
    fi
    echo "$1: all checks passed"
}
