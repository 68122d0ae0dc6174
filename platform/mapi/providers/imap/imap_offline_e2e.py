#!/usr/bin/env python3
"""IMAP entries of a profile without any server: a copy between two other
stores of the profile must neither contact an account it does not use nor
ask for its password (stores log on at first use), and imap:// towards a
host that is not this machine is refused before any connection, by
mapiprofile add and by a session whose profile names one.

usage: imap_offline_e2e.py BUILD_DIR
"""
import os
import socket
import subprocess
import sys
import tempfile
import time


def free_port():
    """A loopback port nobody listens on (bound, then let go)."""
    s = socket.socket()
    s.bind(('127.0.0.1', 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    build = sys.argv[1]
    mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
    copy = os.path.join(build, 'copy/quirnel-copy')
    failures = []
    with tempfile.TemporaryDirectory(prefix='imap-offline-') as tmp:
        profile = os.path.join(tmp, 'profile.ini')
        env = dict(os.environ, MAPI_PROFILE=profile, XDG_DOCUMENTS_DIR=tmp,
                   XDG_CONFIG_HOME=tmp)
        for key in ('QUIRNEL_IMAP_PASSWORD', 'QUIRNEL_IMAP_PASSWORD_FILE'):
            env.pop(key, None)

        def run(*args):
            # No terminal: a password asked for would be a failure, not a wait.
            r = subprocess.run(args, env=env, capture_output=True, text=True,
                               stdin=subprocess.DEVNULL, timeout=120)
            return r.returncode, r.stdout, r.stderr

        # ------------------------------------------------ refused by the address
        started = time.monotonic()
        rc, out, err = run(mapiprofile, 'add', 'far', 'imap://user@192.0.2.1')
        took = time.monotonic() - started
        if rc == 0 or 'only for this machine' not in err or 'imaps://user@192.0.2.1' not in err \
                or took > 5:
            failures.append('add imap://user@192.0.2.1: exit %d after %.1f s: %s'
                            % (rc, took, err))

        rc, out, err = run(mapiprofile, 'sample', 'source', os.path.join(tmp, 'source.db'),
                           '--items', '40')
        if rc != 0:
            failures.append('sample: ' + out + err)
        rc, out, err = run(mapiprofile, 'create', 'target', os.path.join(tmp, 'target.db'))
        if rc != 0:
            failures.append('create: ' + out + err)
        # An account whose server is down (mapiprofile add would have
        # refused it, so it is written the way a hand-edited profile is).
        with open(profile, 'a', encoding='utf-8') as f:
            f.write('\n[down]\nname = down\nprovider = imap\npath = imap://nobody@127.0.0.1:%d\n'
                    % free_port())

        # ------------------------------------------------ stores left alone
        started = time.monotonic()
        rc, out, err = run(copy, '--source', 'source', '--target', 'target')
        took = time.monotonic() - started
        # Standard error carries the progress; nothing of it may be about
        # the account.
        said = [l for l in (out + err).splitlines()
                if any(w in l.lower() for w in ('imap', 'down', 'nobody', 'password', 'left out'))]
        if rc != 0 or 'Summary:' not in out or said or 'Error ' in out or took > 30:
            failures.append('copy beside an unused IMAP entry: exit %d in %.1f s\n%s\n%s'
                            % (rc, took, out[-1500:], err[-1500:]))
        print('copy beside an account whose server is down: exit %d in %.1f s' % (rc, took))

        # ------------------------------------------------ refused when opened
        with open(profile, 'a', encoding='utf-8') as f:
            f.write('\n[far]\nname = far\nprovider = imap\npath = imap://user@192.0.2.1\n')
        started = time.monotonic()
        rc, out, err = run(copy, '--source', 'source', '--target', 'far')
        took = time.monotonic() - started
        if rc == 0 or 'only for this machine' not in out + err or took > 10:
            failures.append('copy into imap://user@192.0.2.1: exit %d after %.1f s\n%s\n%s'
                            % (rc, took, out[-1000:], err[-1000:]))
    for f in failures:
        print('FAILED ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
