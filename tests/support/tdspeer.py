#!/usr/bin/env python3
"""A scripted SQL Server for tests: speaks TDS 7.x on 127.0.0.1 without encryption.

    tdspeer.py --script SCRIPT.json --record RECORD.jsonl [--port-file FILE]
               [--port N] [--idle SECONDS] [--stop-file FILE] [--parent PID]

It prints "PORT n" when it listens (and writes n to the port file), accepts any
number of connections, answers the pre-login and the login, and then answers
each request from the script's rules. Every request is written to the record,
one JSON object per line, as it arrives. It ends when its parent process (or
PID) ends, after SECONDS without any traffic (default 300), or when the stop
file exists.

The script (every key optional):
{
  "version": "2019",            # 2005, 2008, 2008R2, 2012, 2014, 2016, 2017, 2019, 2022
  "collation": "Chinese_PRC_CI_AS",  # or Latin1_General_CI_AS, SQL_Latin1_General_CP1_CI_AS
  "login": "accept",            # refuse (error 18456), silent (never answers the login),
                                # mute (never answers the pre-login), close (drops it)
  "password": "pw",             # other passwords are refused with 18456
  "databases": ["master"],      # other databases are refused with 4060 and 18456
  "attention": "answer",        # "ignore": an attention gets no answer either
  "wire": false,                # true: each message the client sends is recorded too
  "rules": [ {"match": "exact text" | "regex": "pattern", "kind": "batch|rpc|bulk|tm",
              "times": n, "database": "name", "reply": [token, ...]} ],
  "default": [token, ...]       # reply when no rule matches: a DONE
}
A rule's text is the batch's text; an RPC's statement (sp_executesql, sp_prepare,
sp_prepexec, sp_execute of a prepared one) or else its procedure name; the
INSERT BULK text for a bulk load; TM_BEGIN_XACT, TM_COMMIT_XACT, TM_ROLLBACK_XACT
or TM_SAVE_XACT for a transaction request. "match" compares without the
whitespace around either text; a regex must match the whole text
(re.DOTALL). Rules are tried in order; one with "times" is used that often; one
with "database" only on connections whose login named that database (without
case; "master" when the login named none).
A rule with "replay": false answers what no server would, on purpose; the
replay against a real server (tests/mssql/replay_peer_scripts.py) leaves it out.
An RPC rule with "values": a regex matches the JSON list of its parameters'
values (as in the record, without escaped characters), e.g. ".*, 2, .*".

Tokens of a reply:
  {"columns": [{"name": "a", "type": "int", "null": true}, ...], "rows": [[1], [null]]}
      types: tinyint smallint int bigint bit real float datetime smalldatetime
      decimal(p,s) numeric(p,s) money char(n) varchar(n|max) nchar(n) nvarchar(n|max)
      binary(n) varbinary(n|max) text ntext image uniqueidentifier; "null": false sends the fixed
      types; "chunk": n splits MAX values into PLP chunks of n bytes, "total":
      false sends them with an unknown length. Values: numbers, decimals and
      datetimes as text ("12.50", "2024-01-31 23:59:59.997"), binary as "0x0A0B".
  {"done": {"count": n, "more": b, "error": b, "attn": b, "cmd": n}} also "doneinproc",
      "doneproc". MORE is set unless the DONE ends the reply; ERROR after an error.
      A reply that does not end in a DONE gets one.
  {"error": {"number": n, "class": 16, "state": 1, "message": "...", "line": 1,
             "proc": "", "server": ""}}, {"info": {...}}
  {"returnstatus": n}, {"envchange": {"database": "name"}}
  {"returnvalue": {"name": "@p", "type": "int", "value": 1}}
  {"sleep": seconds}  sends what came before and waits (an attention cuts it short)
  {"silent": true}    sends what came before and answers nothing more
  {"close": true}     sends what came before and drops the connection
An RPC's reply ends in RETURNSTATUS 0 (unless given), the values of its output
parameters (a new handle for sp_prepare and sp_prepexec) and DONEPROC; its DONE
tokens are sent as DONEINPROC.

Record lines: {"conn": n, "kind": "connect"|"login"|"batch"|"rpc"|"bulk"|"attention"|
"tm"|"disconnect"|"unknown"|"peer_error", ...}: login has user, password, database, app, host,
tds, packet_size; batch has text; rpc has proc, statement and params (name, type,
output, value); bulk has statement, columns and rows; tm has request, name and begin_new;
peer_error says why the peer dropped a connection it could not serve (a
mistake in the script, a request it cannot decode). With "wire": true, each
message the client sends (pre-login, login, batch, RPC, bulk load, attention,
transaction request) is recorded as it ends, before the lines of its
requests: "message" has type (the TDS packet type: 18 pre-login, 16 login,
1 batch, 3 RPC, 7 bulk load, 6 attention, 14 transaction), bytes (as sent,
packet headers included) and packets. One message is one round trip: the
client sends it and waits for its reply.
"""
import argparse
import datetime
import decimal
import json
import os
import re
import select
import socket
import struct
import threading
import time
import uuid

VERSIONS = {  # LOGINACK protocol version and program version of each server
    "2005": (0x72090002, (9, 0, 1399)), "2008": (0x730B0003, (10, 0, 1600)),
    "2008R2": (0x730B0003, (10, 50, 1600)), "2012": (0x74000004, (11, 0, 2100)),
    "2014": (0x74000004, (12, 0, 2000)), "2016": (0x74000004, (13, 0, 1601)),
    "2017": (0x74000004, (14, 0, 1000)), "2019": (0x74000004, (15, 0, 2000)),
    "2022": (0x74000004, (16, 0, 1000)),
}
COLLATIONS = {  # five bytes of TDS collation
    "Chinese_PRC_CI_AS": bytes.fromhex("0408d00000"),
    "Latin1_General_CI_AS": bytes.fromhex("0904d00000"),
    "SQL_Latin1_General_CP1_CI_AS": bytes.fromhex("0904d00034"),
}
CODEPAGES = {0x0804: "gbk", 0x0404: "cp950", 0x0411: "cp932", 0x0412: "cp949", 0x0419: "cp1251"}
PROC_IDS = {1: "sp_cursor", 2: "sp_cursoropen", 3: "sp_cursorprepare", 4: "sp_cursorexecute",
            5: "sp_cursorprepexec", 6: "sp_cursorunprepare", 7: "sp_cursorfetch", 8: "sp_cursoroption",
            9: "sp_cursorclose", 10: "sp_executesql", 11: "sp_prepare", 12: "sp_execute",
            13: "sp_prepexec", 14: "sp_prepexecrpc", 15: "sp_unprepare"}
TM_REQUESTS = {0: "TM_GET_DTC_ADDRESS", 1: "TM_PROPAGATE_XACT", 5: "TM_BEGIN_XACT",
               6: "TM_PROMOTE_XACT", 7: "TM_COMMIT_XACT", 8: "TM_ROLLBACK_XACT", 9: "TM_SAVE_XACT"}
EPOCH = datetime.datetime(1900, 1, 1)
DATE0 = datetime.date(1, 1, 1)


class Dropped(Exception):
    """The client went away, or the script drops the connection."""


# ---- values: the script's form to the wire and the wire to the record ----

class Column:
    """A column type as the script names it, with its TYPE_INFO and value encoding."""

    FIXED = {"tinyint": (0x30, 1), "smallint": (0x34, 2), "int": (0x38, 4), "bigint": (0x7F, 8),
             "bit": (0x32, 1), "real": (0x3B, 4), "float": (0x3E, 8), "datetime": (0x3D, 8),
             "smalldatetime": (0x3A, 4), "money": (0x3C, 8)}
    NULLABLE = {"tinyint": 0x26, "smallint": 0x26, "int": 0x26, "bigint": 0x26, "bit": 0x68,
                "real": 0x6D, "float": 0x6D, "datetime": 0x6F, "smalldatetime": 0x6F, "money": 0x6E}
    VARLEN = {"char": 0xAF, "varchar": 0xA7, "nchar": 0xEF, "nvarchar": 0xE7, "binary": 0xAD,
              "varbinary": 0xA5}

    def __init__(self, spec, collation):
        self.name = spec.get("name", "")
        self.nullable = spec.get("null", True)
        self.chunk = spec.get("chunk", 0)
        self.total = spec.get("total", True)
        m = re.fullmatch(r"\s*(\w+)\s*(?:\(\s*(\w+)\s*(?:,\s*(\d+)\s*)?\))?\s*", spec["type"].lower())
        if not m:
            raise ValueError("unknown type " + spec["type"])
        self.base, size, scale = m.group(1), m.group(2), m.group(3)
        self.collation = collation
        if self.base in self.FIXED:
            code, self.size = self.FIXED[self.base]
            if self.nullable:
                code = self.NULLABLE[self.base]
                self.info = bytes([code, self.size])
            else:
                self.info = bytes([code])
            self.code = code
        elif self.base in ("decimal", "numeric"):
            self.prec = int(size or 18)
            self.scale = int(scale or 0)
            self.size = 5 if self.prec < 10 else 9 if self.prec < 20 else 13 if self.prec < 29 else 17
            self.code = 0x6A if self.base == "decimal" else 0x6C
            self.info = bytes([self.code, self.size, self.prec, self.scale])
        elif self.base == "uniqueidentifier":
            self.code, self.size = 0x24, 16
            self.info = bytes([0x24, 16])
        elif self.base in ("text", "ntext", "image"):
            self.code = {"text": 0x23, "ntext": 0x63, "image": 0x22}[self.base]
            self.info = bytes([self.code]) + struct.pack("<i", 0x7FFFFFFF)
            if self.base != "image":
                self.info += collation
            self.info += b"\x01" + us_text("t")  # the table the column comes from
        elif self.base in self.VARLEN:
            self.code = self.VARLEN[self.base]
            self.plp = size == "max"
            wide = self.base.startswith("n")
            n = 0xFFFF if self.plp else int(size or 1) * (2 if wide else 1)
            self.info = bytes([self.code]) + struct.pack("<H", n)
            if "binary" not in self.base:
                self.info += collation
        else:
            raise ValueError("unknown type " + spec["type"])

    def encode(self, v):
        b = self.base
        if b in ("text", "ntext", "image"):
            if v is None:
                return b"\x00"
            data = bytes.fromhex(v[2:]) if b == "image" else \
                v.encode("utf-16-le") if b == "ntext" else v.encode(codec(self.collation))
            return b"\x10" + b"\x00" * 16 + b"\x00" * 8 + struct.pack("<i", len(data)) + data
        if b in self.VARLEN:
            data = None if v is None else (
                bytes.fromhex(v[2:]) if "binary" in b else
                v.encode("utf-16-le") if b.startswith("n") else v.encode(codec(self.collation)))
            if self.plp:
                return plp(data, self.chunk, self.total)
            return b"\xff\xff" if data is None else struct.pack("<H", len(data)) + data
        if v is None:
            if not self.nullable:
                raise ValueError("NULL in NOT NULL column " + self.name)
            return b"\x00"
        if b in ("tinyint", "smallint", "int", "bigint"):
            data = int(v).to_bytes(self.size, "little", signed=b != "tinyint")
        elif b == "bit":
            data = bytes([1 if v else 0])
        elif b in ("real", "float"):
            data = struct.pack("<f" if b == "real" else "<d", float(v))
        elif b in ("datetime", "smalldatetime"):
            t = parse_datetime(v)
            days = (t.date() - EPOCH.date()).days
            secs = t.hour * 3600 + t.minute * 60 + t.second
            if b == "smalldatetime":
                data = struct.pack("<HH", days, secs // 60)
            else:
                data = struct.pack("<iI", days, secs * 300 + round(t.microsecond * 300 / 1e6))
        elif b == "money":
            n = int(decimal.Decimal(str(v)).scaleb(4).to_integral_value())
            data = struct.pack("<iI", n >> 32, n & 0xFFFFFFFF)
        elif b in ("decimal", "numeric"):
            n = int(decimal.Decimal(str(v)).scaleb(self.scale).to_integral_value())
            data = bytes([0 if n < 0 else 1]) + abs(n).to_bytes(self.size - 1, "little")
        else:  # uniqueidentifier
            data = uuid.UUID(v).bytes_le
        return (b"" if not self.nullable else bytes([len(data)])) + data


def codec(collation):
    info = struct.unpack("<I", collation[:4])[0]
    if info & (1 << 26):
        return "utf-8"
    lcid = info & 0xFFFFF
    return CODEPAGES.get(lcid, "cp1252")


def plp(data, chunk, total):
    if data is None:
        return b"\xff" * 8
    out = struct.pack("<Q", len(data) if total else 0xFFFFFFFFFFFFFFFE)
    step = chunk or max(len(data), 1)
    for i in range(0, len(data), step):
        out += struct.pack("<I", len(data[i:i + step])) + data[i:i + step]
    return out + b"\0\0\0\0"


def parse_datetime(text):
    for form in ("%Y-%m-%d %H:%M:%S.%f", "%Y-%m-%d %H:%M:%S", "%Y-%m-%d"):
        try:
            return datetime.datetime.strptime(text, form)
        except ValueError:
            pass
    raise ValueError("not a datetime: " + text)


class Reader:
    """Reads the little-endian fields of a request."""

    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError("request ends early")
        self.pos += n
        return self.data[self.pos - n:self.pos]

    def u8(self):
        return self.take(1)[0]

    def unpack(self, form):
        return struct.unpack(form, self.take(struct.calcsize(form)))[0]

    def bvarchar(self):
        return self.take(self.u8() * 2).decode("utf-16-le", "replace")

    def usvarchar(self):
        return self.take(self.unpack("<H") * 2).decode("utf-16-le", "replace")

    def more(self):
        return self.pos < len(self.data)


TYPE_NAMES = {0x30: "tinyint", 0x32: "bit", 0x34: "smallint", 0x38: "int", 0x3A: "smalldatetime",
              0x3B: "real", 0x3C: "money", 0x3D: "datetime", 0x3E: "float", 0x7A: "smallmoney",
              0x7F: "bigint", 0x24: "uniqueidentifier", 0x68: "bit", 0x6A: "decimal", 0x6C: "numeric",
              0x37: "decimal", 0x3F: "numeric", 0x28: "date", 0x29: "time", 0x2A: "datetime2",
              0x2B: "datetimeoffset", 0xA5: "varbinary", 0xA7: "varchar", 0xAD: "binary", 0xAF: "char",
              0xE7: "nvarchar", 0xEF: "nchar", 0x22: "image", 0x23: "text", 0x63: "ntext",
              0x25: "varbinary", 0x27: "varchar", 0x2D: "binary", 0x2F: "char", 0x1F: "null"}
FIXED_SIZES = {0x1F: 0, 0x30: 1, 0x32: 1, 0x34: 2, 0x38: 4, 0x3A: 4, 0x3B: 4, 0x3C: 8, 0x3D: 8,
               0x3E: 8, 0x7A: 4, 0x7F: 8}


def read_type_info(r, with_table):
    """TYPE_INFO of a parameter or of a column (with_table: text columns name their table)."""
    t = {"code": r.u8()}
    code = t["code"]
    if code in FIXED_SIZES:
        t["len"] = "fixed"
        t["size"] = FIXED_SIZES[code]
    elif code in (0x26, 0x68, 0x6D, 0x6E, 0x6F, 0x24, 0x25, 0x27, 0x2D, 0x2F, 0x37, 0x3F, 0x6A, 0x6C):
        t["len"] = "byte"
        t["size"] = r.u8()
        if code in (0x6A, 0x6C, 0x37, 0x3F):
            t["prec"], t["scale"] = r.u8(), r.u8()
        if code in (0x27, 0x2F):
            t["collation"] = COLLATIONS["SQL_Latin1_General_CP1_CI_AS"]
    elif code == 0x28:
        t["len"] = "byte"
    elif code in (0x29, 0x2A, 0x2B):
        t["len"] = "byte"
        t["scale"] = r.u8()
    elif code in (0xA5, 0xA7, 0xAD, 0xAF, 0xE7, 0xEF):
        t["size"] = r.unpack("<H")
        t["len"] = "plp" if t["size"] == 0xFFFF else "short"
        if code in (0xA7, 0xAF, 0xE7, 0xEF):
            t["collation"] = r.take(5)
    elif code in (0x22, 0x23, 0x63):
        t["len"] = "long"
        t["size"] = r.unpack("<i")
        if code != 0x22:
            t["collation"] = r.take(5)
        if with_table:
            for _ in range(r.u8()):
                r.usvarchar()
    else:
        raise ValueError("type 0x%02X is not decoded" % code)
    return t


def type_name(t):
    name = TYPE_NAMES.get(t["code"], "0x%02X" % t["code"])
    if t["code"] == 0x26:
        name = {1: "tinyint", 2: "smallint", 4: "int", 8: "bigint"}.get(t["size"], name)
    elif t["code"] == 0x6D:
        name = "real" if t["size"] == 4 else "float"
    elif t["code"] == 0x6E:
        name = "smallmoney" if t["size"] == 4 else "money"
    elif t["code"] == 0x6F:
        name = "smalldatetime" if t["size"] == 4 else "datetime"
    if "prec" in t:
        name += "(%d,%d)" % (t["prec"], t["scale"])
    elif t["len"] == "plp":
        name += "(max)"
    elif t["len"] == "short":
        name += "(%d)" % (t["size"] // (2 if t["code"] in (0xE7, 0xEF) else 1))
    return name


def read_value(r, t, in_row):
    """One value as the record writes it; in_row: a text value of a ROW carries a text pointer."""
    kind = t["len"]
    if kind == "fixed":
        data = r.take(t["size"])
    elif kind == "byte":
        data = r.take(r.u8())
        if not data:
            return None
    elif kind == "short":
        n = r.unpack("<H")
        if n == 0xFFFF:
            return None
        data = r.take(n)
    elif kind == "long":
        if in_row:
            if r.u8() == 0:
                return None
            r.take(16 + 8)
        n = r.unpack("<i")
        if n == -1:
            return None
        data = r.take(n)
    else:  # plp
        total = r.unpack("<Q")
        if total == 0xFFFFFFFFFFFFFFFF:
            return None
        data = b""
        while True:
            n = r.unpack("<I")
            if n == 0:
                break
            data += r.take(n)
    return decode_value(t, data)


def decode_value(t, data):
    code = t["code"]
    name = type_name(t)
    if code in (0x30, 0x34, 0x38, 0x7F, 0x26):
        return int.from_bytes(data, "little", signed=code != 0x30 and len(data) > 1)
    if code in (0x32, 0x68):
        return data[0] != 0
    if code in (0x3B, 0x3E, 0x6D):
        return struct.unpack("<f" if len(data) == 4 else "<d", data)[0]
    if code in (0x3C, 0x7A, 0x6E):
        n = struct.unpack("<i", data)[0] if len(data) == 4 else \
            (struct.unpack("<i", data[:4])[0] << 32) | struct.unpack("<I", data[4:])[0]
        return str(decimal.Decimal(n).scaleb(-4))
    if code in (0x3A, 0x3D, 0x6F):
        if len(data) == 4:
            days, minutes = struct.unpack("<HH", data)
            return (EPOCH + datetime.timedelta(days=days, minutes=minutes)).strftime("%Y-%m-%d %H:%M:%S")
        days, ticks = struct.unpack("<iI", data)
        ms = round(ticks * 10 / 3)
        t = EPOCH + datetime.timedelta(days=days, milliseconds=ms)
        return t.strftime("%Y-%m-%d %H:%M:%S.") + "%03d" % (t.microsecond // 1000)
    if code in (0x6A, 0x6C, 0x37, 0x3F):
        n = int.from_bytes(data[1:], "little")
        return str(decimal.Decimal(n if data[0] else -n).scaleb(-t["scale"]))
    if code == 0x24:
        return str(uuid.UUID(bytes_le=data)).upper()
    if code in (0x28, 0x29, 0x2A, 0x2B):
        return decode_time(code, t.get("scale", 0), data)
    if name.startswith(("nvarchar", "nchar", "ntext")):
        return data.decode("utf-16-le", "replace")
    if name.startswith(("varchar", "char", "text")):
        return data.decode(codec(t["collation"]), "replace")
    return "0x" + data.hex().upper()


def decode_time(code, scale, data):
    out = []
    if code in (0x29, 0x2A, 0x2B):
        n = (3 if scale <= 2 else 4 if scale <= 4 else 5)
        units = int.from_bytes(data[:n], "little")
        data = data[n:]
        secs, frac = divmod(units, 10 ** scale)
        clock = "%02d:%02d:%02d" % (secs // 3600, secs // 60 % 60, secs % 60)
        out.append(clock + ("." + str(frac).zfill(scale) if scale else ""))
    if code != 0x29:
        out.insert(0, str(DATE0 + datetime.timedelta(days=int.from_bytes(data[:3], "little"))))
    if code == 0x2B:
        out.append("%+d" % struct.unpack("<h", data[3:5])[0])
    return " ".join(out)


# ---- tokens ----

def us_text(s):
    b = s.encode("utf-16-le")
    return struct.pack("<H", len(b) // 2) + b


def b_text(s):
    b = s.encode("utf-16-le")
    return bytes([len(b) // 2]) + b


def message_token(code, m, server):
    body = struct.pack("<iBB", m.get("number", 50000), m.get("state", 1), m.get("class", 16 if code == 0xAA else 0))
    body += us_text(m.get("message", "")) + b_text(m.get("server", server)) + b_text(m.get("proc", ""))
    body += struct.pack("<i", m.get("line", 1))
    return bytes([code]) + struct.pack("<H", len(body)) + body


def envchange(kind, new, old):
    body = bytes([kind]) + new + old
    return b"\xe3" + struct.pack("<H", len(body)) + body


def done_token(code, status, cmd, count):
    return bytes([code]) + struct.pack("<HHQ", status, cmd, count)


# ---- the server ----

class Peer:
    def __init__(self, script, record_path):
        self.script = script
        self.version = VERSIONS[str(script.get("version", "2019"))]
        self.collation = COLLATIONS[script.get("collation", "Chinese_PRC_CI_AS")]
        self.rules = script.get("rules", [])
        self.used = [0] * len(self.rules)
        self.lock = threading.Lock()
        self.record_fd = os.open(record_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        self.last_activity = time.monotonic()
        self.connections = 0
        self.handles = {}

    def record(self, conn, kind, **fields):
        line = json.dumps(dict(conn=conn, kind=kind, **fields), ensure_ascii=False) + "\n"
        with self.lock:
            self.last_activity = time.monotonic()
            os.write(self.record_fd, line.encode("utf-8"))

    def rule_for(self, kind, text, database="master", params=None):
        values = json.dumps([p["value"] for p in params or []], ensure_ascii=False)
        with self.lock:
            for i, rule in enumerate(self.rules):
                if rule.get("kind", kind) != kind:
                    continue
                if "database" in rule and rule["database"].lower() != database.lower():
                    continue
                if "times" in rule and self.used[i] >= rule["times"]:
                    continue
                if "match" in rule and rule["match"].strip() != text.strip():
                    continue
                if "regex" in rule and not re.fullmatch(rule["regex"], text, re.DOTALL):
                    continue
                if "values" in rule and not re.fullmatch(rule["values"], values, re.DOTALL):
                    continue
                self.used[i] += 1
                return i, rule
        return None, None


class Connection:
    def __init__(self, peer, sock, number):
        self.peer, self.sock, self.n = peer, sock, number
        self.packet_size = 4096
        self.pending_bulk = None
        self.buffered = b""

    # -- packets --
    def read_message(self):
        """One message: (type, payload). None when the client has gone."""
        payload, mtype, size, packets = b"", None, 0, 0
        while True:
            header = self.recv_exact(8)
            if header is None:
                return None
            mtype, status, length = header[0], header[1], struct.unpack(">H", header[2:4])[0]
            body = self.recv_exact(length - 8) if length >= 8 else None
            if body is None:
                return None
            payload += body
            size += length
            packets += 1
            if status & 0x01:
                if self.peer.script.get("wire"):
                    self.peer.record(self.n, "message", type=mtype, bytes=size, packets=packets)
                return mtype, payload

    def recv_exact(self, n):
        data = b""
        while len(data) < n:
            try:
                part = self.sock.recv(n - len(data))
            except OSError:
                return None
            if not part:
                return None
            self.peer.last_activity = time.monotonic()
            data += part
        return data

    def send(self, data, last=True):
        """Sends data as reply packets; with last, the final one ends the message."""
        data = self.buffered + data
        self.buffered = b""
        step = self.packet_size - 8
        while True:
            part, data = data[:step], data[step:]
            final = last and not data
            if not final and not data and not part:
                return
            header = struct.pack(">BBHHBB", 4, 1 if final else 0, len(part) + 8, 0, 1, 0)
            try:
                self.sock.sendall(header + part)
            except OSError:
                raise Dropped()
            if not data:
                return

    def attention_arrived(self, seconds):
        """Waits up to seconds for an attention; True when one came (and is recorded)."""
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return False
            ready, _, _ = select.select([self.sock], [], [], min(left, 0.2))
            if ready:
                message = self.read_message()
                if message is None:
                    raise Dropped()
                self.peer.record(self.n, "attention" if message[0] == 6 else "unexpected", type=message[0])
                return message[0] == 6

    # -- login --
    def serve(self):
        peer = self.peer
        peer.record(self.n, "connect")
        mode = peer.script.get("login", "accept")
        try:
            if mode == "mute":
                while self.read_message() is not None:
                    pass
                raise Dropped()
            message = self.read_message()
            if message and message[0] == 0x12:
                self.send(self.prelogin_answer())
                message = self.read_message()
            if not message or message[0] != 0x10:
                raise Dropped()
            login = self.parse_login(message[1])
            peer.record(self.n, "login", **login)
            if mode == "silent":
                while self.read_message() is not None:
                    pass
                raise Dropped()
            if mode == "close":
                raise Dropped()
            if peer.script.get("login_delay"):
                time.sleep(peer.script["login_delay"])
            if not self.answer_login(login):
                raise Dropped()
            while True:
                message = self.read_message()
                if message is None:
                    raise Dropped()
                self.handle(*message)
        except Dropped:
            pass
        except Exception as e:  # a script it cannot follow, a request it cannot read
            peer.record(self.n, "peer_error", error="%s: %s" % (type(e).__name__, e))
        finally:
            try:
                self.sock.close()
            except OSError:
                pass
            peer.record(self.n, "disconnect")

    def prelogin_answer(self):
        major, minor, build = self.peer.version[1]
        options = [(0, struct.pack(">BBHH", major, minor, build, 0)), (1, b"\x02"), (2, b"\x00"),
                   (3, b""), (4, b"\x00")]
        offset = len(options) * 5 + 1
        head, body = b"", b""
        for token, data in options:
            head += struct.pack(">BHH", token, offset + len(body), len(data))
            body += data
        return head + b"\xff" + body

    def parse_login(self, p):
        def field(at):
            offset, chars = struct.unpack("<HH", p[at:at + 4])
            return p[offset:offset + chars * 2]
        password = bytes((((b ^ 0xA5) << 4) | ((b ^ 0xA5) >> 4)) & 0xFF for b in field(44))
        tds, size = struct.unpack("<II", p[4:12])
        return dict(user=field(40).decode("utf-16-le", "replace"), password=password.decode("utf-16-le", "replace"),
                    host=field(36).decode("utf-16-le", "replace"), app=field(48).decode("utf-16-le", "replace"),
                    database=field(68).decode("utf-16-le", "replace"), language=field(64).decode("utf-16-le", "replace"),
                    tds="%08X" % tds, packet_size=size)

    def answer_login(self, login):
        peer, script = self.peer, self.peer.script
        server = "PEER"
        user = login["user"]
        refusal = None
        if script.get("login") == "refuse" or ("password" in script and login["password"] != script["password"]):
            refusal = b""
        elif "databases" in script and login["database"] and \
                login["database"].lower() not in [d.lower() for d in script["databases"]]:
            refusal = message_token(0xAA, {"number": 4060, "class": 11, "state": 1, "server": server, "message":
                                           'Cannot open database "%s" requested by the login. The login failed.'
                                           % login["database"]}, server)
        if refusal is not None:
            refusal += message_token(0xAA, {"number": 18456, "class": 14, "state": 1, "server": server,
                                            "message": "Login failed for user '%s'." % user}, server)
            self.send(refusal + done_token(0xFD, 0x02, 0, 0))
            return False
        database = login["database"] or "master"
        self.database = database
        tds, (major, minor, build) = peer.version
        size = login["packet_size"] if 512 <= login["packet_size"] <= 32767 else 4096
        out = envchange(1, b_text(database), b_text("master"))
        out += message_token(0xAB, {"number": 5701, "class": 0, "state": 2, "server": server, "message":
                                    "Changed database context to '%s'." % database}, server)
        out += envchange(7, bytes([5]) + peer.collation, b"\x00")
        out += envchange(2, b_text("us_english"), b_text(""))
        out += message_token(0xAB, {"number": 5703, "class": 0, "state": 1, "server": server,
                                    "message": "Changed language setting to us_english."}, server)
        ack = b"\x01" + struct.pack(">I", tds) + b_text("Microsoft SQL Server") + \
            struct.pack(">BBH", major, minor, build)
        out += b"\xad" + struct.pack("<H", len(ack)) + ack
        out += envchange(4, b_text(str(size)), b_text("4096"))
        self.send(out + done_token(0xFD, 0, 0, 0))
        self.packet_size = size
        return True

    # -- requests --
    def handle(self, mtype, payload):
        peer = self.peer
        if mtype == 6:
            peer.record(self.n, "attention")
            if peer.script.get("attention") != "ignore":
                self.send(done_token(0xFD, 0x20, 0, 0))
            return
        body = Reader(payload)
        if mtype in (1, 3, 14) and len(payload) >= 4:  # ALL_HEADERS of TDS 7.2 and later
            total = struct.unpack("<I", payload[:4])[0]
            if 4 <= total <= len(payload):
                body.pos = total
        if mtype == 1:
            text = body.data[body.pos:].decode("utf-16-le", "replace")
            peer.record(self.n, "batch", text=text)
            if re.match(r"\s*insert\s+bulk\s", text, re.I):
                self.pending_bulk = text
            self.reply("batch", text, False)
        elif mtype == 3:
            while body.more():
                rpc = self.parse_rpc(body)
                peer.record(self.n, "rpc", **rpc)
                # Several RPCs in one request (an ODBC parameter array) get
                # one reply message, each DONEPROC but the last with MORE.
                if body.more() and body.data[body.pos] in (0x80, 0xFF):
                    body.pos += 1
                self.reply("rpc", rpc["statement"], rpc, final=not body.more())
        elif mtype == 7:
            statement = self.pending_bulk or ""
            self.pending_bulk = None
            columns, rows = self.parse_bulk(body)
            peer.record(self.n, "bulk", statement=statement, columns=columns, rows=rows)
            self.reply("bulk", statement, False, default=[{"done": {"count": len(rows)}}])
        elif mtype == 14:
            request = TM_REQUESTS.get(body.unpack("<H"), "TM_UNKNOWN")
            name, begin_new = "", False
            if request == "TM_BEGIN_XACT":
                body.u8()  # isolation level
                name = body.bvarchar()
            elif request in ("TM_COMMIT_XACT", "TM_ROLLBACK_XACT", "TM_SAVE_XACT"):
                name = body.bvarchar()
                # A commit or rollback may begin the next transaction at once.
                begin_new = request != "TM_SAVE_XACT" and body.more() and body.u8() & 1 == 1
            peer.record(self.n, "tm", request=request, name=name, begin_new=begin_new)
            descriptor = struct.pack("<Q", self.n)
            change = {"TM_BEGIN_XACT": envchange(8, b"\x08" + descriptor, b"\x00"),
                      "TM_COMMIT_XACT": envchange(9, b"\x00", b"\x08" + descriptor),
                      "TM_ROLLBACK_XACT": envchange(10, b"\x00", b"\x08" + descriptor)}.get(request, b"")
            if begin_new:
                change += envchange(8, b"\x08" + descriptor, b"\x00")
            self.reply("tm", request, False, prefix=change)
        else:
            peer.record(self.n, "unknown", type=mtype, size=len(payload))
            self.send(done_token(0xFD, 0, 0, 0))

    def parse_rpc(self, r):
        n = r.unpack("<H")
        proc = PROC_IDS.get(r.unpack("<H"), "proc?") if n == 0xFFFF else r.take(n * 2).decode("utf-16-le", "replace")
        r.unpack("<H")  # option flags
        params = []
        while r.more() and r.data[r.pos] not in (0x80, 0xFF):
            name = r.bvarchar()
            status = r.u8()
            t = read_type_info(r, False)
            params.append(dict(name=name, type=type_name(t), output=bool(status & 1), value=read_value(r, t, False)))
        statement = proc
        index = {"sp_executesql": 0, "sp_prepare": 2, "sp_prepexec": 2}.get(proc)
        if index is not None and len(params) > index:
            statement = params[index]["value"]
        elif proc == "sp_execute" and params:
            statement = self.peer.handles.get(params[0]["value"], proc)
        return dict(proc=proc, statement=statement, params=params)

    def parse_bulk(self, r):
        columns, types, rows = [], [], []
        while r.more():
            token = r.u8()
            if token == 0x81:
                count = r.unpack("<H")
                for _ in range(count if count != 0xFFFF else 0):
                    r.take(4 + 2)  # user type, flags
                    t = read_type_info(r, True)
                    columns.append({"name": r.bvarchar(), "type": type_name(t)})
                    types.append(t)
            elif token == 0xD1:
                rows.append([read_value(r, t, True) for t in types])
            elif token == 0xFD:
                r.take(12)
            else:
                raise ValueError("bulk load token 0x%02X" % token)
        return columns, rows

    # -- replies --
    def reply(self, kind, text, rpc, default=None, prefix=b"", final=True):
        peer = self.peer
        index, rule = peer.rule_for(kind, text, getattr(self, "database", "master"),
                                    rpc["params"] if rpc else None)
        tokens = rule.get("reply", []) if rule else peer.script.get("default", default or [{"done": {}}])
        out = prefix
        error = False
        in_rpc = bool(rpc)
        status_given = False
        for i, token in enumerate(tokens):
            last = i == len(tokens) - 1 and not in_rpc
            key = next(k for k in token if k != "rows")
            value = token[key]
            if key == "columns":
                cols = [Column(c, peer.collation) for c in value]
                out += b"\x81" + struct.pack("<H", len(cols))
                for c in cols:
                    flags = 0x01 if c.nullable else 0
                    out += struct.pack("<IH", 0, flags | 0x08) + c.info + b_text(c.name)
                for row in token.get("rows", []):
                    out += b"\xd1" + b"".join(c.encode(v) for c, v in zip(cols, row))
            elif key in ("done", "doneinproc", "doneproc"):
                code = {"done": 0xFF if in_rpc else 0xFD, "doneinproc": 0xFF, "doneproc": 0xFE}[key]
                status = (0x01 if value.get("more", not last) else 0) | \
                         (0x02 if value.get("error", error) else 0) | \
                         (0x10 if "count" in value else 0) | (0x20 if value.get("attn") else 0)
                out += done_token(code, status, value.get("cmd", 0xC1 if "count" in value else 0),
                                  value.get("count", 0))
                error = False
            elif key in ("error", "info"):
                out += message_token(0xAA if key == "error" else 0xAB, value, "PEER")
                error = error or key == "error"
            elif key == "returnstatus":
                out += b"\x79" + struct.pack("<i", value)
                status_given = True
            elif key == "returnvalue":
                out += self.return_value(value.get("ordinal", 0), value["name"], value["type"], value.get("value"))
            elif key == "envchange":
                out += envchange(1, b_text(value["database"]), b_text("master"))
            elif key == "sleep":
                self.send(out, last=False)
                out = b""
                if self.attention_arrived(value):
                    self.send(done_token(0xFD, 0x20, 0, 0))
                    return
            elif key == "silent":
                self.send(out, last=False)
                return
            elif key == "close":
                self.send(out, last=False)
                raise Dropped()
            else:
                raise ValueError("unknown reply token " + key)
        if not in_rpc and (not tokens or next(iter(tokens[-1])) not in ("done", "doneproc")):
            out += done_token(0xFD, 0x02 if error else 0, 0, 0)  # a reply always ends in a DONE
        if in_rpc:
            if not status_given:
                out += b"\x79" + struct.pack("<i", 0)
            for ordinal, p in enumerate(rpc["params"]):
                if not p["output"]:
                    continue
                value = p["value"]
                if rpc["proc"] in ("sp_prepare", "sp_prepexec") and ordinal == 0:
                    with peer.lock:
                        value = len(peer.handles) + 1
                        peer.handles[value] = rpc["statement"]
                    out += self.return_value(ordinal, p["name"], "int", value)
            out += done_token(0xFE, (0x02 if error else 0) | (0 if final else 0x01), 0, 0)
        if not final:
            self.buffered += out
            return
        self.send(out)

    def return_value(self, ordinal, name, type_text, value):
        c = Column({"type": type_text}, self.peer.collation)
        return b"\xac" + struct.pack("<H", ordinal) + b_text(name) + b"\x01" + \
            struct.pack("<IH", 0, 0x01) + c.info + c.encode(value)


def main():
    ap = argparse.ArgumentParser(description="A scripted SQL Server for tests.")
    ap.add_argument("--script", required=True)
    ap.add_argument("--record", required=True)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file")
    ap.add_argument("--idle", type=float, default=300)
    ap.add_argument("--stop-file")
    ap.add_argument("--parent", type=int, help="the process that started it (default: its parent now)")
    args = ap.parse_args()
    with open(args.script, encoding="utf-8") as f:
        script = json.load(f)
    peer = Peer(script, args.record)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    port = listener.getsockname()[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write("%d\n" % port)
        os.replace(args.port_file + ".tmp", args.port_file)
    print("PORT %d" % port, flush=True)
    # The starter may have ended before this line: then the parent is
    # another process already, and the peer ends at once.
    parent = args.parent or os.getppid()
    while True:
        if os.getppid() != parent or time.monotonic() - peer.last_activity > args.idle or \
                (args.stop_file and os.path.exists(args.stop_file)):
            os._exit(0)
        ready, _, _ = select.select([listener], [], [], 0.2)
        if ready:
            sock, _ = listener.accept()
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            peer.connections += 1
            peer.last_activity = time.monotonic()
            threading.Thread(target=Connection(peer, sock, peer.connections).serve, daemon=True).start()


if __name__ == "__main__":
    main()
