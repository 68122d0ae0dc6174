#!/usr/bin/env python3
"""End to end against a real Dovecot that this test starts on 127.0.0.1:
a generated store and every .pst sample are copied with quirnel-copy into
IMAP accounts and checked through imaplib (imap_check), then copied back
into embedded stores that must keep every property MIME carries
(mailfiles_roundtrip); the server is killed and restarted in the middle of
a copy, which must end with every item there exactly once, as must a copy
whose connection falls silent (hushing_relay), without a long wait; a
server that refuses the largest messages fails each of them alone with its
words; a wrong password must end the run with one clear message, and the
server's certificate must be checked. The same account read over imaps://
shows what it shows over STARTTLS.

usage: imap_e2e.py BUILD_DIR SHARED_DIR [ITEMS]
"""
import collections
import glob
import imaplib
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, '..', 'mailfiles'))
import dovecot_fixture  # noqa: E402
import hushing_relay  # noqa: E402
import imap_check  # noqa: E402

PASSWORD = 'secret'


def message_total(port, user, rescan=False):
    """rescan: count what EXAMINE finds; STATUS may answer from the server's
    index, which after a crash can lack a message whose file was written."""
    try:
        imap = imaplib.IMAP4('127.0.0.1', port)
        imap.login(user, PASSWORD)
        total = 0
        for wire, _, flags in imap_check.list_mailboxes(imap):
            if rescan:
                typ, data = imap.select('"%s"' % wire, readonly=True)
                if typ == 'OK':
                    total += int(data[0])
                continue
            typ, data = imap.status('"%s"' % wire, '(MESSAGES)')
            if typ == 'OK':
                total += int(data[0].decode().rsplit('MESSAGES ', 1)[1].rstrip(')'))
        imap.logout()
        return total
    except (OSError, imaplib.IMAP4.error):
        return -1


def copy_until_a_third(copy, env, port, account, user, total):
    """Starts a copy of the generated store into account and returns once the
    server holds a third of its total items (or the copy ended): the
    process, the thread reading its output, and the dict that output goes
    to ('out', 'err') when it ends."""
    proc = subprocess.Popen([copy, '--source', 'generated', '--target', account],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    output = {}
    reader = threading.Thread(target=lambda: output.update(
        zip(('out', 'err'), proc.communicate())))
    reader.start()
    deadline = time.monotonic() + 300
    while message_total(port, user) < total // 3 and proc.poll() is None \
            and time.monotonic() < deadline:
        time.sleep(0.05)
    return proc, reader, output


def refused_check(failures, sizes, mapiprofile, copy, tmp, env):
    """A server that refuses the largest messages (a size limit): each of
    them fails alone with the server's words, every other one arrives."""
    # A limit in a gap between message sizes, so which ones are too large
    # does not hang on a few bytes of MIME boundary.
    start = len(sizes) * 4 // 5
    gap = next((i for i in range(start, len(sizes) - 1) if sizes[i + 1] - sizes[i] > 400), None)
    if gap is None:
        failures.append('no size gap to place a limit in: %r' % sizes[-20:])
        return
    limit = (sizes[gap] + sizes[gap + 1]) // 2
    too_large = len(sizes) - gap - 1
    extra = ('mail_plugins = $mail_plugins quota\n'
             'plugin {\n  quota = maildir:User quota\n  quota_max_mail_size = %d\n}\n' % limit)
    with dovecot_fixture.Dovecot(users={'small': PASSWORD}, extra=extra) as limited:
        logs = os.path.join(tmp, 'refused-logs')
        os.makedirs(logs, exist_ok=True)
        e = dict(env, QUIRNEL_IMAP_CA_FILE=limited.ca_file, XDG_DOCUMENTS_DIR=logs)
        subprocess.run([mapiprofile, 'add', 'acct-small', limited.url('small')], env=e,
                       capture_output=True)
        r = subprocess.run([copy, '--source', 'generated', '--target', 'acct-small'], env=e,
                           capture_output=True, text=True)
        # The server's words end the item's own failure line in the log.
        errors = [l for l in r.stdout.splitlines() if l.startswith('Error ')]
        words = [l for l in errors
                 if re.match(r'Error [A-Z_]+: APPEND to .* refused by the server: ', l)]
        with open(os.path.join(logs, 'quirnel.log'), encoding='utf-8') as f:
            logged = [l.rstrip('\n') for l in f if l.startswith('Error ')]
        stored = sum(len(m) for m in imap_check.account_contents(
            limited.port, 'small', PASSWORD)[0].values())
        print('limit %d bytes: %d refused with %d explanations, %d stored of %d'
              % (limit, len(errors), len(words), stored, len(sizes)))
        if (len(errors) != too_large or len(words) != too_large or stored != len(sizes) - too_large
                or not all('maximum size' in w for w in words) or logged != errors):
            failures.append('refused messages: want %d refused, got %d errors, %d explained, '
                            '%d stored of %d\n%s' % (too_large, len(errors), len(words), stored,
                                                     len(sizes), r.stdout[-1500:]))


def main():
    build, shared = sys.argv[1], sys.argv[2]
    items = sys.argv[3] if len(sys.argv) > 3 else '300'
    mapiprofile = os.path.join(build, 'platform/mapi/tools/mapiprofile')
    copy = os.path.join(build, 'copy/quirnel-copy')
    roundtrip = os.path.join(HERE, '..', 'mailfiles', 'mailfiles_roundtrip.py')
    samples = sorted(glob.glob(os.path.join(shared, 'fixtures/pst/*.pst')))
    users = {'gen': PASSWORD, 'drop': PASSWORD, 'gone': PASSWORD, 'hush': PASSWORD}
    users.update({'pst%d' % i: PASSWORD for i in range(len(samples))})
    failures = []
    whole_copy_took = 0.0
    with dovecot_fixture.Dovecot(users=users) as server, \
            tempfile.TemporaryDirectory(prefix='imap-e2e-') as tmp:
        env = dict(os.environ, MAPI_PROFILE=os.path.join(tmp, 'profile.ini'),
                   QUIRNEL_IMAP_PASSWORD=PASSWORD, QUIRNEL_IMAP_CA_FILE=server.ca_file,
                   XDG_DOCUMENTS_DIR=tmp)
        env.pop('QUIRNEL_IMAP_PASSWORD_FILE', None)

        def run(*args, **changes):
            e = dict(env, **changes)
            for k in [k for k, v in changes.items() if v is None]:
                del e[k]
            r = subprocess.run(args, env=e, capture_output=True, text=True)
            return r.returncode, r.stdout, r.stderr

        def dump(name):
            path = os.path.join(tmp, name + '.dump')
            rc, out, err = run(mapiprofile, 'dump', name, '--props')
            with open(path, 'w', encoding='utf-8') as f:
                f.write(out)
            return rc, path, out

        # ------------------------------------------------ TLS and login
        for url in (server.url('gen', tls=True), server.url('gen')):
            rc, out, err = run(mapiprofile, 'add', 'untrusted', url, QUIRNEL_IMAP_CA_FILE=None)
            if rc == 0 or 'not trusted' not in err:
                failures.append('%s without the test CA was accepted or unexplained: %s'
                                % (url, err))
        # Plain imap:// stays plain though the server offers STARTTLS: no
        # certificate is looked at, so none needs to be trusted.
        rc, out, err = run(mapiprofile, 'add', 'plain', server.url('gen', plain=True),
                           QUIRNEL_IMAP_CA_FILE=None)
        if rc != 0:
            failures.append('plain imap:// tried TLS: %d %s' % (rc, err))
        run(mapiprofile, 'remove', 'plain')
        rc, out, err = run(mapiprofile, 'add', 'tls', server.url('gen', tls=True))
        if rc != 0:
            failures.append('imaps:// with the test CA: ' + err)
        rc, out, err = run(mapiprofile, 'add', 'gen-wrong', server.url('gen'),
                           QUIRNEL_IMAP_PASSWORD='wrong')
        if rc == 0 or 'refused the login of gen' not in err:
            failures.append('add with a wrong password: %d %s' % (rc, err))

        # ------------------------------------------------ sources
        sources = []
        rc, out, err = run(mapiprofile, 'sample', 'generated', os.path.join(tmp, 'generated.db'),
                           '--items', items)
        if rc != 0:
            failures.append('sample: ' + out + err)
        else:
            sources.append(('generated', 'gen'))
        for i, pst in enumerate(samples):
            name = 'pst-' + os.path.splitext(os.path.basename(pst))[0]
            rc, out, err = run(mapiprofile, 'add', name, pst)
            if rc == 0:
                sources.append((name, 'pst%d' % i))
            else:
                print('skipped %s: %s' % (pst, err.strip()))
        if len(sources) < 2:
            failures.append('too few sources: %r' % sources)

        # A wrong password now, with the account in the profile: one line
        # that says so, and nothing copied.
        rc, out, err = run(mapiprofile, 'add', 'acct-gen', server.url('gen'))
        if rc != 0:
            failures.append('add acct-gen: ' + err)
        rc, out, err = run(copy, '--source', 'generated', '--target', 'acct-gen',
                           QUIRNEL_IMAP_PASSWORD='wrong')
        lines = [l for l in err.splitlines() if 'refused the login' in l]
        if rc == 0 or len(lines) != 1 or 'Copy folder' in out:
            failures.append('copy with a wrong password: exit %d, %d login lines\n%s%s'
                            % (rc, len(lines), out[-500:], err[-1000:]))

        # ------------------------------------------------ copies and checks
        for source, user in sources:
            rc, source_dump, _ = dump(source)
            account = 'acct-' + user
            if user != 'gen':
                rc, out, err = run(mapiprofile, 'add', account, server.url(user))
                if rc != 0:
                    failures.append('add %s: %s' % (account, err))
                    continue
            started = time.monotonic()
            rc, out, err = run(copy, '--source', source, '--target', account, '--verify')
            took = time.monotonic() - started
            # What went to the server comes back as it went, as far as an
            # Internet message carries it.
            if not re.search(r'(?m)^Verify: \d+ item\(s\) compared \(what an Internet message '
                             r'carries\), 0 differ$', out):
                failures.append('verify %s:\n%s' % (account, out[-3000:]))
            if user == 'gen':
                whole_copy_took = took
            if rc != 0 or 'Error ' in out or 'Skip folder' in out:
                failures.append('copy %s: exit %d\n%s\n%s' % (source, rc, out[-2000:], err[-1000:]))
            with open(source_dump, encoding='utf-8') as f:
                problems, checked, _ = imap_check.check(server.port, user, PASSWORD, f.read())
            print('%s -> %s: %d messages in %.1f s, %d problems'
                  % (source, account, checked, took, len(problems)))
            if problems:
                failures.append('check %s:\n%s' % (account, '\n'.join(problems[:30])))
            rc, out, _ = run(mapiprofile, 'dump', account)
            for want in ('folder \\INBOX items=', 'special=wastebasket'):
                if want not in out:
                    failures.append('%s: dump lacks %r:\n%s' % (account, want, out[:1500]))
            back = account + '-back'
            rc, out, err = run(mapiprofile, 'create', back, os.path.join(tmp, back + '.db'))
            rc2, out2, err2 = run(copy, '--source', account, '--target', back)
            if rc != 0 or rc2 != 0 or 'Error ' in out2 or 'Skip folder' in out2:
                failures.append('copy back %s: %s%s%s' % (account, err, out2[-2000:], err2[-500:]))
                continue
            rc, back_dump, _ = dump(back)
            r = subprocess.run([sys.executable, roundtrip, source_dump, back_dump],
                               capture_output=True, text=True)
            print('%s: %s' % (back, r.stdout.strip().splitlines()[-1] if r.stdout.strip() else ''))
            if r.returncode != 0:
                failures.append('round trip %s:\n%s' % (account, r.stdout[-3000:]))

        rc, plain, _ = run(mapiprofile, 'dump', 'acct-gen', '--props')
        rc2, tls, err = run(mapiprofile, 'dump', 'tls', '--props')
        def by_folder(text):
            # Special folders a copy set are remembered per address (and so
            # per port); folder order is the server's. Items must agree.
            return {path: sorted(repr(sorted(i.props.items())) for i in its)
                    for path, _, its in imap_check.parse_dump(text)}
        if rc or rc2 or by_folder(plain) != by_folder(tls) or 'item' not in tls:
            failures.append('the account over imaps:// differs from STARTTLS: %s' % err)

        # ------------------------------------------------ a query on the account
        # Subjects come from the header fetch of the listing; a restriction
        # on them must pick exactly the items the source has.
        if sources and sources[0][0] == 'generated':
            with open(os.path.join(tmp, 'generated.dump'), encoding='utf-8') as f:
                folders = imap_check.parse_dump(f.read())
            subjects = collections.Counter(
                (i.get(0x0037) or '').lower() for _, _, its in folders for i in its)
            subject, want = next((s, n) for s, n in subjects.most_common()
                                 if s and '"' not in s and '\\' not in s)
            run(mapiprofile, 'create', 'picked', os.path.join(tmp, 'picked.db'))
            rc, out, err = run(copy, '--source', 'acct-gen', '--target', 'picked',
                               '--query', 'Subject = "%s"' % subject)
            rc2, picked, _ = run(mapiprofile, 'dump', 'picked')
            got = sum(int(n) for n in re.findall(r' items=(\d+)', picked))
            print('query Subject = %r on the account: %d items, %d in the source' % (subject, got, want))
            if rc != 0 or got != want:
                failures.append('query on the account: exit %d, %d items for %d\n%s'
                                % (rc, got, want, err[-500:]))

        # ------------------------------------------------ a dropped connection
        if sources and sources[0][0] == 'generated':
            rc, source_dump, _ = dump('generated')
            with open(source_dump, encoding='utf-8') as f:
                dump_text = f.read()
            total = sum(len(i) for _, _, i in imap_check.parse_dump(dump_text))
            run(mapiprofile, 'add', 'acct-drop', server.url('drop'))
            proc, reader, output = copy_until_a_third(copy, env, server.port, 'acct-drop',
                                                       'drop', total)
            killed_at = message_total(server.port, 'drop')
            server.kill()
            time.sleep(1.0)
            server.start()
            reader.join(600)
            out, err = output.get('out', ''), output.get('err', '')
            print('drop: server killed at %d of %d messages; copy ended %s'
                  % (killed_at, total, proc.returncode))
            if proc.returncode != 0 or 'Error ' in out or 'Skip folder' in out:
                failures.append('copy across the restart: exit %s\n%s\n%s'
                                % (proc.returncode, out[-2000:], err[-2000:]))
            problems, checked, contents = imap_check.check(server.port, 'drop', PASSWORD, dump_text)
            counts = imap_check.provenance_entries(contents)
            twice = {k: v for k, v in counts.items() if v != 1}
            if problems or twice or checked != total:
                failures.append('after the restart: %d of %d messages, twice: %r\n%s'
                                % (checked, total, twice, '\n'.join(problems[:20])))
            # The run repeated copies nothing again, where the copy keeps a
            # ledger of what the target already holds.
            rc, out, err = run(copy, '--source', 'generated', '--target', 'acct-drop')
            if 'Summary:' in out:
                problems, checked, contents = imap_check.check(server.port, 'drop', PASSWORD,
                                                               dump_text)
                twice = {k: v for k, v in imap_check.provenance_entries(contents).items() if v != 1}
                if rc != 0 or problems or twice:
                    failures.append('repeated run: exit %d, twice %r\n%s' % (rc, twice, out[-1000:]))
            else:
                print('repeated run not checked: this quirnel-copy keeps no ledger')
        # ------------------------------------------------ a server gone for good
        # The run must end soon, failing each item it could not store, and
        # what it reports stored must be what the server holds.
        if sources and sources[0][0] == 'generated':
            run(mapiprofile, 'add', 'acct-gone', server.url('gone'))
            proc, reader, output = copy_until_a_third(copy, env, server.port, 'acct-gone',
                                                       'gone', total)
            server.kill()
            killed = time.monotonic()
            # A session killed while it took a mailbox's dotlock may leave the
            # lock file still empty, without the PID that would show its owner
            # gone: Dovecot then waits for it to turn stale, 120 s after it was
            # made, and a run again into that mailbox waits as long.
            locks = [os.path.relpath(os.path.join(d, f), server.home)
                     for d, _, files in os.walk(os.path.join(server.home, 'gone'))
                     for f in files if f.endswith('.lock') and
                     os.path.getsize(os.path.join(d, f)) == 0]
            reader.join(300)
            took = time.monotonic() - killed
            server.start()
            out = output.get('out', '')
            errors = len(re.findall(r'(?m)^Error ', out))
            # A folder the run could not make is skipped with a line of its
            # own, its items and subfolders with it.
            skipped = re.findall(r'(?m)^Skip folder (.*): ', out)
            errors += sum(len(items) for path, _, items in imap_check.parse_dump(dump_text)
                          if any(path == s or path.startswith(s + '\\') for s in skipped))
            # A folder whose items could not be listed (the target's table
            # read when the server went) is logged with the bare code after
            # its "Copy folder" line; its items, not its subfolders, stay out.
            unlisted = re.findall(r'(?m)^Copy folder (.*) to .*\n(?:MAPI_[EW]_\w+|E_\w+)$', out)
            errors += sum(len(items) for path, _, items in imap_check.parse_dump(dump_text)
                          if path in unlisted)
            stored = message_total(server.port, 'gone', rescan=True)
            # The run's own account must cover every item: what it copied and
            # what it failed. The server may hold one more than it counted as
            # copied: an APPEND the server completed as it went down never got
            # its answer, so that item counted as failed (and the run again
            # below finds it already there, not twice).
            first = re.search(r'(?m)^Summary: .*already there \d+, copied (\d+),', out)
            copied = int(first.group(1)) if first else -1
            print('gone: the run ended %.1f s after the server, %d copied, %d stored, %d failed '
                  'or in %d skipped folders, of %d'
                  % (took, copied, stored, errors, len(skipped), total))
            if (proc.returncode is None or took > 120 or copied + errors != total
                    or stored - copied not in (0, 1) or errors == 0):
                failures.append('server gone: ended after %.1f s, %d copied + %d failed != %d, '
                                'or %d stored\n%s'
                                % (took, copied, errors, total, stored,
                                   output.get('err', '')[-1000:]))
            # The same run once more with the server back: it copies what the
            # first left, and counts what that one stored as already there.
            started = time.monotonic()
            rc, again, err = run(copy, '--source', 'generated', '--target', 'acct-gone')
            again_took = time.monotonic() - started
            there = re.search(r'(?m)^Summary: .*already there (\d+), copied (\d+), failed (\d+)',
                              again)
            problems, checked, contents = imap_check.check(server.port, 'gone', PASSWORD, dump_text)
            twice = {k: v for k, v in imap_check.provenance_entries(contents).items() if v != 1}
            print('gone, run again in %.1f s%s: %s'
                  % (again_took, ', the server kept empty locks %s' % locks if locks else '',
                     there.group(0) if there else 'no summary'))
            # A few thousand small messages to a local server take seconds
            # (a sanitizer build on a busy machine, up to twice the whole copy
            # above); a minute more means a command waited out a timeout.
            if again_took > (150 if locks else 60) + 2 * whole_copy_took:
                failures.append('run again after the server was gone took %.1f s' % again_took)
            if (rc != 0 or not first or not there or int(there.group(1)) != stored
                    or int(there.group(1)) < int(first.group(1))
                    or int(there.group(1)) + int(there.group(2)) != total
                    or int(there.group(3)) != 0 or problems or twice or checked != total):
                failures.append('run again after the server was gone: exit %d, first %s, then %s, '
                                '%d of %d there, twice %r\n%s\n%s'
                                % (rc, first.group(0) if first else None,
                                   there.group(0) if there else None, checked, total, twice,
                                   '\n'.join(problems[:20]), again[-1500:]))

        # ------------------------------------------------ a connection that falls silent
        # Mid-copy, nothing more comes back on the connection in use (an
        # answer lost on the way, a session the server stopped serving):
        # the command in flight gives up within its reply timeout, the run
        # reconnects and retries, and every item arrives exactly once.
        if sources and sources[0][0] == 'generated':
            with hushing_relay.HushingRelay(server.port) as relay:
                run(mapiprofile, 'add', 'acct-hush', 'imap://hush@127.0.0.1:%d' % relay.port)
                proc, reader, output = copy_until_a_third(copy, env, server.port, 'acct-hush',
                                                           'hush', total)
                hushed = relay.hush()
                before = relay.connections
                started = time.monotonic()
                reader.join(600)
                took = time.monotonic() - started
                out = output.get('out', '')
                problems, checked, contents = imap_check.check(server.port, 'hush', PASSWORD,
                                                               dump_text)
                twice = {k: v for k, v in imap_check.provenance_entries(contents).items()
                         if v != 1}
                print('hush: %d connection(s) fell silent (%d bytes of answers lost); the run '
                      'ended %.1f s later after %d new connections, %d of %d there'
                      % (hushed, relay.swallowed, took, relay.connections - before, checked, total))
                # One reply timeout (45 s) and the rest of the copy, allowed
                # twice the time the whole copy took above, since a sanitizer
                # build on a busy machine is slow; the old 120 s, or a LOGOUT
                # that waits out a second timeout before the reconnect, would
                # show here.
                bound = 45 + 40 + 2 * whole_copy_took
                if (proc.returncode != 0 or 'Error ' in out or 'Skip folder' in out or hushed == 0
                        or relay.connections == before or took > bound or problems or twice
                        or checked != total):
                    failures.append('silent connection: exit %s after %.1f s, %d new connections, '
                                    '%d of %d there, twice %r\n%s\n%s\n%s'
                                    % (proc.returncode, took, relay.connections - before, checked,
                                       total,
                                       twice, '\n'.join(problems[:20]), out[-1500:],
                                       output.get('err', '')[-1000:]))

        # ------------------------------------------------ messages the server refuses
        if sources and sources[0][0] == 'generated':
            sizes = sorted(m[2] for ms in imap_check.account_contents(
                server.port, 'gen', PASSWORD)[0].values() for m in ms)
            refused_check(failures, sizes, mapiprofile, copy, tmp, env)
    for f in failures:
        print('FAILED ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
