#!/usr/bin/env bash
# The Windows bootstrap's source step on a machine whose apt is as Debian ships it (one
# debian.sources, no deb-src entry): afterwards /etc/apt is byte for byte what it was and
# apt-get update is clean. It runs in a private mount namespace over a copy of /etc/apt and of
# apt's lists and caches, with an empty Windows cache, so the machine's own apt is not touched.
#
# Usage: fresh_apt_test.sh [BOOTSTRAP]   (default: this checkout's scripts/bootstrap-windows)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bootstrap=$(realpath "${1:-$here/../../scripts/bootstrap-windows}")

if [[ -z ${ZQR_IN_APT_NAMESPACE:-} ]]; then
    if [[ $(id -u) != 0 ]] || ! unshare -m --propagation private true 2>/dev/null; then
        echo "[  SKIPPED ] a private mount namespace cannot be made here (needs root and unshare -m)"
        exit 0
    fi
    ZQR_IN_APT_NAMESPACE=1 exec unshare -m --propagation private "$0" "$bootstrap"
fi

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
work=$(mktemp -d /tmp/zqr-fresh-apt.XXXXXX)
trap 'umount /etc/apt /var/lib/apt/lists /var/cache/apt 2>/dev/null || true; rm -rf "$work"' EXIT

# A fresh machine's /etc/apt: the deb-src entries and this project's files taken out.
cp -a /etc/apt "$work/apt"
rm -f "$work/apt/sources.list.d"/zqrstereo-*
for f in "$work/apt/sources.list" "$work/apt/sources.list.d"/*.list; do
    [[ -f $f ]] && sed -i '/^[[:space:]]*deb-src[[:space:]]/d' "$f"
done
for f in "$work/apt/sources.list.d"/*.sources; do
    [[ -f $f ]] || continue
    awk -v RS= '{
        n = split($0, line, "\n"); out = ""; keep = 1
        for (i = 1; i <= n; i++) {
            if (line[i] ~ /^Types:/) {
                sub(/[ \t]+deb-src/, "", line[i])
                if (line[i] ~ /^Types:[ \t]*$/) keep = 0
            }
            out = out line[i] "\n"
        }
        if (keep) printf "%s\n", out
    }' "$f" >"$f.fresh"
    mv "$f.fresh" "$f"
done
grep -rqsE '^(Types:.*deb-src|[[:space:]]*deb-src )' "$work/apt" && fail "the copy still has deb-src entries"
mkdir -p "$work/lists" "$work/cache/archives/partial"
cp -a /var/lib/apt/lists/. "$work/lists/"
mount --bind "$work/apt" /etc/apt
mount --bind "$work/lists" /var/lib/apt/lists
mount --bind "$work/cache" /var/cache/apt

state_of_etc_apt() { (cd /etc/apt && find . -printf '%p %y %m %s\n' && find . -type f -exec sha256sum {} +) | LC_ALL=C sort; }
before=$(state_of_etc_apt)

ZQR_WINDOWS_CACHE=$work/windows-cache "$bootstrap" --fetch-sources libogg ||
    fail "the source step failed"
[[ -f $work/windows-cache/sources/libogg_1.3.5-3.dsc ]] || fail "the source package was not fetched"

[[ $(state_of_etc_apt) == "$before" ]] || {
    diff <(echo "$before") <(state_of_etc_apt) >&2 || true
    fail "/etc/apt was changed"
}
update=$(apt-get update 2>&1) || {
    echo "$update" >&2
    fail "apt-get update failed after the source step"
}
if grep -E '^(E|W):' <<<"$update" >&2; then fail "apt-get update complains after the source step"; fi
echo "passed: /etc/apt unchanged, apt-get update clean"
