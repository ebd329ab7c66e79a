#!/bin/sh
# Every end-to-end case as CTest will run it: it needs the package fixtures
# (which need the end-to-end packages first), has its own time-out, and runs
# on the clock ahead of UTC that the log-name check relies on. A list handed
# to gtest_discover_tests' PROPERTIES was once flattened, and the cases lost
# all three without a word.
# Usage: ./scripts/check-test-properties.sh BUILD_DIR
set -eu
ctest --test-dir "$1" --show-only=json-v1 2>/dev/null | python3 -c '
import json, sys
tests = [t for t in json.load(sys.stdin)["tests"] if t["name"].startswith("e2e.")]
bad = []
for t in tests:
    p = {x["name"]: x["value"] for x in t.get("properties", [])}
    if p.get("FIXTURES_REQUIRED") != ["package_fixtures"] or p.get("TIMEOUT") != 900 \
            or "LUMET_WINE_ENV=TZ=LUM-5:45" not in p.get("ENVIRONMENT", []):
        bad.append(t["name"])
print("test properties: %d end-to-end cases, %d without their fixtures, time-out or clock" % (len(tests), len(bad)))
for name in bad:
    print("  " + name)
sys.exit(1 if bad or not tests else 0)
'
