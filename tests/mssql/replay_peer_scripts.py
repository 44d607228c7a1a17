#!/usr/bin/env python3
"""Replays the statements that the scripted TDS peer's tests answer against a
real SQL Server, and compares the shape of the real answers (each result
set's column names and kinds of type) with what the scripts told the peer
to answer. A script that models a statement wrongly shows up here.

    replay_peer_scripts.py --scripts DIR --server HOST[,PORT] --user U
                           --password P --folder SERVER_FOLDER

DIR holds the scripts the peer tests used: a run of the tests with the
environment variable OV_TDSPEER_SCRIPTS=DIR writes each one there
(tests/support/TdsPeer.cpp). SERVER_FOLDER is a folder on the server where
the server may write a backup file.

The statements of the scripts name paths, databases and conditions of the
tests (a file with two backup sets, a database in use) that the real server
does not have. So each kind of statement is replayed as the same statement
on things the replay makes first: a database ovreplay_PID, backed up twice
into one file of SERVER_FOLDER (two backup sets), the folder itself for
xp_dirtree, a lock resource of its own. A rule whose reply holds no result
set (an error, a message, a row count) models a condition, not a shape, and
is not compared, nor is one marked "replay": false (an answer no server
gives, on purpose); the statements no replay knows are listed, not failed.

Compared, per result set in order: each column the script names is a column
of the real result set, in the same order (a script may give some of the
documented columns only), with the same kind of type (integer, bit, float,
decimal, date and time, text, binary, uniqueidentifier); an unnamed column
is compared with the real column at its place.
Exits 1 when a shape differs or nothing could be replayed, 2 when the server
cannot be reached.
"""
import argparse
import glob
import json
import os
import re
import sys

import pytds

# Kinds of type, by the names the scripts use and by the type ids pytds reports.
KIND_OF_NAME = {
    "tinyint": "integer", "smallint": "integer", "int": "integer", "bigint": "integer",
    "bit": "bit", "real": "float", "float": "float",
    "decimal": "decimal", "numeric": "decimal", "money": "decimal",
    "datetime": "datetime", "smalldatetime": "datetime",
    "char": "text", "varchar": "text", "nchar": "text", "nvarchar": "text", "text": "text", "ntext": "text",
    "binary": "binary", "varbinary": "binary", "image": "binary",
    "uniqueidentifier": "uniqueidentifier",
}
KIND_OF_ID = {
    48: "integer", 52: "integer", 56: "integer", 127: "integer", 38: "integer",
    50: "bit", 104: "bit",
    59: "float", 62: "float", 109: "float",
    106: "decimal", 108: "decimal", 60: "decimal", 122: "decimal", 55: "decimal", 63: "decimal",
    110: "decimal",
    58: "datetime", 61: "datetime", 111: "datetime", 40: "datetime", 41: "datetime", 42: "datetime",
    43: "datetime",
    35: "text", 99: "text", 167: "text", 175: "text", 231: "text", 239: "text", 47: "text", 39: "text",
    34: "binary", 165: "binary", 173: "binary", 37: "binary", 45: "binary",
    36: "uniqueidentifier",
}


def kind_of_name(type_name):
    return KIND_OF_NAME.get(re.match(r"\s*(\w+)", type_name.lower()).group(1), type_name)


# Each kind of statement the peer scripts answer (a pattern searched in the
# rule's text or pattern) and the statement that replays it on the server.
REPLAYS = [
    (r"RESTORE HEADERONLY", "RESTORE HEADERONLY FROM DISK = N'{backup}'"),
    (r"RESTORE FILELISTONLY", "RESTORE FILELISTONLY FROM DISK = N'{backup}' WITH FILE = 2"),
    (r"xp_dirtree", "EXEC master.sys.xp_dirtree N'{folder}', 1, 1"),
    (r"PathSeparator", "SELECT SERVERPROPERTY('PathSeparator')"),
    (r"sp_getapplock|DECLARE @result int",
     "SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock @Resource = N'OvReplay:{pid}', "
     "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; SELECT @result AS result"),
    (r"sp_releaseapplock", "EXEC sp_releaseapplock @Resource = N'OvReplay:{pid}', @LockOwner = 'Session'"),
    (r"master\\?\.sys\\?\.databases", "SELECT name FROM master.sys.databases ORDER BY database_id"),
    (r"sys\\?\.columns", "SELECT COUNT(*) FROM sys.columns WHERE object_id = OBJECT_ID(N'[ovreplay]')"),
]


def scripted_sets(reply):
    """The result sets a reply gives: lists of (name, kind, type)."""
    return [[(c.get("name", ""), kind_of_name(c["type"]), c["type"]) for c in token["columns"]]
            for token in reply if "columns" in token]


def real_sets(cursor, statement):
    """Runs statement; the result sets of its answer as lists of (name, kind, type id)."""
    cursor.execute(statement)
    sets = []
    while True:
        if cursor.description:
            sets.append([(d[0], KIND_OF_ID.get(d[1], "type %d" % d[1]), d[1]) for d in cursor.description])
            cursor.fetchall()
        if not cursor.nextset():
            return sets


def differences(scripted, real):
    """What differs between the scripted result sets and the real ones: a
    named column of the script must be a column of the real set, after the
    one named before it, with the same kind of type; an unnamed one is the
    real column at its place."""
    found = []
    if len(scripted) > len(real):
        found.append("%d result set(s) scripted, the server answers %d" % (len(scripted), len(real)))
    for i, (s, r) in enumerate(zip(scripted, real)):
        if len(s) > len(r):
            found.append("set %d: %d columns scripted, the server answers %d" % (i + 1, len(s), len(r)))
        names = [c[0] for c in r]
        after = -1
        for place, (sname, skind, stype) in enumerate(s):
            if sname:
                if sname not in names:
                    found.append("set %d: column %r scripted, the server has none of that name" % (i + 1, sname))
                    continue
                at = names.index(sname)
                if at < after:
                    found.append("set %d: column %r scripted after %r, the server answers it before"
                                 % (i + 1, sname, names[after]))
                after = at
            elif place < len(r):
                at = place
            else:
                continue
            rname, rkind, rtype = r[at]
            if skind != rkind:
                found.append("set %d: column %r scripted as %s (%s), the server answers %s (type %d)"
                             % (i + 1, sname or rname, stype, skind, rkind, rtype))
    return found


def load_rules(folder):
    """(script file, rule) for every rule of every script in folder."""
    rules = []
    for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
        with open(path, encoding="utf-8") as f:
            try:
                script = json.load(f)
            except ValueError as e:
                print("%s: not a script: %s" % (path, e), file=sys.stderr)
                continue
        for rule in script.get("rules", []):
            rules.append((os.path.basename(path), rule))
    return rules


def connect(args, database="master"):
    host, _, port = args.server.partition(",")
    return pytds.connect(server=host, port=int(port or 1433), user=args.user, password=args.password,
                         database=database, autocommit=True, login_timeout=30)


def prepare(cursor, database, folder, separator):
    """The replay's database, backed up twice into one file: two backup sets."""
    backup = folder.rstrip("/\\") + separator + database + ".bak"
    cursor.execute("CREATE DATABASE [%s]" % database)
    cursor.execute("CREATE TABLE [%s].dbo.ovreplay (a int)" % database)
    for init in (" WITH INIT", ""):
        cursor.execute("BACKUP DATABASE [%s] TO DISK = N'%s'%s" % (database, backup.replace("'", "''"), init))
        while cursor.nextset():
            pass
    return backup


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scripts", required=True)
    parser.add_argument("--server", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", default="")
    parser.add_argument("--folder", required=True)
    args = parser.parse_args()

    rules = load_rules(args.scripts)
    try:
        cn = connect(args)
    except Exception as e:  # the driver's own exceptions vary with the failure
        print("replay: cannot reach %s: %s" % (args.server, e), file=sys.stderr)
        return 2
    cursor = cn.cursor()
    pid = os.getpid()
    cursor.execute("SELECT SERVERPROPERTY('PathSeparator')")
    row = cursor.fetchone() if cursor.description else None
    separator = (row and row[0]) or "\\"  # NULL before SQL Server 2017: Windows
    folder = args.folder.rstrip("/\\") + separator
    database = "ovreplay_%d" % pid
    problems = []
    compared = 0
    unknown = set()
    try:
        try:
            backup = prepare(cursor, database, folder, separator)
        except pytds.Error as e:
            print("replay: cannot make its database and backup file in %s: %s" % (folder, e), file=sys.stderr)
            return 2
        values = {"backup": backup.replace("'", "''"), "folder": folder.replace("'", "''"), "pid": pid}
        answers = {}
        for script, rule in rules:
            if rule.get("replay", True) is False:
                continue  # an answer no server gives, on purpose
            text = rule.get("match") or rule.get("regex") or ""
            sets = scripted_sets(rule.get("reply", []))
            if not sets:
                continue  # a condition (an error, a message), not a shape
            replay = next((r for pattern, r in REPLAYS if re.search(pattern, text)), None)
            if replay is None:
                unknown.add(text[:100])
                continue
            statement = replay.format(**values)
            if statement not in answers:
                try:
                    answers[statement] = real_sets(cursor, statement)
                except pytds.Error as e:
                    answers[statement] = e
            compared += 1
            answer = answers[statement]
            if isinstance(answer, Exception):
                problems.append("%s: %s\n    replayed as %s\n    the server refused it: %s"
                                % (script, text[:100], statement, answer))
                continue
            for d in differences(sets, answer):
                problems.append("%s: %s\n    replayed as %s\n    %s" % (script, text[:100], statement, d))
    finally:
        # Also when the preparation stopped half-way.
        cursor.execute("IF DB_ID(N'%s') IS NOT NULL DROP DATABASE [%s]" % (database, database))
        cn.close()
    for text in sorted(unknown):
        print("replay: not replayed (no replay for it): %s" % text)
    print("replay: %d scripted answers compared, %d differ" % (compared, len(problems)))
    for p in problems:
        print(p, file=sys.stderr)
    if compared == 0:
        print("replay: no scripted answer could be replayed; were the scripts collected?", file=sys.stderr)
        return 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
