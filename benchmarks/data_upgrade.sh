#!/usr/bin/env bash
# Benchmark of the data.db upgrade from version 0: the built dbupgrade against the sqlite3 shell
# running the same statements (data_upgrade_v0.sql) on a copy of the same generated database.
# Usage: benchmarks/data_upgrade.sh [--results N] [--curves N] [--points N] [--build DIR]
# The default size runs in well under a minute; the full-size case is
#   benchmarks/data_upgrade.sh --results 100000 --curves 20000
set -euo pipefail
cd "$(dirname "$0")/.."

results=20000
curves=4000
points=1200
build=build
while [ $# -gt 0 ]; do
    case "$1" in
    --results) results=$2; shift 2 ;;
    --curves) curves=$2; shift 2 ;;
    --points) points=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done

cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target dbupgrade datadbgen >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tool" "$work/shell"
"$build/benchmarks/datadbgen" "$work/data.db" "$results" "$curves" "$points"
cp "$work/data.db" "$work/tool/data.db"
cp "$work/data.db" "$work/shell/data.db"
# The tool upgrades profile.db first; a current one costs it next to nothing.
sqlite3 -bail "$work/tool/profile.db" < tests/dbupgrade/fixtures/profile_v4.sql
echo "database: $(du -h "$work/data.db" | cut -f1)"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
# Alternate the two a few times so neither gains from a warm cache alone; keep the best.
best_tool=
best_shell=
for round in 1 2 3; do
    if [ "$round" -gt 1 ]; then
        cp "$work/data.db" "$work/tool/data.db"
        cp "$work/data.db" "$work/shell/data.db"
        rm -f "$work/tool/qc.db" "$work/tool/syslog.db" "$work/tool/upgrade.log"
    fi
    start=$(now)
    (cd "$work/tool" && "$OLDPWD/$build/dbupgrade/dbupgrade" upgrade.log)
    tool=$(elapsed "$start")
    start=$(now)
    sqlite3 -bail "$work/shell/data.db" < benchmarks/data_upgrade_v0.sql
    shell=$(elapsed "$start")
    printf 'round %d: dbupgrade %.3f s, sqlite3 %.3f s\n' "$round" "$tool" "$shell"
    if [ -z "$best_tool" ] || less "$tool" "$best_tool"; then best_tool=$tool; fi
    if [ -z "$best_shell" ] || less "$shell" "$best_shell"; then best_shell=$shell; fi
done

if [ -s "$work/tool/upgrade.log" ]; then
    echo "the tool logged failures:" >&2
    cat "$work/tool/upgrade.log" >&2
    exit 1
fi
# Both must have produced the same database, schema and rows alike.
tool_hash=$(sqlite3 "$work/tool/data.db" ".sha3sum --schema")
shell_hash=$(sqlite3 "$work/shell/data.db" ".sha3sum --schema")
if [ "$tool_hash" != "$shell_hash" ]; then
    echo "the two upgrades differ" >&2
    exit 1
fi
awk -v t="$best_tool" -v s="$best_shell" \
    'BEGIN { printf "best: dbupgrade %.3f s, sqlite3 %.3f s, ratio %.2f\n", t, s, t / s }'
