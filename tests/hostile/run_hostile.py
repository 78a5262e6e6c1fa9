#!/usr/bin/env python3
"""Runs the flipreel tool on hostile inputs (hostile_inputs.py makes them) and
on the answers of a hostile HTTP server on 127.0.0.1, and checks that every
run ends by itself, in time, without a crash, within the memory budget, with
output that is valid UTF-8 (and valid JSON where asked), and with a clear
error where the input is refused.

  run_hostile.py --tool build/default/cli/flipreel [--budget-mb 256]

Prints one line per run and the figures (inputs, worst time, worst resident
memory), then "N passed, N failed". Exits 1 when a run failed.
"""

import argparse
import fcntl
import http.server
import json
import os
import re
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time


# --- the hostile server --------------------------------------------------------


class HostileHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    files = {}  # path -> bytes

    def log_message(self, *args):
        pass

    def send_body(self, body, headers=()):
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):  # noqa: N802 (the server's naming)
        path = self.path
        try:
            if path == "/small.gif":
                self.send_body(self.files["small"])
            elif path == "/big_frames.gif":
                self.send_body(self.files["big_frames"])
            elif path == "/gzip.gif":
                self.send_body(self.files["gzip"], [("Content-Encoding", "gzip")])
            elif path == "/to-file":
                self.redirect("file:///etc/passwd")
            elif path == "/to-ftp":
                self.redirect("ftp://127.0.0.1/small.gif")
            elif path == "/huge-length":
                self.send_response(200)
                self.send_header("Content-Length", str(10 ** 12))
                self.end_headers()
                self.wfile.write(b"GIF89a")
            elif path == "/endless":
                # Bytes for as long as the client takes them, 256 MB at most.
                self.send_response(200)
                self.send_header("Connection", "close")
                self.end_headers()
                chunk = b"GIF89a" + b"\0" * 65530
                for _ in range(4096):
                    self.wfile.write(chunk)
            elif path == "/garbage":
                # No status line at all.
                self.wfile.write(b"this is no HTTP answer\r\n\r\nGIF89a")
                self.close_connection = True
            elif path == "/bad-status":
                self.wfile.write(b"HTTP/1.1 two hundred OK\r\nContent-Length: 6\r\n\r\nGIF89a")
                self.close_connection = True
            elif path == "/stall":
                # Headers and a few bytes, then nothing for a long while.
                self.send_response(200)
                self.send_header("Content-Length", "1000")
                self.end_headers()
                self.wfile.write(b"GIF89a")
                self.wfile.flush()
                time.sleep(20)
            else:
                self.send_error(404)
        except (BrokenPipeError, ConnectionResetError):
            pass


def start_server(inputs):
    HostileHandler.files = {
        "small": open(inputs["small"], "rb").read(),
        "big_frames": open(inputs["big_frames"], "rb").read(),
        "gzip": open(inputs["gzip_body"], "rb").read(),
    }
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), HostileHandler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# --- running one case ----------------------------------------------------------


CONTROL = re.compile(rb"[\x00-\x08\x0b-\x1f\x7f]")


def clean_text(data):
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return "not valid UTF-8"
    if CONTROL.search(data):
        return "holds control characters"
    return None


class Run:
    def __init__(self, status, seconds, rss_mb, out, err, timed_out, killed_for_memory):
        self.status = status
        self.seconds = seconds
        self.rss_mb = rss_mb
        self.out = out
        self.err = err
        self.timed_out = timed_out
        self.killed_for_memory = killed_for_memory


def rss_mb_of(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0


def run_tool(argv, timeout, memory_cap_mb, env, on_start=None, stdin=None):
    """Runs argv, collecting its output; kills it when it runs past timeout
    or its resident memory passes memory_cap_mb. The peak resident memory
    comes from the kernel's accounting of the child."""
    start = time.monotonic()
    source = open(stdin, "rb") if stdin else subprocess.DEVNULL
    proc = subprocess.Popen(argv, stdin=source, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    if stdin:
        source.close()
    out, err = [], []
    readers = [threading.Thread(target=lambda s, b: b.append(s.read()), args=(proc.stdout, out)),
               threading.Thread(target=lambda s, b: b.append(s.read()), args=(proc.stderr, err))]
    for r in readers:
        r.start()
    if on_start:
        on_start(proc)
    timed_out = killed_for_memory = False
    while True:
        pid, wait_status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            break
        if time.monotonic() - start > timeout:
            timed_out = True
            proc.kill()
        elif rss_mb_of(proc.pid) > memory_cap_mb:
            killed_for_memory = True
            proc.kill()
        time.sleep(0.02)
    proc.returncode = os.waitstatus_to_exitcode(wait_status)
    for r in readers:
        r.join()
    run = Run(proc.returncode, time.monotonic() - start, usage.ru_maxrss / 1024,
              b"".join(out), b"".join(err), timed_out, killed_for_memory)
    run.timeout = timeout
    return run


class Case:
    """One run of the tool and what it must give: "ok" (exit 0) or "error"
    (a non-zero exit, or exit 0 with a line on stderr, whose text must match
    `says`); json when stdout must be JSON; check for anything more."""

    def __init__(self, name, args, expect, says=None, json_out=False, timeout=30, check=None,
                 qt=False, on_start=None, ends_by=None, stdin=None):
        self.name, self.args, self.expect, self.says = name, args, expect, says
        self.stdin = stdin
        self.json_out, self.timeout, self.check, self.qt = json_out, timeout, check, qt
        self.on_start = on_start
        self.ends_by = ends_by  # the signal the case itself sends, if any


def judge(case, run, limits):
    problems = []
    if run.timed_out:
        problems.append("did not end within %.0f s" % run.timeout)
    if run.killed_for_memory:
        problems.append("passed %d MB of resident memory" % limits.cap_mb)
    elif run.rss_mb > limits.rss_mb:
        problems.append("peak resident memory %.0f MB over %d MB" % (run.rss_mb, limits.rss_mb))
    if run.status < 0 and -run.status != case.ends_by:
        problems.append("killed by signal %d" % -run.status)
    for label, data in (("stdout", run.out), ("stderr", run.err)):
        problem = clean_text(data)
        if problem:
            problems.append("%s %s" % (label, problem))
    for line in run.err.splitlines():
        if len(line) > 600:
            problems.append("a stderr line of %d bytes" % len(line))
            break
    if case.json_out:
        try:
            json.loads(run.out)
        except ValueError:
            problems.append("stdout is not JSON")
    if case.expect == "ok" and run.status != 0:
        problems.append("exit status %d, expected 0" % run.status)
    # The one message box a good download shows is told on stderr by render,
    # and a classic load of frames that look different composed says so.
    told = [line for line in run.err.splitlines()
            if b"Image Download complete" not in line and b"look different composed" not in line]
    if case.expect == "ok" and told:
        problems.append("complained, expected nothing on stderr")
    if case.expect == "error":
        if run.status == 0 and not run.err.strip():
            problems.append("accepted without an error")
        elif case.says and not re.search(case.says, run.err.decode("utf-8", "replace")):
            problems.append("stderr does not say /%s/" % case.says)
    if case.check and not problems:
        problem = case.check(run)
        if problem:
            problems.append(problem)
    return problems


# --- the cases -----------------------------------------------------------------


def cases(p, url, work):
    out = lambda name: os.path.join(work, name)  # noqa: E731

    def error(number):
        # "error 7", or the control's own "Error No. 7" / "Error No: 7"
        return r"(?i)error( no[.:]?)? %d\b" % number

    budget = error(7) + r".*memory budget"

    def mode_is_owner_only(path):
        def check(run):
            mode = stat.S_IMODE(os.stat(path).st_mode)
            return None if mode & 0o077 == 0 else "written with mode %o" % mode
        return check

    def mode_at_most_0600(path):
        def check(run):
            mode = stat.S_IMODE(os.stat(path).st_mode)
            return None if mode & ~0o600 == 0 else "written with mode %o" % mode
        return check

    def shows_no_password(run):
        if b"s3cret" in run.out or b"s3cret" in run.err:
            return "the password is shown"
        if run.out.strip() and b"ann:***@" not in run.out:
            return "the JSON input does not show the address without its password"
        return None

    def still_a_fifo(path):
        def check(run):
            return None if stat.S_ISFIFO(os.stat(path).st_mode) else "the FIFO was replaced"
        return check

    def no_private_folder_left(run):
        left = [n for n in os.listdir(work + "/tmp")
                if n.startswith("flipreel-") and n != "flipreel-Alive1"]
        return "left %s behind" % left if left else None

    def terminate_after(seconds):
        def start(proc):
            def later():
                time.sleep(seconds)
                if proc.poll() is None:
                    proc.send_signal(signal.SIGTERM)
            threading.Thread(target=later, daemon=True).start()
        return start

    # A form with a password, in a file anyone could read and run.
    open_form = out("open.json")
    with open(open_form, "wb") as f:
        f.write(b'{"format": "Flipreel saved form", "version": 1, "controls": []}')
    os.chmod(open_form, 0o777)
    # Private folders of earlier runs: one killed long ago (free), one whose
    # owner still runs (locked), both older than a minute.
    stale = os.path.join(work, "tmp", "flipreel-Stale1")
    live = os.path.join(work, "tmp", "flipreel-Alive1")
    for folder in (stale, live):
        os.mkdir(folder, 0o700)
        os.utime(folder, (time.time() - 3600, time.time() - 3600))
    live_fd = os.open(live, os.O_RDONLY)
    fcntl.flock(live_fd, fcntl.LOCK_EX)

    def only_stale_folder_removed(run):
        if os.path.exists(stale):
            return "the folder of a killed run is left"
        if not os.path.exists(live):
            return "the folder of a live run was removed"
        return None

    c = [
        Case("small GIF", ["info", "--json", p["small"]], "ok", json_out=True),
        # The default budget follows the file: a real film loads, classic
        # and composed, within it.
        Case("film of 1920 x 1080 x 300", ["info", "--json", p["film"]], "ok", json_out=True,
             timeout=60),
        Case("film of 1920 x 1080 x 300, composed", ["info", "--json", "--composed", p["film"]],
             "ok", json_out=True, timeout=60),
        Case("film, composed, budget 50 MB",
             ["info", "--composed", "--memory-budget", "50", p["film"]], "error", budget),
        Case("40 frames of 8192 x 8192, composed", ["info", "--composed", p["big_frames"]],
             "error", budget, timeout=15),
        Case("screen of 65535 x 65535, composed", ["info", "--composed", p["huge_screen"]],
             "error", error(7) + r".*larger than a picture"),
        Case("standard input of /dev/zero", ["info", "-"], "error", r"larger than the 64 MB",
             stdin="/dev/zero", timeout=10),
        Case("200 MB sparse GIF", ["info", p["sparse_200"]], "error", r"larger than the 64 MB",
             timeout=10),
        Case("password in the address",
             ["info", "--json", url.replace("//", "//ann:s3cret@") + "/small.gif"], "ok",
             json_out=True, check=shows_no_password),
        Case("password in an address that fails",
             ["info", url.replace("//", "//ann:s3cret@") + "/missing.gif"], "error", error(31004),
             check=shows_no_password),
        Case("garbage answer", ["info", url + "/garbage"], "error",
             error(31001) + r".*not an HTTP response"),
        Case("bad status line", ["info", url + "/bad-status"], "error",
             error(31001) + r".*not an HTTP response"),
        Case("password into a 0777 form", ["pack", p["password_form"], "-o", open_form], "ok",
             check=mode_at_most_0600(open_form)),
        Case("--name not UTF-8", ["pack", p["small"], "-o", out("name.json"), "--name",
                                  os.fsdecode(b"bad\xff")], "error", r"not valid UTF-8"),
        Case("folders of killed runs", ["info", url + "/small.gif"], "ok",
             check=only_stale_folder_removed),
        Case("40 frames of 8192 x 8192", ["info", "--json", p["big_frames"]], "error", budget,
             json_out=True),
        Case("40 frames of 8192 x 8192, simulated",
             ["simulate", "--json", "--ticks", "3", p["big_frames"]], "error", budget,
             json_out=True),
        Case("40 frames of 8192 x 8192, packed", ["pack", p["big_frames"], "-o", out("big.json")],
             "error", budget),
        Case("frame at 65535, 65535", ["info", "--json", p["far_frame"]], "ok", json_out=True),
        Case("cut after the first extension", ["info", p["cut_after_extension"]], "error",
             r"ends inside"),
        Case("file name that is not UTF-8", ["info", "--json", p["bad_name"]], "ok",
             json_out=True),
        Case("file name that is not UTF-8, readable", ["info", p["bad_name"]], "ok"),
        Case("2 GB sparse file", ["info", p["sparse"]], "error", r"larger than"),
        Case("30 pictures never restored",
             ["info", "--json", "--control", "Flipreel1", p["big_pictures_form"]], "ok",
             json_out=True),
        Case("saved Buffer of big frames",
             ["info", "--memory-budget", "160", p["big_buffer_form"]], "error", budget),
        Case("500 000 entries", ["info", "--json", p["many_entries_form"]], "ok",
             json_out=True, timeout=10),
        Case("nested 100 000 deep", ["info", p["deep_form"]], "error", r"nested"),
        Case("damaged long line", ["info", p["long_line_form"]], "error", error(380)),
        Case("form cut inside a character", ["info", "--json", p["cut_form"]], "error",
             error(380), json_out=True),
        Case("form cut inside a character, simulated",
             ["simulate", "--json", "--ticks", "2", p["cut_form"]], "error", error(380),
             json_out=True),
        Case("FIFO as input", ["info", p["fifo"]], "error", r"not a regular file", timeout=10),
        Case("FIFO as output", ["pack", p["small"], "-o", p["fifo"]], "error",
             r"not a regular file", timeout=10),
        Case("FIFO behind file://", ["info", "file://" + p["fifo"]], "error", error(75),
             timeout=10),
        Case("character device", ["info", "/dev/zero"], "error", r"not a regular file",
             timeout=10),
        Case("folder", ["info", p["folder"]], "error", r"folder"),
        Case("password written owner-only",
             ["pack", p["password_form"], "-o", out("secret.json")], "ok",
             check=mode_is_owner_only(out("secret.json"))),
        Case("redirect to file://", ["info", url + "/to-file"], "error", error(31001)),
        Case("redirect to ftp://", ["info", url + "/to-ftp"], "error", error(31001)),
        Case("gzip-encoded body", ["info", url + "/gzip.gif"], "ok"),
        Case("announced 1 TB", ["info", url + "/huge-length"], "error", error(31007)),
        Case("endless body", ["info", url + "/endless"], "error", error(31007)),
        Case("download of big frames", ["info", url + "/big_frames.gif"], "error", budget),
        Case("SIGTERM during a download", ["info", url + "/stall"], "any", timeout=10,
             on_start=terminate_after(1.0), check=no_private_folder_left,
             ends_by=signal.SIGTERM),
    ]
    qt = [
        Case("render: 40 frames of 8192 x 8192", ["render", p["big_frames"], "-o", out("a.png")],
             "error", budget),
        Case("render: frame at 65535, 65535",
             ["render", p["far_frame"], "-o", out("b.png"), "--classic"], "error", r"too large"),
        Case("render: FIFO as input", ["render", p["fifo"], "-o", out("c.png")], "error",
             r"not a regular file", timeout=10),
        Case("render: FIFO behind file://",
             ["render", "file://" + p["fifo"], "-o", out("d.png")], "error", error(75),
             timeout=10),
        Case("render: redirect to file://", ["render", url + "/to-file", "-o", out("e.png")],
             "error", error(31001)),
        Case("render: redirect to ftp://", ["render", url + "/to-ftp", "-o", out("f.png")],
             "error", error(31001)),
        Case("render: gzip-encoded body", ["render", url + "/gzip.gif", "-o", out("g.png")],
             "ok"),
        Case("render: sheet beyond the budget",
             ["render", p["large_frames"], "--ticks", "64", "-o", out("i.png")], "error",
             error(7) + r".*contact sheet", timeout=15),
        Case("render: FIFO as output", ["render", p["small"], "-o", p["fifo"]], "error",
             r"not a regular file", check=still_a_fifo(p["fifo"]), timeout=10),
        Case("render: a GifFromURL of 50 MB, 40 ticks",
             ["render", p["long_address_form"], "--ticks", "40", "-o", out("j.png")], "ok",
             timeout=20),
        Case("render: 30 pictures never restored",
             ["render", "--control", "Flipreel1", p["big_pictures_form"], "-o", out("h.png")],
             "ok"),
    ]
    for q in qt:
        q.qt = True
    return c + qt


class Limits:
    def __init__(self, budget_mb, slack_mb):
        self.rss_mb = budget_mb + slack_mb
        self.cap_mb = 2 * self.rss_mb + 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--budget-mb", type=int, default=256,
                        help="the tool's memory budget; 0 leaves its default")
    parser.add_argument("--slack-mb", type=int, default=256,
                        help="resident memory allowed beyond the budget")
    parser.add_argument("--slowness", type=float, default=1,
                        help="how many times longer each case may take (sanitizer builds)")
    parser.add_argument("--only", help="run only cases whose name holds this text")
    args = parser.parse_args()

    has_qt = "render" in subprocess.run([args.tool, "--help"], capture_output=True,
                                        text=True).stdout
    limits = Limits(args.budget_mb, args.slack_mb)
    with tempfile.TemporaryDirectory(prefix="flipreel-hostile-") as work:
        os.mkdir(work + "/tmp")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TMPDIR=work + "/tmp",
                   XDG_RUNTIME_DIR="")
        os.mkdir(work + "/in")
        # Made in a process of their own: a child's peak resident memory counts
        # the memory of the process that started it, which must stay small.
        inputs = json.loads(subprocess.run(
            [sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                          "hostile_inputs.py"), work + "/in"],
            check=True, capture_output=True).stdout)
        server = start_server(inputs)
        url = "http://127.0.0.1:%d" % server.server_address[1]
        passed = failed = 0
        worst_time = (0, "")
        worst_rss = (0, "")
        for case in cases(inputs, url, work):
            if args.only and args.only not in case.name:
                continue
            if case.qt and not has_qt:
                continue
            argv = [args.tool] + case.args
            if args.budget_mb:
                argv += ["--memory-budget", str(args.budget_mb)]
            run = run_tool(argv, case.timeout * args.slowness, limits.cap_mb, env, case.on_start,
                           case.stdin)
            problems = judge(case, run, limits)
            worst_time = max(worst_time, (run.seconds, case.name))
            worst_rss = max(worst_rss, (run.rss_mb, case.name))
            verdict = "FAIL" if problems else "ok"
            print("%-4s %-45s %6.2f s %6.0f MB  exit %d" %
                  (verdict, case.name, run.seconds, run.rss_mb, run.status))
            if problems:
                failed += 1
                for problem in problems:
                    print("       " + problem)
                first = run.err.decode("utf-8", "replace").strip().splitlines()[:3]
                for line in first:
                    print("       stderr: " + line[:200])
            else:
                passed += 1
        server.shutdown()
    print("inputs %d, worst time %.2f s (%s), worst resident memory %.0f MB (%s)" %
          (passed + failed, worst_time[0], worst_time[1], worst_rss[0], worst_rss[1]))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
