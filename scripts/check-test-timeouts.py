#!/usr/bin/env python3
"""Fails when a test registered in the build folder given as the argument
has no time-out of its own, or no offscreen platform: such a test, hanging,
would hold the whole run (ctest's default is 25 minutes a test)."""
import json
import subprocess
import sys

build = sys.argv[1] if len(sys.argv) > 1 else "build"
listing = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                         capture_output=True, text=True).stdout
tests = json.loads(listing)["tests"]
bad = []
for test in tests:
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    timeout = props.get("TIMEOUT")
    env = props.get("ENVIRONMENT", [])
    if not timeout or timeout > 600 or "QT_QPA_PLATFORM=offscreen" not in env:
        bad.append(f"{test['name']}: TIMEOUT={timeout} ENVIRONMENT={env}")
if not tests:
    print("check-test-timeouts: no tests registered in " + build, file=sys.stderr)
    sys.exit(1)
for line in bad[:20]:
    print("check-test-timeouts: " + line, file=sys.stderr)
if bad:
    print(f"check-test-timeouts: {len(bad)} of {len(tests)} tests lack their time-out", file=sys.stderr)
    sys.exit(1)
print(f"check-test-timeouts: {len(tests)} tests, each with its time-out")
