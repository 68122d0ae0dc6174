#!/usr/bin/env python3
"""A throw-away Dovecot for tests: configuration, users, a certificate
authority and a server certificate made at run time in a temporary
directory, the server started as a child listening on 127.0.0.1 only, and
stopped (or killed, to test a dropped connection) by the test.

    with Dovecot(users={'alice': 'secret'}) as server:
        server.port, server.tls_port, server.ca_file
        server.kill(); server.start()

Mail processes run as the invoking user, or as 'nobody' when that is root
(Dovecot refuses mail access as root); the temporary directory is handed
to that user.
"""
import os
import grp
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time

DOVECOT = shutil.which('dovecot') or '/usr/sbin/dovecot'


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def _make_certificates(where):
    ca_key, ca = os.path.join(where, 'ca.key'), os.path.join(where, 'ca.pem')
    key, csr, cert = (os.path.join(where, n) for n in ('server.key', 'server.csr', 'server.pem'))
    ext = os.path.join(where, 'server.ext')
    with open(ext, 'w') as f:
        f.write('subjectAltName=DNS:localhost,IP:127.0.0.1\n'
                'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n'
                'extendedKeyUsage=serverAuth\n')
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2',
                    '-keyout', ca_key, '-out', ca, '-subj', '/CN=Quirnel test CA'], **quiet)
    subprocess.run(['openssl', 'req', '-newkey', 'rsa:2048', '-nodes', '-keyout', key,
                    '-out', csr, '-subj', '/CN=localhost'], **quiet)
    subprocess.run(['openssl', 'x509', '-req', '-in', csr, '-CA', ca, '-CAkey', ca_key,
                    '-CAcreateserial', '-days', '2', '-extfile', ext, '-out', cert], **quiet)
    return ca, cert, key


class Dovecot:
    def __init__(self, users=None, keep=False, extra=''):
        """extra: configuration text added at the end (plugins, limits)."""
        self.users = dict(users or {'alice': 'secret'})
        self.extra = extra
        self.keep = keep
        self.proc = None

    # ------------------------------------------------------------ set-up
    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix='quirnel-dovecot-')
        os.chmod(self.dir, 0o755)
        if os.getuid() == 0:
            mail_user = pwd.getpwnam('nobody')
        else:
            mail_user = pwd.getpwuid(os.getuid())
        self.uid, self.gid = mail_user.pw_uid, mail_user.pw_gid
        self.port, self.tls_port = free_port(), free_port()
        self.ca_file, cert, key = _make_certificates(self.dir)
        users = os.path.join(self.dir, 'users')
        with open(users, 'w') as f:
            for name, password in self.users.items():
                f.write('%s:{PLAIN}%s::::::\n' % (name, password))
        self.home = os.path.join(self.dir, 'home')
        os.mkdir(self.home)
        for name in self.users:
            os.mkdir(os.path.join(self.home, name))
            os.chown(os.path.join(self.home, name), self.uid, self.gid)
        self.conf = os.path.join(self.dir, 'dovecot.conf')
        me = pwd.getpwuid(os.getuid()).pw_name
        with open(self.conf, 'w') as f:
            f.write(CONFIG.format(dir=self.dir, port=self.port, tls_port=self.tls_port,
                                  cert=cert, key=key, users=users, home=self.home,
                                  uid=self.uid, gid=self.gid,
                                  login_user='dovenull' if os.getuid() == 0 else me,
                                  internal_user='dovecot' if os.getuid() == 0 else me,
                                  internal_group='dovecot' if os.getuid() == 0
                                  else grp.getgrgid(os.getgid()).gr_name,
                                  first_uid=min(self.uid, 500)))
            if os.getuid() != 0:
                # Without root there is no chroot and no changing users.
                f.write(UNPRIVILEGED)
            f.write(self.extra)
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        if not self.keep:
            shutil.rmtree(self.dir, ignore_errors=True)

    # ------------------------------------------------------------ control
    def start(self, timeout=20):
        self.proc = subprocess.Popen([DOVECOT, '-F', '-c', self.conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     start_new_session=True)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError('dovecot ended at start: %s\n%s'
                                   % (self.proc.stderr.read().decode(errors='replace'),
                                      self.log()))
            try:
                with socket.create_connection(('127.0.0.1', self.port), timeout=1) as s:
                    if s.recv(100).startswith(b'* OK'):
                        return
            except OSError:
                time.sleep(0.1)
        self.stop()
        raise RuntimeError('dovecot did not answer on port %d\n%s' % (self.port, self.log()))

    def kill(self):
        """Ends the server and every process of it at once, as a crash would."""
        if self.proc is None:
            return
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.proc.wait()
        self.proc = None
        # The children of the master (login and imap processes) are in its
        # process group; give the kernel a moment to close their sockets.
        time.sleep(0.2)

    def stop(self):
        if self.proc is None:
            return
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        self.kill()

    def log(self):
        try:
            with open(os.path.join(self.dir, 'dovecot.log'), errors='replace') as f:
                return f.read()[-4000:]
        except OSError:
            return ''

    def url(self, user, tls=False, plain=False):
        """imaps:// with tls, imap:// without any TLS with plain, else
        imap://...?starttls."""
        if tls:
            return 'imaps://%s@127.0.0.1:%d' % (user, self.tls_port)
        return 'imap://%s@127.0.0.1:%d%s' % (user, self.port, '' if plain else '?starttls')


CONFIG = r'''
base_dir = {dir}/run
state_dir = {dir}/state
log_path = {dir}/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = yes
ssl_cert = <{cert}
ssl_key = <{key}
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = no
auth_mechanisms = plain login
default_login_user = {login_user}
default_internal_user = {internal_user}
default_internal_group = {internal_group}
first_valid_uid = {first_uid}
mail_location = maildir:~/Maildir
# A throw-away server need not survive a power cut; without a sync per
# message the tests time our side rather than the disk.
mail_fsync = never
mail_uid = {uid}
mail_gid = {gid}
mail_max_userip_connections = 100
imap_max_line_length = 1M
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {users}
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={home}/%u
}}
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {tls_port}
    ssl = yes
  }}
  process_min_avail = 0
}}
service anvil {{
  inet_listener anvil {{
    port = 0
  }}
}}
namespace inbox {{
  inbox = yes
  separator = /
  mailbox Drafts {{
    auto = subscribe
    special_use = \Drafts
  }}
  mailbox "Gesendete Elemente" {{
    auto = subscribe
    special_use = \Sent
  }}
  mailbox Junk {{
    auto = subscribe
    special_use = \Junk
  }}
  mailbox Papierkorb {{
    auto = subscribe
    special_use = \Trash
  }}
}}
'''

UNPRIVILEGED = '''
service imap-login {
  chroot =
}
service anvil {
  chroot =
}
service stats {
  chroot =
}
'''

if __name__ == '__main__':
    # By hand, or for a test in another language: start one, say where it
    # listens on the first line, serve until SIGINT.
    with Dovecot() as d:
        print('dovecot on 127.0.0.1:%d (imaps %d), CA %s, dir %s'
              % (d.port, d.tls_port, d.ca_file, d.dir), flush=True)
        try:
            signal.pause()
        except KeyboardInterrupt:
            pass
