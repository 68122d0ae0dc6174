#!/usr/bin/env python3
"""Servers that misbehave, played on 127.0.0.1: one that greets and closes,
one that never speaks and one that sends a 200 MB greeting line. Each must
end `mapiprofile add` and a copy into the account within its (shortened)
timeout, with a line naming the server and what it did not do, the copy
with its Summary and exit 1, never death by a signal; the peak memory of
each process is measured and bounded. Then a server that takes the login
and stalls: a core dump of the copy while it holds the password must not
contain it.

usage: imap_hostile_e2e.py BUILD_DIR
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

WAIT = 2  # QUIRNEL_IMAP_WAIT_SECONDS for every run
PASSWORD = 'Pw7f3a9c1eHostile'
# Far below the 200 MB line, well above a run's own needs (sanitizer
# builds included).
PEAK_LIMIT_MB = 160


class FakeServer:
    """Accepts connections on 127.0.0.1 and hands each to behave(conn)."""

    def __init__(self, behave):
        self.behave = behave
        self.listener = socket.socket()
        self.listener.bind(('127.0.0.1', 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.sent = 0
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        try:
            self.behave(self, conn)
        except OSError:
            pass
        finally:
            conn.close()

    def close(self):
        self.listener.close()


def greet_and_close(server, conn):
    conn.sendall(b'* OK [CAPABILITY IMAP4rev1] hello\r\n')


def never_speak(server, conn):
    conn.recv(1)  # until the client leaves


def endless_greeting(server, conn):
    chunk = b'x' * (1 << 20)
    conn.sendall(b'* OK ')
    for _ in range(200):
        conn.sendall(chunk)
        server.sent += len(chunk)
    conn.sendall(b'\r\n')


class Holder:
    """Takes the login, then leaves the next command unanswered until
    release(): the client sits there holding its password."""

    def __init__(self):
        self.stalled = threading.Event()
        self.released = threading.Event()
        self.logged_in = False

    def __call__(self, server, conn):
        conn.sendall(b'* OK [CAPABILITY IMAP4rev1] hello\r\n')
        pending = b''
        while True:
            data = conn.recv(4096)
            if not data:
                return
            pending += data
            while b'\r\n' in pending:
                line, pending = pending.split(b'\r\n', 1)
                tag, _, rest = line.partition(b' ')
                command = rest.split(b' ')[0].upper()
                if command == b'CAPABILITY':
                    conn.sendall(b'* CAPABILITY IMAP4rev1\r\n' + tag + b' OK done\r\n')
                elif command == b'LOGIN':
                    self.logged_in = PASSWORD.encode() in rest
                    conn.sendall(tag + (b' OK in\r\n' if self.logged_in else b' NO wrong\r\n'))
                else:
                    self.stalled.set()
                    self.released.wait(120)
                    return


def run_measured(args, env, timeout=120):
    """Runs args; returns (exit status, stdout, stderr, seconds, peak RSS in MB)."""
    started = time.monotonic()
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        timer = threading.Timer(timeout, proc.kill)
        timer.start()
        _, status, usage = os.wait4(proc.pid, 0)
        timer.cancel()
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return (proc.returncode, out.read().decode(errors='replace'),
                err.read().decode(errors='replace'), time.monotonic() - started,
                usage.ru_maxrss / 1024.0)


def check_core_dump(copy, env, add_entry, tmp, failures):
    """A copy that holds the password, stalled after its login, is dumped
    with gcore: the dump must not contain the password."""
    holder = Holder()
    server = FakeServer(holder)
    add_entry('holder', server.port)
    proc = subprocess.Popen([copy, '--source', 'source', '--target', 'holder'], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    try:
        if not holder.stalled.wait(60) or not holder.logged_in:
            failures.append('the copy did not log in to the holding server')
            return
        core = os.path.join(tmp, 'core')
        r = subprocess.run(['gcore', '-o', core, str(proc.pid)], capture_output=True,
                           text=True, timeout=300)
        dumped = core + '.%d' % proc.pid
        if not os.path.exists(dumped):
            # Refused: as it must be for anyone but root.
            print('gcore refused: ' + (r.stderr.strip().splitlines() or [''])[-1])
            if os.geteuid() == 0:
                failures.append('gcore as root failed: ' + r.stderr[-1000:])
            return
        with open(dumped, 'rb') as f:
            image = f.read()
        os.unlink(dumped)
        print('core dump of the copy: %d MB' % (len(image) >> 20))
        # The dump is of the living copy: its account is in it.
        if b'alice' not in image or len(image) < (1 << 20):
            failures.append('the core dump holds no trace of the copy')
        if PASSWORD.encode() in image:
            failures.append('the password is in the core dump of the copy')
    finally:
        holder.released.set()
        proc.kill()
        proc.communicate()
        server.close()


def main():
    build = sys.argv[1]
    mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
    copy = os.path.join(build, 'copy/quirnel-copy')
    failures = []
    with tempfile.TemporaryDirectory(prefix='imap-hostile-') as tmp:
        profile = os.path.join(tmp, 'profile.ini')
        env = dict(os.environ, MAPI_PROFILE=profile, XDG_DOCUMENTS_DIR=tmp,
                   XDG_CONFIG_HOME=tmp, QUIRNEL_IMAP_PASSWORD=PASSWORD,
                   QUIRNEL_IMAP_WAIT_SECONDS=str(WAIT))
        env.pop('QUIRNEL_IMAP_PASSWORD_FILE', None)
        rc, out, err, _, _ = run_measured(
            [mapiprofile, 'sample', 'source', os.path.join(tmp, 'source.db'), '--items', '5'], env)
        if rc != 0:
            print('FAILED sample: ' + out + err)
            return 1

        def add_entry(name, port):
            # mapiprofile add would refuse these servers: written by hand.
            with open(profile, 'a', encoding='utf-8') as f:
                f.write('\n[%s]\nname = %s\nprovider = imap\npath = imap://alice@127.0.0.1:%d\n'
                        % (name, name, port))

        # ------------------------------------------------ misbehaving servers
        cases = [('greet-and-close', greet_and_close, 'closed the connection'),
                 ('never-speaks', never_speak, 'sent no greeting within %d s' % WAIT),
                 ('endless-line', endless_greeting, 'sent a line longer than 16 MB')]
        for name, behave, said in cases:
            server = FakeServer(behave)
            where = '127.0.0.1:%d' % server.port
            add_entry(name, server.port)
            runs = [('mapiprofile add', [mapiprofile, 'add', name + '-new',
                                         'imap://alice@' + where]),
                    ('quirnel-copy', [copy, '--source', 'source', '--target', name])]
            for what, args in runs:
                rc, out, err, took, peak = run_measured(args, env)
                text = out + err
                print('%s, %s: exit %d in %.1f s, peak %.0f MB' % (name, what, rc, took, peak))
                problems = []
                if rc < 0 or rc == 141:
                    problems.append('killed by signal %d' % -rc)
                if rc == 0:
                    problems.append('exit 0')
                if where not in text or said not in text:
                    problems.append('no line naming %s and saying "%s"' % (where, said))
                if what == 'quirnel-copy' and (rc != 1 or 'Summary:' not in out):
                    problems.append('no Summary or exit %d instead of 1' % rc)
                if took > 6 * WAIT + 10:
                    problems.append('took %.1f s' % took)
                if peak > PEAK_LIMIT_MB:
                    problems.append('peak memory %.0f MB' % peak)
                if problems:
                    failures.append('%s, %s: %s\n%s\n%s' % (name, what, '; '.join(problems),
                                                            out[-1500:], err[-1500:]))
            server.close()

        # ------------------------------------------------ the password in a core dump
        # A sanitizer build reserves terabytes of shadow memory, which gdb
        # cannot dump in any useful time: the dump is a release-build check.
        with open(copy, 'rb') as f:
            sanitized = b'__asan_init' in f.read()
        if sanitized:
            print('sanitizer build: no core dump taken')
        else:
            check_core_dump(copy, env, add_entry, tmp, failures)
    for f in failures:
        print('FAILED ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
