# Every command answers --help with its usage, a summary of what it does and its exit statuses.
source "$(dirname "$0")/lib.bash"

commands=$("$cli" --help | sed -n '/^commands:/,$p' | awk 'NR > 1 && $1 != "tessaro-cli" { print $1 }' | sort -u)
[ -n "$commands" ] || fail "no commands listed by --help"
for c in $commands; do
    out=$("$cli" "$c" --help 2>&1)
    rc=$?
    [ "$rc" -eq 0 ] || fail "$c --help: exit $rc"
    grep -q "^usage: tessaro-cli $c" <<<"$out" || fail "$c --help: no usage line in: $out"
    grep -q "^exit status: 0 success" <<<"$out" || fail "$c --help: no exit statuses in: $out"
    # usage, blank, summary, blank, exit status: a command without a summary has three lines.
    [ "$(wc -l <<<"$out")" -ge 5 ] || fail "$c --help: no summary in: $out"
done
expect_status 2 "$cli"
expect_status 2 "$cli" no-such-command
finish help
