#!/usr/bin/env bash
# The Debian package as a user gets it: built, checked by lintian, installed with apt-get,
# then /usr/bin/veldar started as an ordinary user against the device simulator on a
# pseudo-terminal linked as COM1 in that user's ~/.config/veldar/. One dump must be saved
# there and, after a SIGTERM, VELDAR.ini too. The package and the user are removed at the
# end. Runs as root.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
started=$SECONDS

CI_USER=veldar-ci
work=""
sim=""
app=""

remove_user() {
    if id "$CI_USER" >/dev/null 2>&1; then
        userdel --force --remove "$CI_USER" 2>/dev/null || true
    fi
}

remove_package() {
    if dpkg-query -W -f='${Status}' veldar 2>/dev/null | grep -q "install ok installed"; then
        apt-get purge -y -qq veldar >/dev/null
    fi
}

cleanup() {
    [ -n "$app" ] && kill -KILL "$app" 2>/dev/null || true
    [ -n "$sim" ] && kill -KILL "$sim" 2>/dev/null || true
    wait 2>/dev/null || true
    remove_user
    remove_package || true
    [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "package.sh: $*" >&2
    for log in "$work"/*.log; do
        [ -f "$log" ] || continue
        echo "---- $(basename "$log")" >&2
        cat "$log" >&2
    done
    exit 1
}

# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
    local tenths=$1
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

echo "== building the package"
./veldar.sh package
deb=$(ls dist/veldar_*_amd64.deb)

echo "== lintian"
if ! command -v lintian >/dev/null; then
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends lintian >/dev/null
fi
# Lintian warns that it runs as root; its findings are what counts.
lintian --fail-on error "$deb" 2>/dev/null || {
    echo "package.sh: lintian found errors in $deb" >&2
    exit 1
}

echo "== installing $deb"
# A package of the same version left by an earlier run would not be replaced.
remove_user
remove_package
if ! apt-get install -y -qq "./$deb" >/tmp/veldar-apt.log 2>&1; then
    # Its run-time dependencies may need fresh package lists.
    apt-get update -qq
    apt-get install -y -qq "./$deb" >/tmp/veldar-apt.log 2>&1 || {
        cat /tmp/veldar-apt.log >&2
        exit 1
    }
fi
[ -x /usr/bin/veldar ] || { echo "package.sh: /usr/bin/veldar missing after the install" >&2; exit 1; }

echo "== VELDAR installed, run by an ordinary user against the simulator"
useradd --create-home --user-group --shell /bin/bash "$CI_USER"
home=$(getent passwd "$CI_USER" | cut -d: -f6)
folder="$home/.config/veldar"
work=$(mktemp -d)
chown "$CI_USER:" "$work"
chmod 700 "$work"
# The simulator runs as the user too, so that the user may open its pseudo-terminal.
[ -x build/veldar-devsim ] || {
    cmake --preset default >/dev/null
    cmake --build --preset default --target veldar-devsim
}
install -o "$CI_USER" -m 755 build/veldar-devsim "$work/veldar-devsim"
for i in $(seq 1 200); do echo "RELEVE $i;$((i * 53 % 1000)),$((i % 7));OK"; done >"$work/records.txt"
chown "$CI_USER:" "$work/records.txt"

# A plain command line, not a function: started in the background, "$!" is then the
# program itself (setpriv and env replace themselves with it), which SIGTERM must reach.
as_user=(setpriv --reuid="$CI_USER" --regid="$CI_USER" --init-groups
    env -i HOME="$home" USER="$CI_USER" LOGNAME="$CI_USER" PATH=/usr/bin:/bin
    LANG=C.UTF-8 XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen)

# The user makes the folder, as for any link put there by hand.
"${as_user[@]}" mkdir -p "$folder"
"${as_user[@]}" "$work/veldar-devsim" --records "$work/records.txt" --header PAQUET --link-dir "$folder" \
    --com 1 --kick-every 2 --timeout 120 --quiet >"$work/devsim.log" 2>&1 &
sim=$!
wait_for 100 test -L "$folder/COM1" || fail "the simulator made no COM1 link in $folder"

"${as_user[@]}" /usr/bin/veldar >"$work/veldar.log" 2>&1 &
app=$!

# Without a destination folder in its settings, VELDAR saves in its own folder.
capture="$folder/PAQUET.txt"
expected=$(sed 's/$/\r/' "$work/records.txt")
capture_complete() { [ -f "$capture" ] && [ "$(cat "$capture")" = "$expected" ]; }
wait_for 900 capture_complete || fail "no complete capture in $capture"
[ "$(stat -c %U "$capture")" = "$CI_USER" ] || fail "the capture is not the user's"

kill -TERM "$app"
app_ended() {
    local state
    state=$(ps -o stat= -p "$app" || true)
    [ -z "$state" ] || [[ $state == Z* ]]
}
wait_for 300 app_ended || fail "VELDAR still runs 30 s after SIGTERM"
status=0
wait "$app" || status=$?
app=""
[ "$status" -eq 0 ] || fail "VELDAR ended with status $status"
wait "$sim" 2>/dev/null || true
sim=""

ini="$folder/VELDAR.ini"
[ -f "$ini" ] || fail "no VELDAR.ini in $folder"
[ "$(sed -n 2p "$ini" | tr -d '\r')" = "COM1" ] || fail "VELDAR.ini does not hold COM1: $(cat "$ini")"
[ ! -e /usr/bin/VELDAR.ini ] || fail "VELDAR.ini was written beside the executable"
echo "VELDAR.ini in $folder:"
tr -d '\r' <"$ini" | sed 's/^/    /'

echo "== removing the package"
remove_user
remove_package
[ ! -e /usr/bin/veldar ] || { echo "package.sh: /usr/bin/veldar left after the removal" >&2; exit 1; }
echo "package.sh: passed in $((SECONDS - started)) s"
