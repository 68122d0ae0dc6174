#!/usr/bin/env python3
"""A TCP relay in front of a test server that can fall silent: after
hush(), each connection open at that moment still carries what the client
sends, but nothing comes back on it, as when an answer is lost on the way
or a server stops answering one session. Connections opened later are
relayed as usual, so a client that gives up and reconnects gets through.
TLS passes through untouched (STARTTLS included): the relay sees only bytes.

    with HushingRelay(server.port) as relay:
        ... 'imap://user@127.0.0.1:%d' % relay.port ...
        relay.hush()
"""
import socket
import threading


class _Pair:
    def __init__(self, client, server):
        self.client, self.server = client, server
        self.hushed = False


class HushingRelay:
    def __init__(self, target_port):
        self.target_port = target_port
        self.connections = 0
        self.swallowed = 0
        self._pairs = []
        self._lock = threading.Lock()

    def __enter__(self):
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(('127.0.0.1', 0))
        self._listener.listen(16)
        self.port = self._listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self._listener.close()
        with self._lock:
            for pair in self._pairs:
                for s in (pair.client, pair.server):
                    try:
                        s.shutdown(socket.SHUT_RDWR)
                    except OSError:
                        pass

    def hush(self):
        """Silences every open connection; returns how many there were."""
        with self._lock:
            for pair in self._pairs:
                pair.hushed = True
            return len(self._pairs)

    def _accept(self):
        while True:
            try:
                client, _ = self._listener.accept()
            except OSError:
                return
            try:
                server = socket.create_connection(('127.0.0.1', self.target_port))
            except OSError:
                client.close()
                continue
            pair = _Pair(client, server)
            with self._lock:
                self.connections += 1
                self._pairs.append(pair)
            threading.Thread(target=self._pump, args=(pair, client, server, False),
                             daemon=True).start()
            threading.Thread(target=self._pump, args=(pair, server, client, True),
                             daemon=True).start()

    def _pump(self, pair, source, sink, answers):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if answers and pair.hushed:
                    with self._lock:
                        self.swallowed += len(data)
                    continue
                try:
                    sink.sendall(data)
                except OSError:
                    if not pair.hushed:
                        raise
        except OSError:
            pass
        # A silent connection stays open, saying nothing, even when its
        # server has gone (a LOGOUT sent into it is never answered); it ends
        # when its client leaves. Otherwise either side leaving ends the
        # pair: a client that gave up must not leave its session behind.
        if answers and pair.hushed:
            return
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        with self._lock:
            if pair in self._pairs:
                self._pairs.remove(pair)
                source.close()
                sink.close()
