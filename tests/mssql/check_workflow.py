#!/usr/bin/env python3
"""Checks the SQL Server CI workflow: valid YAML, both server versions as
service containers, the settings the mssql tests read, and a step that runs
the whole mssql label. Exits non-zero, saying why, otherwise."""
import sys

import yaml


def main(path):
    with open(path, encoding="utf-8") as f:
        doc = yaml.safe_load(f)
    job = doc["jobs"]["mssql"]
    problems = []
    versions = [str(v) for v in job["strategy"]["matrix"]["version"]]
    for wanted in ("2017", "2022"):
        if wanted not in versions:
            problems.append("SQL Server %s is not in the matrix" % wanted)
    image = job["services"]["mssql"]["image"]
    if not image.startswith("mcr.microsoft.com/mssql/server:"):
        problems.append("the service is not SQL Server: %s" % image)
    for key in ("OV_TEST_MSSQL_SERVER", "OV_TEST_MSSQL_USER", "OV_TEST_MSSQL_PASSWORD",
                "OV_TEST_MSSQL_FOLDER", "OV_TEST_MSSQL_REQUIRED"):
        if key not in job["env"]:
            problems.append("%s is not set" % key)
    runs = " ".join(step.get("run", "") for step in job["steps"])
    if "install-deps.sh" not in runs:
        problems.append("the dependencies are not installed with scripts/install-deps.sh")
    if "ctest -L mssql" not in runs:
        problems.append("no step runs ctest -L mssql")
    for p in problems:
        print("%s: %s" % (path, p), file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
