#!/usr/bin/env python3
"""Checks replay_peer_scripts.py without a SQL Server: the scripted TDS peer
plays the real server, answering RESTORE HEADERONLY and the task lock as a
server does, and the replay must find the script that models HEADERONLY
with a wrong column and a wrong type, and accept the ones that agree."""
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(HERE, "..", "support", "tdspeer.py")
REPLAY = os.path.join(HERE, "replay_peer_scripts.py")

HEADER = [{"name": "BackupName", "type": "nvarchar(128)"}, {"name": "BackupDescription", "type": "nvarchar(255)"},
          {"name": "BackupType", "type": "smallint"}, {"name": "Position", "type": "smallint"},
          {"name": "DatabaseName", "type": "nvarchar(128)"}, {"name": "BackupFinishDate", "type": "datetime"}]
LOCK = [{"name": "result", "type": "int"}]


def rule(pattern, columns):
    return {"regex": pattern, "reply": [{"columns": columns, "rows": []}, {"done": {}}]}


class Peer:
    """The scripted peer answering as rules say, recording into folder."""

    def __init__(self, folder, rules):
        script = os.path.join(folder, "server.json")
        with open(script, "w", encoding="utf-8") as f:
            json.dump({"rules": rules}, f)
        port_file = os.path.join(folder, "port")
        self.record = os.path.join(folder, "record.jsonl")
        self.process = subprocess.Popen([sys.executable, PEER, "--script", script, "--record", self.record,
                                         "--port-file", port_file, "--idle", "60", "--parent", str(os.getpid())],
                                        stdout=subprocess.DEVNULL)
        for _ in range(500):
            if os.path.exists(port_file):
                break
            time.sleep(0.02)
        with open(port_file) as f:
            self.port = f.read().strip()

    def batches(self):
        with open(self.record, encoding="utf-8") as f:
            return [json.loads(line)["text"] for line in f if '"kind": "batch"' in line]

    def stop(self):
        self.process.kill()
        self.process.wait()


def replay(scripts, port):
    return subprocess.run([sys.executable, REPLAY, "--scripts", scripts, "--server", "127.0.0.1," + port,
                           "--user", "sa", "--password", "pw", "--folder", "D:\\bak\\"],
                          capture_output=True, text=True, timeout=120)


def main():
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        scripts = os.path.join(tmp, "scripts")
        os.mkdir(scripts)

        def write(name, rules):
            with open(os.path.join(scripts, name), "w", encoding="utf-8") as f:
                json.dump({"rules": rules}, f)

        os.mkdir(os.path.join(tmp, "server"))
        peer = Peer(os.path.join(tmp, "server"),
                    [rule("RESTORE HEADERONLY .*", HEADER), rule("SET NOCOUNT ON; .*", LOCK),
                     rule("SELECT SERVERPROPERTY.*", [{"name": "", "type": "nvarchar(1)"}])])
        try:
            # Agreeing: a part of the header's columns in order, the lock's one column.
            write("Good-1.json", [rule("RESTORE HEADERONLY From DISK = .*",
                                       [HEADER[2], HEADER[3], HEADER[5]]),
                                  rule("SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock .*",
                                       LOCK),
                                  {"match": "RESTORE HEADERONLY x", "reply": [{"error": {"number": 3201}}]}])
            r = replay(scripts, peer.port)
            if r.returncode != 0:
                problems.append("agreeing scripts: exit %d\n%s%s" % (r.returncode, r.stdout, r.stderr))
            # Wrong: a column the server does not answer, a type of another kind, a wrong order.
            write("Bad-1.json", [rule("RESTORE HEADERONLY .*",
                                      [HEADER[3], {"name": "BackupType", "type": "nvarchar(10)"},
                                       {"name": "Positon", "type": "smallint"}])])
            r = replay(scripts, peer.port)
            for wanted in ("Bad-1.json", "'Positon'", "'BackupType' scripted as nvarchar(10)",
                           "'BackupType' scripted after 'Position'"):
                if wanted not in r.stderr:
                    problems.append("wrong script: %r not reported\n%s%s" % (wanted, r.stdout, r.stderr))
            if r.returncode != 1:
                problems.append("wrong script: exit %d, not 1" % r.returncode)
            if "Good-1.json" in r.stderr:
                problems.append("agreeing script reported:\n" + r.stderr)
        finally:
            peer.stop()

        # A server that refuses the backup: the replay stops, and drops the
        # database it made.
        os.mkdir(os.path.join(tmp, "refusing"))
        peer = Peer(os.path.join(tmp, "refusing"),
                    [{"regex": "BACKUP DATABASE .*", "reply": [
                        {"error": {"number": 3201, "class": 16, "message": "Cannot open backup device"}},
                        {"done": {"error": True}}]}])
        try:
            r = replay(scripts, peer.port)
            if r.returncode != 2:
                problems.append("refused backup: exit %d, not 2\n%s%s" % (r.returncode, r.stdout, r.stderr))
            sent = peer.batches()
            if not any(s.startswith("IF DB_ID(N'ovreplay_") and "DROP DATABASE" in s for s in sent):
                problems.append("refused backup: the database was not dropped:\n" + "\n".join(sent))
        finally:
            peer.stop()
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
