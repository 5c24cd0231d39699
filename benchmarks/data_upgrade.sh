#!/usr/bin/env bash
# Benchmark of the data.db upgrade from version 0: the built dbupgrade against the sqlite3 shell
# doing the same work on a copy of the same generated database: a backup through SQLite's backup
# API with an integrity check of the copy, then the same statements (data_upgrade_v0.sql) in one
# write transaction, with the integrity and foreign-key checks before the commit.
# Usage: benchmarks/data_upgrade.sh [--results N] [--curves N] [--points N] [--build DIR]
#        benchmarks/data_upgrade.sh --growth [--build DIR]
# The default size runs in well under a minute; the full-size case is
#   benchmarks/data_upgrade.sh --results 100000 --curves 20000
# --growth runs the tool alone at the full size and at four times it and reports, for each, the
# wall and CPU time, the peak memory and the peak disk the folder and SQLite's temporary files
# took, so that growth that is not linear shows (wall time growing faster than CPU time is time
# spent waiting for the disk).
set -euo pipefail
cd "$(dirname "$0")/.."

results=20000
curves=4000
points=1200
build=build
growth=0
while [ $# -gt 0 ]; do
    case "$1" in
    --growth) growth=1; shift ;;
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
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

if [ "$growth" = 1 ]; then
    tool_path="$PWD/$build/dbupgrade/dbupgrade"
    # The folder's files, and the files the tool holds open but has unlinked: SQLite's temporary
    # files (the compaction builds its copy in one) are deleted as soon as they are opened.
    disk_in_use() { # $1: folder, $2: pid of the tool
        local folder deleted
        folder=$(du -sb "$1" 2>/dev/null | cut -f1)
        deleted=$(find "/proc/$2/fd" -lname '*(deleted)' 2>/dev/null | xargs -r stat -L -c %s 2>/dev/null |
            awk '{ s += $1 } END { print s + 0 }')
        echo $((folder + deleted))
    }
    printf '%-4s %8s %10s %9s %9s %10s %11s %6s\n' size results database wall cpu "peak mem" "peak disk" "x db"
    for factor in 1 4; do
        site="$work/site$factor"
        mkdir -p "$site"
        "$build/benchmarks/datadbgen" "$site/data.db" $((100000 * factor)) $((20000 * factor)) "$points" >/dev/null
        sqlite3 -bail "$site/profile.db" < tests/dbupgrade/fixtures/profile_v4.sql
        size=$(stat -c %s "$site/data.db")
        start=$(now)
        (cd "$site" && exec /usr/bin/time -f '%M %U %S' -o "$work/time$factor" "$tool_path" upgrade.log >"$work/out$factor") &
        timer=$!
        : >"$work/disk$factor"
        while kill -0 "$timer" 2>/dev/null; do
            tool=$(pgrep -P "$timer" || true)
            [ -n "$tool" ] && disk_in_use "$site" "$tool" >>"$work/disk$factor"
            sleep 0.05
        done
        wait "$timer"
        seconds=$(elapsed "$start")
        peak=$(sort -n "$work/disk$factor" | tail -1)
        read -r memory user system <"$work/time$factor"
        awk -v f="$factor" -v r=$((100000 * factor)) -v s="$size" -v t="$seconds" -v c="$user $system" -v m="$memory" -v p="$peak" \
            'BEGIN { split(c, cpu, " "); printf "%-4s %8d %7.1f MB %7.1f s %7.1f s %7.1f MB %8.1f MB %6.2f\n", f "x", r, s / 1e6, t, cpu[1] + cpu[2], m / 1024, p / 1e6, p / s }'
        grep '^data.db' "$work/out$factor" | sed 's/^/     /'
        grep -E '^Info: data.db: (backup|compaction)' "$site/upgrade.log" | sed 's/^Info: /     /'
        rm -rf "$site"
    done
    exit 0
fi
mkdir "$work/tool" "$work/shell"
"$build/benchmarks/datadbgen" "$work/data.db" "$results" "$curves" "$points"
cp "$work/data.db" "$work/tool/data.db"
cp "$work/data.db" "$work/shell/data.db"
# The tool upgrades profile.db first; a current one costs it next to nothing.
sqlite3 -bail "$work/tool/profile.db" < tests/dbupgrade/fixtures/profile_v4.sql
echo "database: $(du -h "$work/data.db" | cut -f1)"

less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
# The tool runs the version-3 group's own transaction as a savepoint inside its transaction.
sed -e 's/^begin transaction;$/savepoint upgrade_group;/' \
    -e 's/^end transaction;$/release upgrade_group;/' benchmarks/data_upgrade_v0.sql >"$work/upgrade.sql"
{
    echo "BEGIN IMMEDIATE;"
    cat "$work/upgrade.sql"
    echo "PRAGMA integrity_check;"
    echo "PRAGMA foreign_key_check;"
    echo "COMMIT;"
} >"$work/shell.sql"

# The largest sizes of the database and its rollback journal while the tool runs.
peak_journal=0
peak_database=0
sample() {
    while [ -e "$work/tool/running" ]; do
        j=$(stat -c %s "$work/tool/data.db-journal" 2>/dev/null || echo 0)
        d=$(stat -c %s "$work/tool/data.db" 2>/dev/null || echo 0)
        echo "$j $d"
        sleep 0.02
    done
}

# Alternate the two a few times so neither gains from a warm cache alone; keep the best.
best_tool=
best_shell=
for round in 1 2 3; do
    if [ "$round" -gt 1 ]; then
        cp "$work/data.db" "$work/tool/data.db"
        cp "$work/data.db" "$work/shell/data.db"
        rm -f "$work/tool/qc.db" "$work/tool/syslog.db" "$work/tool/upgrade.log" "$work"/*/*.bak
    fi
    touch "$work/tool/running"
    sample >"$work/sizes" &
    sampler=$!
    start=$(now)
    (cd "$work/tool" && "$OLDPWD/$build/dbupgrade/dbupgrade" upgrade.log >/dev/null)
    tool=$(elapsed "$start")
    rm -f "$work/tool/running"
    wait "$sampler"
    read -r j d < <(awk '{ if ($1 > j) j = $1; if ($2 > d) d = $2 } END { print j + 0, d + 0 }' "$work/sizes")
    if [ "$j" -gt "$peak_journal" ]; then peak_journal=$j; fi
    if [ "$d" -gt "$peak_database" ]; then peak_database=$d; fi

    start=$(now)
    sqlite3 -bail "$work/shell/data.db" ".backup '$work/shell/data.db.v0.bak'"
    sqlite3 -bail "$work/shell/data.db.v0.bak" "PRAGMA integrity_check;" >/dev/null
    shell_backup=$(elapsed "$start")
    sqlite3 -bail "$work/shell/data.db" < "$work/shell.sql" >/dev/null
    shell=$(elapsed "$start")
    printf 'round %d: dbupgrade %.3f s, sqlite3 %.3f s (of which backup and its check %.3f s)\n' \
        "$round" "$tool" "$shell" "$shell_backup"
    grep '^Info: data.db: backup' "$work/tool/upgrade.log" | sed 's/^Info: /  dbupgrade: /'
    if [ -z "$best_tool" ] || less "$tool" "$best_tool"; then best_tool=$tool; fi
    if [ -z "$best_shell" ] || less "$shell" "$best_shell"; then best_shell=$shell; fi
done

if grep -v '^Info: ' "$work/tool/upgrade.log" >&2; then
    echo "the tool logged failures" >&2
    exit 1
fi
# Both must have produced the same database, schema and rows alike.
tool_hash=$(sqlite3 "$work/tool/data.db" ".sha3sum --schema")
shell_hash=$(sqlite3 "$work/shell/data.db" ".sha3sum --schema")
if [ "$tool_hash" != "$shell_hash" ]; then
    echo "the two upgrades differ" >&2
    exit 1
fi
size=$(stat -c %s "$work/data.db")
awk -v s="$size" -v j="$peak_journal" -v d="$peak_database" 'BEGIN {
    printf "database before: %.1f MB; while upgrading: largest rollback journal %.1f MB (%.2f of the database), largest database file %.1f MB (%.2f)\n",
        s / 1e6, j / 1e6, j / s, d / 1e6, d / s }'
awk -v t="$best_tool" -v s="$best_shell" \
    'BEGIN { printf "best: dbupgrade %.3f s, sqlite3 %.3f s, ratio %.2f\n", t, s, t / s }'
