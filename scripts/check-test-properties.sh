#!/bin/sh
# Every end-to-end case as CTest will run it: it needs the package fixtures
# (which need the end-to-end packages first), has its own time-out, and runs
# on the clock ahead of UTC that the log-name check relies on. A list handed
# to gtest_discover_tests' PROPERTIES was once flattened, and the cases lost
# all three without a word. And every power-loss scenario that power-loss.sh
# names in its usage is a CTest case with the fixtures and time-out, and no
# case names one it does not know: a scenario left out of the list in
# tests/CMakeLists.txt would never run.
# Usage: ./scripts/check-test-properties.sh BUILD_DIR
set -eu
ctest --test-dir "$1" --show-only=json-v1 2>/dev/null | python3 -c '
import json, re, sys
all_tests = json.load(sys.stdin)["tests"]
props = {t["name"]: {x["name"]: x["value"] for x in t.get("properties", [])} for t in all_tests}
tests = [name for name in props if name.startswith("e2e.")]
bad = []
for name in tests:
    p = props[name]
    if p.get("FIXTURES_REQUIRED") != ["package_fixtures"] or p.get("TIMEOUT") != 900 \
            or "LUMET_WINE_ENV=TZ=LUM-5:45" not in p.get("ENVIRONMENT", []):
        bad.append(name)
print("test properties: %d end-to-end cases, %d without their fixtures, time-out or clock" % (len(tests), len(bad)))
for name in bad:
    print("  " + name)
usage = open(sys.argv[1]).read()
scenarios = {"e2e_power_loss." + s for s in re.findall(r"^#   ([a-z][a-z-]*)\s", usage, re.M)}
cases = {name for name in props if name.startswith("e2e_power_loss.")}
lost = sorted(scenarios - cases) + sorted(cases - scenarios) + sorted(
    name for name in cases & scenarios
    if props[name].get("FIXTURES_REQUIRED") != ["package_fixtures"] or props[name].get("TIMEOUT") != 900)
print("power-loss scenarios: %d named, %d cases, %d missing, unknown or without fixtures or time-out"
      % (len(scenarios), len(cases), len(lost)))
for name in lost:
    print("  " + name)
sys.exit(1 if bad or not tests or lost or not scenarios else 0)
' "$(dirname "$0")/../tests/e2e/power-loss.sh"
