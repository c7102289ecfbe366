#!/usr/bin/env python3
"""Drives a vendrak-lsp process the way a fast typist's editor and a hostile
client do, and prints what it measured:

  latency    open to diagnostics, a full change and a one-line ranged change
             of scripts of 1,000, 10,000 and 100,000 lines, and peak memory
  burst      20 full changes of a 100,000-line script sent back to back: how
             many diagnostics are published after them and how long after the
             last change the last one comes
  exit       the time from `exit` to the end of the process while the VBF
             check of a script that programs a big flash file runs (--vbf)
  malformed  sessions of malformed input (deep nesting, lying and huge
             Content-Length, headers without end, bad and stale changes,
             requests before initialize, positions past the end): the
             server must not crash, every reply must be well-formed JSON-RPC
             and peak resident memory must stay under 64 MB

Usage: lsp_replay.py SERVER [--vbf FILE] [--check] [SECTION...]
With --check the exit status is 1 when a goal is missed (at most 3 publishes
with the last within 300 ms of the last change, exit within 100 ms, the
malformed sessions as above); without it the figures are only printed.
"""
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

URI = "file:///replay/t.vsc"


def frame(body: bytes) -> bytes:
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def message(**fields) -> bytes:
    fields["jsonrpc"] = "2.0"
    return frame(json.dumps(fields).encode())


def script(lines: int, salt: int = 0) -> str:
    """A script that compiles: a loop of ordinary statements."""
    cycle = ["LED GREEN ON", "DELAY {d}", "LED RED OFF", "REQUEST 0x22 0xF1 0x90", "READ SID"]
    return "".join(cycle[i % len(cycle)].format(d=10 + salt) + "\n" for i in range(lines))


class Server:
    """One server process; its messages are collected with their arrival times."""

    def __init__(self, command, root=None):
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, cwd=root)
        self.received = []  # (time, message or None for a malformed frame)
        self.malformed = []
        self.cond = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        # Peak resident memory is sampled from /proc while the server runs:
        # the rusage of a child counts what it held between fork and exec,
        # which is this script's own memory.
        self.peak = 0
        self.sampler = threading.Thread(target=self._sample, daemon=True)
        self.sampler.start()

    def _sample(self):
        while self.proc.returncode is None:
            self.peak = max(self.peak, self.peak_kib())
            time.sleep(0.002)

    def _read(self):
        out = self.proc.stdout
        while True:
            header = b""
            while not header.endswith(b"\r\n\r\n"):
                c = out.read(1)
                if not c:
                    with self.cond:
                        self.cond.notify_all()
                    return
                header += c
            length = None
            for line in header.split(b"\r\n"):
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":", 1)[1])
            if length is None:
                self.malformed.append(header)
                continue
            body = out.read(length)
            now = time.monotonic()
            try:
                m = json.loads(body)
                if not isinstance(m, dict) or m.get("jsonrpc") != "2.0":
                    raise ValueError("not JSON-RPC 2.0")
                if "id" in m and "method" not in m and ("result" in m) == ("error" in m):
                    raise ValueError("a response needs exactly one of result and error")
                if "error" in m and not isinstance(m["error"].get("code"), int):
                    raise ValueError("an error needs a code")
            except ValueError as e:
                self.malformed.append(body[:200] + b" (" + str(e).encode() + b")")
                continue
            with self.cond:
                self.received.append((now, m))
                self.cond.notify_all()

    def send(self, data: bytes):
        try:
            self.proc.stdin.write(data)
            self.proc.stdin.flush()
        except BrokenPipeError:
            pass

    def wait_for(self, match, timeout=60.0, start=0):
        """The first message from index `start` on that `match` accepts: (index, time, message)."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for i in range(start, len(self.received)):
                    if match(self.received[i][1]):
                        return i, self.received[i][0], self.received[i][1]
                left = deadline - time.monotonic()
                if left <= 0 or not self.reader.is_alive():
                    raise TimeoutError("no matching message")
                self.cond.wait(min(left, 0.5))

    def initialize(self, root_uri=None):
        self.send(message(id=1, method="initialize", params={"capabilities": {}, "rootUri": root_uri}))
        self.wait_for(lambda m: m.get("id") == 1)
        self.send(message(method="initialized", params={}))

    def peak_kib(self):
        try:
            with open(f"/proc/{self.proc.pid}/status") as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        return int(line.split()[1])
        except OSError:
            pass
        return 0

    def finish(self, timeout=30.0):
        """Closes the input and reaps the process: its status and peak resident memory in KiB."""
        try:
            self.proc.stdin.close()
        except BrokenPipeError:
            pass
        deadline = time.monotonic() + timeout
        while True:
            self.peak = max(self.peak, self.peak_kib())
            pid, status = os.waitpid(self.proc.pid, os.WNOHANG)
            if pid:
                self.proc.returncode = os.waitstatus_to_exitcode(status)
                self.reader.join(5)
                self.sampler.join(5)
                return self.proc.returncode, self.peak
            if time.monotonic() > deadline:
                self.proc.kill()
            time.sleep(0.001)


def diagnostics_of(version):
    return lambda m: m.get("method") == "textDocument/publishDiagnostics" and m["params"].get("version") == version


def opening(text, version=1):
    return message(method="textDocument/didOpen",
                   params={"textDocument": {"uri": URI, "languageId": "vendrak", "version": version, "text": text}})


def open_doc(s, text, version=1):
    s.send(opening(text, version))


def change(version, changes):
    return message(method="textDocument/didChange",
                   params={"textDocument": {"uri": URI, "version": version}, "contentChanges": changes})


def latency(server_cmd, goals):
    print("lines      open  full change  ranged change  (ms)   peak RSS")
    for lines in (1000, 10000, 100000):
        s = Server(server_cmd)
        s.initialize()
        opened = opening(script(lines))
        full = change(2, [{"text": script(lines, 1)}])
        edit = {"range": {"start": {"line": lines // 2, "character": 0}, "end": {"line": lines // 2, "character": 0}},
                "text": "DELAY 5\n"}
        ranged = change(3, [edit])
        t0 = time.monotonic()
        s.send(opened)
        _, t1, _ = s.wait_for(diagnostics_of(1))
        t2 = time.monotonic()
        s.send(full)
        _, t3, _ = s.wait_for(diagnostics_of(2))
        t4 = time.monotonic()
        s.send(ranged)
        _, t5, _ = s.wait_for(diagnostics_of(3))
        _, peak = s.finish()
        print(f"{lines:>7}  {1000 * (t1 - t0):6.1f}  {1000 * (t3 - t2):11.1f}  {1000 * (t5 - t4):13.1f}"
              f"          {peak / 1024:6.1f} MB")


def burst(server_cmd, goals):
    s = Server(server_cmd)
    s.initialize()
    open_doc(s, script(100000))
    first, _, _ = s.wait_for(diagnostics_of(1))
    texts = [frame(json.dumps({"jsonrpc": "2.0", "method": "textDocument/didChange",
                               "params": {"textDocument": {"uri": URI, "version": v},
                                          "contentChanges": [{"text": script(100000, v)}]}}).encode())
             for v in range(2, 22)]
    for t in texts:
        s.send(t)
    sent = time.monotonic()
    _, last, _ = s.wait_for(diagnostics_of(21), start=first + 1)
    time.sleep(1.0)  # anything still coming
    with s.cond:
        after = [m for _, m in s.received[first + 1:] if m.get("method") == "textDocument/publishDiagnostics"]
    versions = [m["params"].get("version") for m in after]
    s.finish()
    delay = 1000 * (last - sent)
    print(f"20 full changes of 100,000 lines: {len(after)} publishes (versions {versions}), "
          f"the last {delay:.0f} ms after the last change")
    goals.append(("burst: at most 3 publishes", len(after) <= 3))
    goals.append(("burst: last publish within 300 ms", delay <= 300))
    goals.append(("burst: last publish is of the last text", versions[-1:] == [21]))


def exit_time(server_cmd, goals, vbf):
    if not vbf:
        print("exit: skipped (no --vbf FILE)")
        return
    root = os.path.dirname(os.path.abspath(vbf))
    s = Server(server_cmd, root)
    s.initialize("file://" + root)
    open_doc(s, 'PROG "%s"\n' % os.path.basename(vbf))
    s.wait_for(diagnostics_of(1))
    s.send(message(method="textDocument/didSave", params={"textDocument": {"uri": URI}}))
    time.sleep(0.3)  # the VBF check is running now
    t0 = time.monotonic()
    s.send(message(method="exit"))
    status, _ = s.finish()
    took = 1000 * (time.monotonic() - t0)
    print(f"exit while a VBF check runs: the process ended {took:.0f} ms later, status {status}")
    goals.append(("exit within 100 ms", took <= 100))


def nest(depth, leaf="0"):
    return "[" * depth + leaf + "]" * depth


def malformed(server_cmd, goals):
    big = 100000
    sessions = {
        "before initialize": [
            message(id=1, method="textDocument/hover",
                    params={"textDocument": {"uri": URI}, "position": {"line": 0, "character": 0}}),
            frame(('{"jsonrpc":"2.0","id":2,"method":"x","params":' + nest(1000000) + "}").encode()),
            message(method="textDocument/didOpen", params={"textDocument": {"uri": URI, "version": 1, "text": "X"}}),
        ],
        "deep nesting": [
            frame(('{"jsonrpc":"2.0","id":' + nest(1000000) + ',"method":"x"}').encode()),
            frame(('{"jsonrpc":"2.0","id":3,"method":"x","params":{"a":' + nest(200000, "{}") + "}}").encode()),
            frame(("[" * 1000000).encode()),
            frame(('{"a":' * 500000).encode()),
            frame(('"' + "[" * 1000000 + '"').encode()),
        ],
        "bad and stale changes": [
            change("3", [{"text": "DELAY 1\n"}]),
            change(4, [{"text": "DELAY 2\n"}, {"range": "bad"}]),
            change(10, [{"text": "DELAY 10\n"}]),
            change(3, [{"text": "DELAY 3\n"}]),
            change(11, [{"range": {"start": {"line": 99, "character": 0}, "end": {"line": 0, "character": 0}},
                         "text": "X"}]),
            message(id=5, method="textDocument/hover",
                    params={"textDocument": {"uri": URI}, "position": {"line": 10 ** 12, "character": 2 ** 40}}),
            message(id=6, method="textDocument/definition",
                    params={"textDocument": {"uri": URI}, "position": {"line": -1, "character": "x"}}),
            message(id=7, method="textDocument/references",
                    params={"textDocument": {"uri": URI}, "position": {"line": 0, "character": 99999}}),
            message(id=8, method="textDocument/rename",
                    params={"textDocument": {"uri": URI}, "position": {"line": 5, "character": 0}, "newName": "A"}),
            frame(b"{not json"),
            b"Content-Length: x\r\n\r\n{}",
            b"\r\n\r\nContent-Type: a\r\n\r\n",
            message(id=9, method="shutdown"),
        ],
        "lying Content-Length": [
            b"Content-Length: 1073741824\r\n\r\n" + message(id=2, method="shutdown"),
        ],
        "huge Content-Length": [
            b"Content-Length: 99999999999999999999999\r\n\r\n{}",
            b"Content-Length: 2000000000\r\n\r\n" + b" " * (8 << 20),
        ],
        "header without end": [
            b"Content-Length: 10\r\nX-" + b"a" * (64 << 20),
        ],
        "huge body": [
            frame(b'{"jsonrpc":"2.0","method":"x","params":"' + b"a" * (300 << 20) + b'"}'),
        ],
    }
    print("malformed session          status  replies  peak RSS")
    for name, parts in sessions.items():
        s = Server(server_cmd)
        if name != "before initialize":
            s.initialize()
            open_doc(s, script(big) if name == "bad and stale changes" else "DELAY 1\n")
        for p in parts:
            s.send(p)
        status, peak = s.finish(60)
        with s.cond:
            replies = len(s.received)
        ok = status in (0, 1) and not s.malformed and peak < 64 * 1024
        print(f"{name:<25}  {status:>6}  {replies:>7}  {peak / 1024:6.1f} MB{'' if ok else '  FAILED'}")
        for m in s.malformed:
            print("   malformed reply:", m[:200])
        goals.append((f"malformed: {name}", ok))


def main(argv):
    args = list(argv[1:])
    if not args or args[0] in ("-h", "--help"):
        print(__doc__)
        return 0 if args else 2
    server_cmd = [os.path.abspath(args.pop(0))]
    vbf = None
    check = False
    sections = []
    while args:
        a = args.pop(0)
        if a == "--vbf":
            vbf = args.pop(0)
        elif a == "--check":
            check = True
        else:
            sections.append(a)
    sections = sections or ["latency", "burst", "exit", "malformed"]
    goals = []
    for section in sections:
        if section == "latency":
            latency(server_cmd, goals)
        elif section == "burst":
            burst(server_cmd, goals)
        elif section == "exit":
            exit_time(server_cmd, goals, vbf)
        elif section == "malformed":
            malformed(server_cmd, goals)
        else:
            print("unknown section", section, file=sys.stderr)
            return 2
    missed = [name for name, ok in goals if not ok]
    for name in missed:
        print("missed:", name)
    return 1 if check and missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
