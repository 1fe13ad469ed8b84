#!/usr/bin/env bash
# The campaign report's page in a real browser: kestro-upgrade report over a CSV log and a fleet
# list, rendered by headless Chromium offline. The page must fetch nothing and
# run no script; the browser's DOM must hold the states and the radio never seen; the
# screenshot must be a full page's PNG. Exit 77 (skipped) where Chromium is not installed.
set -euo pipefail
kit=$1
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "SKIPPED: Chromium is not installed (scripts/deps installs it)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

printf ' Date, Time, Serial Number, Pre FW Ver, CP, FW\r\n' >bench1.csv
printf '2026/11/30, 09:14:05,KS24001735,R01.03,No,OK\r\n' >>bench1.csv
printf '2026/11/30, 09:20:41,KS24001737,R01.03,No,Error #5\r\n' >>bench1.csv
printf '2026/12/01, 10:02:13,KS24001738,R01.03,Yes,OK\r\n' >>bench1.csv
printf 'serial\nKS24001735\nKS24001737\nKS24001738\nKS24009999\n' >fleet.csv
"$kit" report --from bench1.csv --fleet fleet.csv --html report.html --csv report.csv

fail() { echo "FAILED: $*"; exit 1; }
grep -qi '<script' report.html && fail "the page has a script"
grep -Eqi '(src|href)="(https?:)?//' report.html && fail "the page fetches from the network"

# No network at all for the browser: the page must render from the file alone.
flags=(--headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run
       --proxy-server=127.0.0.1:9 --user-data-dir="$work/profile")
timeout 120 "$browser" "${flags[@]}" --window-size=1000,1200 --screenshot="$work/report.png" \
  "file://$work/report.html" >browser.log 2>&1 || fail "Chromium: $(tail -3 browser.log)"
timeout 120 "$browser" "${flags[@]}" --dump-dom "file://$work/report.html" >dom.html 2>>browser.log ||
  fail "Chromium: $(tail -3 browser.log)"

for text in "Radios by state" "Runs per day and bench" "not yet seen" "KS24009999" "needs recovery" \
            "failed" "upgraded, not confirmed" "(log only)" "lines of CSV logs"; do
  grep -qF "$text" dom.html || fail "the rendered page lacks \"$text\""
done
[ "$(grep -c '<svg' dom.html)" -ge 2 ] || fail "the rendered page lacks its two charts"
grep -q 'KS24009999</td><td><span class="sw" style="background:#9e9e9e"></span>not yet seen' dom.html ||
  fail "the radio never seen is not marked \"not yet seen\""

# A PNG of the window's size, and more than a blank page's bytes.
python3 - "$work/report.png" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
width, height = struct.unpack(">II", data[16:24])
assert (width, height) == (1000, 1200), f"screenshot is {width}x{height}"
assert len(data) > 20000, f"screenshot of {len(data)} bytes: a blank page?"
PY
[ -n "${KESTRO_REPORT_SHOT:-}" ] && cp report.png "$KESTRO_REPORT_SHOT"
echo "report rendered: $(stat -c %s report.png) bytes of PNG"
