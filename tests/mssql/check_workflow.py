#!/usr/bin/env python3
"""Checks the CI workflows, each given as an argument: valid YAML, and

- mssql.yml: both server versions as service containers and both ODBC
  drivers in the matrix, the settings the mssql tests read, a time limit, a
  step that runs the whole mssql label, and one that replays the peer's
  scripts against the server;
- ci.yml: a job in a Debian 12 container, with a time limit, that runs
  .ci/run.

Exits non-zero, saying why, otherwise."""
import os
import sys

import yaml


def runs_of(job):
    return " ".join(step.get("run", "") for step in job.get("steps", []))


def check_mssql(job, problems):
    matrix = job["strategy"]["matrix"]
    versions = [str(v) for v in matrix["version"]]
    for wanted in ("2017", "2022"):
        if wanted not in versions:
            problems.append("SQL Server %s is not in the matrix" % wanted)
    drivers = [str(d) for d in matrix.get("driver", [])]
    for wanted in ("FreeTDS", "ODBC Driver 18 for SQL Server"):
        if wanted not in drivers:
            problems.append("the driver %s is not in the matrix" % wanted)
    image = job["services"]["mssql"]["image"]
    if not image.startswith("mcr.microsoft.com/mssql/server:"):
        problems.append("the service is not SQL Server: %s" % image)
    env = job["env"]
    for key in ("OV_TEST_MSSQL_SERVER", "OV_TEST_MSSQL_USER", "OV_TEST_MSSQL_PASSWORD",
                "OV_TEST_MSSQL_FOLDER", "OV_TEST_MSSQL_REQUIRED", "OV_SQLSERVER_DRIVER"):
        if key not in env:
            problems.append("%s is not set" % key)
    if "matrix.driver" not in str(env.get("OV_SQLSERVER_DRIVER", "")):
        problems.append("OV_SQLSERVER_DRIVER does not take the matrix's driver")
    if str(env.get("OV_WITH_MSODBCSQL18", "")) != "1":
        problems.append("OV_WITH_MSODBCSQL18 is not 1: install-deps.sh would not install driver 18")
    runs = runs_of(job)
    if "install-deps.sh" not in runs:
        problems.append("the dependencies are not installed with scripts/install-deps.sh")
    if "ctest -L mssql" not in runs:
        problems.append("no step runs ctest -L mssql")
    if "OV_TDSPEER_SCRIPTS" not in runs or "ctest -L tdspeer" not in runs:
        problems.append("no step collects the peer's scripts (OV_TDSPEER_SCRIPTS, ctest -L tdspeer)")
    if "replay_peer_scripts.py" not in runs:
        problems.append("no step replays the peer's scripts against the server")


def check_suite(job, problems):
    if str(job.get("container", "")) != "debian:12":
        problems.append("the suite does not run in a debian:12 container")
    if ".ci/run" not in runs_of(job):
        problems.append("no step runs .ci/run")


def check(path):
    with open(path, encoding="utf-8") as f:
        doc = yaml.safe_load(f)
    problems = []
    jobs = doc.get("jobs", {})
    name = os.path.basename(path)
    if name == "mssql.yml":
        if "mssql" not in jobs:
            problems.append("no job mssql")
        else:
            check_mssql(jobs["mssql"], problems)
    elif name == "ci.yml":
        if "suite" not in jobs:
            problems.append("no job suite")
        else:
            check_suite(jobs["suite"], problems)
    else:
        problems.append("not a workflow this check knows")
    # Every job has a time limit.
    for job_name, job in jobs.items():
        if "timeout-minutes" not in job:
            problems.append("job %s has no timeout-minutes" % job_name)
    for p in problems:
        print("%s: %s" % (path, p), file=sys.stderr)
    return len(problems)


def main(paths):
    if not paths:
        print("usage: check_workflow.py WORKFLOW.yml...", file=sys.stderr)
        return 2
    return 1 if sum(check(p) for p in paths) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
