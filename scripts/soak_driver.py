#!/usr/bin/env python3
"""The soak's driver: runs the keeper in a work folder and keeps changing its preference file.

Right after each rewrite by the program (when its next pass is half a second away) the driver may
edit the file in place or as an editor does (a new file renamed over it), empty it, fill it with
garbage, delete it and restore it a while later, or make it read-only for a while. It samples the
file every few milliseconds, under a read lock so that it never sees a write-back in progress, and
checks that:

  - the program never dies;
  - every rewrite is a whole write-back in normal form, holding every user the program has
    loaded so far with the values its table must hold (what the file it loaded said, or the last
    known values of a user whose group was taken away);
  - a read-only file is never written, and a deleted file is never created;
  - the program's resident memory stays flat once its table stops growing.

Standard library only. Prints a summary; exits non-zero when a check failed.
"""

import argparse
import collections
import fcntl
import os
import random
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from fileform import BOM, fold, groups_of, in_file, normal_form, parse  # noqa: E402

# ---- Files ----------------------------------------------------------------------------------

LOCK_FORMAT = "hh4xqqi4x"  # struct flock on Linux x86-64


def set_lock(fd, kind):
    fcntl.fcntl(fd, fcntl.F_OFD_SETLK, struct.pack(LOCK_FORMAT, kind, os.SEEK_SET, 0, 0, 0))


def read_locked(path):
    """(bytes, mtime_ns), None when the file is absent, or "busy" while another holds it."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC)
    except FileNotFoundError:
        return None
    try:
        try:
            set_lock(fd, fcntl.F_RDLCK)
        except OSError:
            return "busy"
        mtime = os.fstat(fd).st_mtime_ns
        chunks = []
        while True:
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                break
            chunks.append(chunk)
        return b"".join(chunks), mtime
    finally:
        os.close(fd)


# ---- The driver -----------------------------------------------------------------------------


class Soak:
    def __init__(self, args):
        self.args = args
        self.path = os.path.join(args.folder, "Data", "Pref.txt")
        self.random = random.Random(args.seed)
        self.user = args.user.encode("latin-1")
        self.pool = [b"user%02d" % i for i in range(40)] + [b"J\xfcrgen", b"Ren\xe9e", b"o'brien"]
        self.pool_used = set()
        self.garbage = [self.make_garbage(i) for i in range(8)]
        self.garbage_used = set()
        self.values = {}  # user name -> (width, height): what the program's table must hold
        self.current = b""  # what the file holds now, as far as the driver knows
        self.driver_mtime = None
        self.rewrites = 0
        self.faults = collections.Counter()
        self.problems = []
        self.rss = []  # (seconds since start, kB)
        self.program = None

    def problem(self, text):
        stamp = time.monotonic() - self.start
        self.problems.append("%.1fs: %s" % (stamp, text))
        print("soak: PROBLEM at %.1fs: %s" % (stamp, text), flush=True)

    def make_garbage(self, number):
        rng = random.Random(self.args.seed * 100 + number)
        pieces = [BOM] if number % 3 == 0 else []
        for _ in range(rng.randint(5, 60)):
            choice = rng.random()
            if choice < 0.5:
                pieces.append(bytes(rng.randrange(256) for _ in range(rng.randint(1, 40))))
            elif choice < 0.7:
                pieces.append(rng.choice([b"[", b"]", b"=", b"\n", b"\r", b"\0", b";", b" ", b"\t"]))
            elif choice < 0.9:
                pieces.append(b"\n[junk%d-%d]\n" % (number, rng.randrange(5)))
            else:
                pieces.append(b"Res_X=%d\nRes_Y=%d\n" % (rng.randrange(-5, 5000), rng.randrange(5000)))
        return b"".join(pieces)

    # -- Writing the file, as another program would --

    def owned(self, fd):
        if os.geteuid() == 0:
            os.fchown(fd, self.args.uid, self.args.gid)

    def write_in_place(self, data):
        """Rewrites the file under a write lock, so that the program sees it whole or not at all."""
        fd = os.open(self.path, os.O_WRONLY | os.O_CREAT | os.O_CLOEXEC, 0o644)
        try:
            deadline = time.monotonic() + 2
            while True:
                try:
                    set_lock(fd, fcntl.F_WRLCK)
                    break
                except OSError:
                    if time.monotonic() > deadline:
                        raise
                    time.sleep(0.002)
            os.ftruncate(fd, 0)
            os.write(fd, data)
            self.owned(fd)
            self.driver_mtime = os.fstat(fd).st_mtime_ns
        finally:
            os.close(fd)
        self.current = data

    def write_replacing(self, data):
        """Writes a new file beside it and renames it over the old one, as editors save."""
        temporary = self.path + ".new"
        fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_CLOEXEC, 0o644)
        try:
            os.write(fd, data)
            self.owned(fd)
            self.driver_mtime = os.fstat(fd).st_mtime_ns
        finally:
            os.close(fd)
        os.rename(temporary, self.path)
        self.current = data

    def edited(self):
        """The current file with some values changed, some users added and some removed."""
        utf8, lines = parse(self.current)
        out = []
        skipping = False
        for kind, key, text in lines:
            if kind == "group":
                skipping = self.random.random() < 0.08
            if skipping:
                continue
            if kind == "entry" and key.lower() in (b"res_x", b"res_y") and self.random.random() < 0.2:
                text = self.random.choice([b"800", b"1024", b"1280", b"1920", b"640x", b"", b"-7",
                                           b"99999999999", b" 1024 "])
            out.append((kind, key, text))
        for _ in range(self.random.randint(0, 3)):
            name = self.pool[len(self.pool_used) % len(self.pool)] if len(self.pool_used) < len(
                self.pool) else self.random.choice(self.pool)
            self.pool_used.add(name)
            out.append(("group", None, in_file(utf8, name)))
            out.append(("entry", b"Res_X", b"%d" % self.random.choice([640, 800, 1024, 1280])))
            if self.random.random() < 0.8:
                out.append(("entry", b"Res_Y", b"%d" % self.random.choice([480, 600, 768, 1024])))
        if self.random.random() < 0.3:
            out.insert(0, ("comment", None, b"edited at %d" % self.rewrites))
        text = normal_form(utf8, out)
        # Hand edits are not in normal form: LF line ends, no blanks around '='.
        if self.random.random() < 0.5:
            text = text.replace(b"\r\n", b"\n").replace(b" = ", b"=")
        return text

    def act(self):
        """Changes the file right after a rewrite; gives a pending (restore time, kind) or None."""
        choice = self.random.random()
        if choice < 0.40:
            return None  # let the program rewrite what it wrote
        if choice < 0.62:
            self.faults["edit in place"] += 1
            self.write_in_place(self.edited())
        elif choice < 0.72:
            self.faults["edit by replacing"] += 1
            self.write_replacing(self.edited())
        elif choice < 0.78:
            self.faults["emptied"] += 1
            self.write_in_place(b"")
        elif choice < 0.88:
            self.faults["garbage"] += 1
            number = self.faults["garbage"] % len(self.garbage)
            self.garbage_used.add(number)
            self.write_in_place(self.garbage[number])
        elif choice < 0.94:
            self.faults["deleted"] += 1
            os.unlink(self.path)
            return time.monotonic() + self.random.uniform(1.0, 3.0), "deleted"
        else:
            self.faults["read-only"] += 1
            os.chmod(self.path, 0o444)
            return time.monotonic() + self.random.uniform(1.0, 3.0), "read-only"
        return None

    def restore(self, kind):
        if kind == "deleted":
            self.write_replacing(self.current if self.random.random() < 0.5 else self.edited())
        else:
            os.chmod(self.path, 0o644)

    # -- Checking a rewrite --

    def check_rewrite(self, written):
        loaded = self.current
        utf8, lines = parse(written)
        if written != normal_form(utf8, lines):
            self.problem("a rewrite that is not a whole write-back in normal form (%d bytes): %r"
                         % (len(written), written[-200:]))
        # What the load step put into the table: every group with a name, later ones winning.
        for name, _, width, height in groups_of(loaded):
            if name:
                self.values[name] = (width, height)
        # A user's values go to the first header that matches its name in the file's encoding.
        found = {}
        for _, text, width, height in groups_of(written):
            found.setdefault(fold(text), (width, height))
        if self.user not in self.values:  # first seen: the present size is recorded
            self.values[self.user] = found.get(fold(in_file(utf8, self.user)))
            print("soak: the program recorded %s at the screen's size, %r"
                  % (self.args.user, self.values[self.user]), flush=True)
        # Users whose names differ only in case share a group; the last saved wins there.
        spellings = collections.Counter(fold(name) for name in self.values)
        for name, expected in self.values.items():
            folded = fold(in_file(utf8, name))
            if folded not in found:
                self.problem("user %r lost from the file" % name)
            elif spellings[fold(name)] == 1 and found[folded] != expected:
                self.problem("user %r holds %r in place of %r" % (name, found[folded], expected))
        self.current = written

    # -- The run --

    def rss_kb(self):
        try:
            with open("/proc/%d/status" % self.program.pid) as status:
                for line in status:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except OSError:
            pass
        return None

    def run(self):
        args = self.args
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        self.current = b"; reskeeper soak\n[user00]\nRes_X=800\nRes_Y=600\n"
        self.pool_used.add(b"user00")
        self.write_in_place(self.current)
        environment = dict(os.environ, USERNAME=args.user, DISPLAY=args.display)
        extra = {}
        if os.geteuid() == 0:
            # As root the program could write a read-only file; it runs as an ordinary user.
            extra = dict(user=args.uid, group=args.gid, extra_groups=[])
        self.start = time.monotonic()
        self.program = subprocess.Popen([os.path.abspath(args.program)], cwd=args.folder,
                                        env=environment, stdin=subprocess.DEVNULL, **extra)
        end = self.start + args.seconds
        pending = None  # (when, kind) of a deleted or read-only file to restore
        warm_until = None  # when the table stopped growing, once it has
        next_rss = self.start
        last_mtime = self.driver_mtime
        while time.monotonic() < end:
            time.sleep(0.01)
            now = time.monotonic()
            if self.program.poll() is not None:
                self.problem("the program ended with status %s" % self.program.returncode)
                break
            if now >= next_rss:
                next_rss += 1
                kb = self.rss_kb()
                if kb is not None:
                    self.rss.append((now - self.start, kb))
            sample = read_locked(self.path)
            if pending is not None:
                when, kind = pending
                if kind == "deleted" and sample is not None:
                    self.problem("the program created the deleted file")
                if kind == "read-only" and isinstance(sample, tuple) and sample[1] != last_mtime:
                    self.problem("the program wrote a read-only file")
                    last_mtime = sample[1]
                if now >= when:
                    self.restore(kind)
                    pending = None
                    last_mtime = self.driver_mtime if kind == "deleted" else last_mtime
                continue
            if not isinstance(sample, tuple):
                continue
            data, mtime = sample
            if mtime == last_mtime:
                continue
            last_mtime = mtime
            if mtime == self.driver_mtime and data == self.current:
                continue
            self.rewrites += 1
            self.check_rewrite(data)
            if warm_until is None and len(self.garbage_used) == len(self.garbage) and len(
                    self.pool_used) == len(self.pool):
                warm_until = now + 30  # a few more rewrites of everything first
            pending = self.act()
        self.finish(warm_until)

    def finish(self, warm_until):
        alive = self.program.poll() is None
        final_kb = self.rss_kb() if alive else None
        if alive:
            self.program.terminate()
            try:
                self.program.wait(5)
            except subprocess.TimeoutExpired:
                self.program.kill()
                self.program.wait()
        elapsed = time.monotonic() - self.start
        peak = max((kb for _, kb in self.rss), default=0)
        print("soak: %.0f s, %d rewrites (passes that wrote the file), %d users in the table"
              % (elapsed, self.rewrites, len(self.values)))
        print("soak: faults made: %d (%s)" % (sum(self.faults.values()), ", ".join(
            "%s %d" % item for item in sorted(self.faults.items()))))
        print("soak: user %s's stored size at the end: %s" % (self.args.user,
                                                           self.values.get(self.user)))
        print("soak: resident memory: peak %d kB, final %s kB" % (peak, final_kb))
        if warm_until is not None and warm_until - self.start < elapsed:
            settled = [kb for t, kb in self.rss if t <= warm_until - self.start]
            after = [kb for t, kb in self.rss if t > warm_until - self.start]
            baseline = max(settled[-10:])
            late_peak = max(after, default=baseline)
            print("soak: once the table stopped growing (%.0f s): %d kB, at most %d kB after"
                  % (warm_until - self.start, baseline, late_peak))
            if late_peak > baseline + self.args.rss_slack_kb:
                self.problem("resident memory grew from %d kB to %d kB with a table that no "
                             "longer grows" % (baseline, late_peak))
        else:
            print("soak: the run ended before the table stopped growing; memory not judged")
        if self.rewrites == 0:
            self.problem("the program never rewrote the file")
        if self.problems:
            print("soak: FAILED, %d problems; the first ones:" % len(self.problems))
            for text in self.problems[:10]:
                print("  " + text)
            return 1
        print("soak: passed")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--display", required=True)
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--user", default="soak")
    parser.add_argument("--uid", type=int, default=65534)
    parser.add_argument("--gid", type=int, default=65534)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rss-slack-kb", type=int, default=512)
    soak = Soak(parser.parse_args())
    try:
        soak.run()
    finally:
        if soak.program is not None and soak.program.poll() is None:
            soak.program.kill()
            soak.program.wait()
    return 1 if soak.problems else 0


if __name__ == "__main__":
    sys.exit(main())
