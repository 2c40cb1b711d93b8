#!/usr/bin/python3
"""Servers for the site check's tests, on the loopback interface only.

    testserver.py ftp ROOT USER PASSWORD [CERT KEY]   FTP; with CERT and KEY
                                                      explicit TLS, demanded
    testserver.py ftps ROOT USER PASSWORD CERT KEY    FTP over implicit TLS
    testserver.py sftp ROOT USER PASSWORD HOSTKEY     SFTP (paramiko)
    testserver.py http ROOT [CERT KEY]                HTTP, or HTTPS
    testserver.py silent                              accepts, never answers

Each binds a free port on 127.0.0.1, prints it on a line of its own once
it serves, and runs until it is terminated."""

import os
import socket
import ssl
import sys
import threading
import time


def ready(port):
    print(port, flush=True)


def ftp(root, user, password, cert=None, key=None, implicit=False):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
    from pyftpdlib.servers import FTPServer
    import logging
    logging.disable(logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmw")
    handler = FTPHandler
    if cert:
        class Tls(TLS_FTPHandler):
            pass
        Tls.certfile, Tls.keyfile = cert, key
        Tls.tls_control_required = Tls.tls_data_required = True
        if implicit:
            # Implicit TLS: the handshake comes before the greeting.
            class Implicit(Tls):
                def handle(self):
                    self.secure_connection(self.ssl_context)
                def handle_ssl_established(self):
                    Tls.handle(self)
            handler = Implicit
        else:
            handler = Tls
    handler.authorizer = authorizer
    handler.passive_ports = None
    server = FTPServer(("127.0.0.1", 0), handler)
    ready(server.address[1])
    server.serve_forever()


def sftp(root, user, password, hostkey):
    import paramiko

    class Server(paramiko.ServerInterface):
        def check_auth_password(self, name, given):
            ok = name == user and given == password
            return paramiko.AUTH_SUCCESSFUL if ok else paramiko.AUTH_FAILED

        def get_allowed_auths(self, name):
            return "password"

        def check_channel_request(self, kind, chanid):
            return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    class Handle(paramiko.SFTPHandle):
        def stat(self):
            return paramiko.SFTPAttributes.from_stat(os.fstat(self.readfile.fileno()))

    class Files(paramiko.SFTPServerInterface):
        def real(self, path):
            return os.path.join(root, os.path.normpath("/" + path).lstrip("/"))

        def canonicalize(self, path):
            return os.path.normpath("/" + path)

        def list_folder(self, path):
            try:
                folder = self.real(path)
                found = []
                for name in os.listdir(folder):
                    attributes = paramiko.SFTPAttributes.from_stat(os.stat(os.path.join(folder, name)))
                    attributes.filename = name
                    found.append(attributes)
                return found
            except OSError as error:
                return paramiko.SFTPServer.convert_errno(error.errno)

        def stat(self, path):
            try:
                return paramiko.SFTPAttributes.from_stat(os.stat(self.real(path)))
            except OSError as error:
                return paramiko.SFTPServer.convert_errno(error.errno)

        lstat = stat

        def open(self, path, flags, attr):
            try:
                fd = os.open(self.real(path), flags, 0o644)
                handle = Handle(flags)
                mode = "wb" if flags & os.O_WRONLY else "r+b" if flags & os.O_RDWR else "rb"
                handle.readfile = handle.writefile = os.fdopen(fd, mode)
                return handle
            except OSError as error:
                return paramiko.SFTPServer.convert_errno(error.errno)

        def remove(self, path):
            try:
                os.remove(self.real(path))
                return paramiko.SFTP_OK
            except OSError as error:
                return paramiko.SFTPServer.convert_errno(error.errno)

    key = paramiko.RSAKey.from_private_key_file(hostkey)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    ready(listener.getsockname()[1])

    def serve(connection):
        transport = paramiko.Transport(connection)
        transport.add_server_key(key)
        transport.set_subsystem_handler("sftp", paramiko.SFTPServer, Files)
        try:
            transport.start_server(server=Server())
            while transport.is_active():
                time.sleep(0.2)
        except Exception:
            pass

    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection,), daemon=True).start()


def http(root, cert=None, key=None):
    import functools
    import http.server

    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=root))
    if cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    ready(server.server_address[1])
    server.serve_forever()


def silent():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    ready(listener.getsockname()[1])
    held = []
    while True:
        held.append(listener.accept()[0])


if __name__ == "__main__":
    kind, args = sys.argv[1], sys.argv[2:]
    if kind == "ftp":
        ftp(*args)
    elif kind == "ftps":
        ftp(*args, implicit=True)
    elif kind == "sftp":
        sftp(*args)
    elif kind == "http":
        http(*args)
    elif kind == "silent":
        silent()
    else:
        sys.exit("unknown server " + kind)
