#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks that everything an installation holds is
# there, and runs the installed kestro-upgrade with no option but --simulate: it must find its
# firmware and its log place by itself.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(
  bin/kestro-upgrade
  bin/kestro-radio-sim
  share/kestro-upgrade-kit/samples/zqt_upg.pvx
  share/applications/kestro-upgrade-kit.desktop
  share/icons/hicolor/scalable/apps/kestro-upgrade-kit.svg
  lib/udev/rules.d/60-kestro-programming-cable.rules
  share/man/man1/kestro-upgrade.1
  share/bash-completion/completions/kestro-upgrade
)
[ -x "$build/bin/kestro-upgrade-kit" ] && expected+=(bin/kestro-upgrade-kit)
[ -x "$build/bin/kestro-upgrade-station" ] &&
  expected+=(bin/kestro-upgrade-station share/applications/kestro-upgrade-station.desktop)
missing=0
for f in "${expected[@]}"; do
  if [ ! -e "$prefix/$f" ]; then
    echo "missing from the installation: $f"
    missing=1
  fi
done
grep -q 'TAG+="uaccess"' "$prefix/lib/udev/rules.d/60-kestro-programming-cable.rules"
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$prefix/lib/udev/rules.d/60-kestro-programming-cable.rules"
[ $missing -eq 0 ]

# The completion, as bash runs it: scenarios after --simulate= (also after a comma), options.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _kestro_upgrade;
           echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/kestro-upgrade" "$@"
}
[ "$(complete_words "$prefix/bin/kestro-upgrade" --simulate = normal,bat)" = "normal,battery-low" ]
[ "$(complete_words "$prefix/bin/kestro-upgrade" --simulate = no)" = "normal no-restore no-restart" ]
[ "$(complete_words "$prefix/bin/kestro-upgrade" --rec)" = "--recovery" ]

state="$prefix/state"
status=0
XDG_STATE_HOME="$state" "$prefix/bin/kestro-upgrade" --simulate >"$prefix/run.txt" 2>&1 || status=$?
if [ $status -ne 0 ]; then
  tail -20 "$prefix/run.txt"
  echo "the installed kit failed with exit status $status"
  exit 1
fi
log="$state/kestro-upgrade-kit/Kestro_UpdateKit_log.csv"
grep -q ',OK' "$log" || { echo "no OK line in $log"; exit 1; }
grep -q 'Completed the program firmware file.' "$prefix/run.txt"
echo "installation complete; the installed kit upgraded the simulated radio"
