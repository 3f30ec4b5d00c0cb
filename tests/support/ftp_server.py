#!/ usr / bin / python3
"""A loopback FTP server for the tests (pyftpdlib).

Prints the port it listens on as one line, then serves until terminated. Every command the
client sends is appended to the --log file, one per line, as received.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", action="append", default=[], help="name:password")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--banner", default="loopback ftp", help="lines separated by |")
    parser.add_argument("--no-size", action="store_true", help="answer SIZE with 502")
    parser.add_argument("--refuse-port", action="store_true", help="answer PORT with 500")
    parser.add_argument("--log", help="file receiving every command line")
    args = parser.parse_args()
    logging.basicConfig(level=logging.ERROR)

    authorizer = DummyAuthorizer()
    for entry in args.user:
        name, _, password = entry.partition(":")
        authorizer.add_user(name, password, args.root, perm="elr")
    if args.anonymous:
        authorizer.add_anonymous(args.root)

    class Handler(FTPHandler):
        banner = "\n".join(args.banner.split("|"))
        auth_failed_timeout = 0

        def pre_process_command(self, line, cmd, arg):
            if args.log:
                with open(args.log, "a") as log:
                    log.write(line + "\n")
            if cmd == "SIZE" and args.no_size:
                self.respond("502 Command not implemented.")
                return
            if cmd == "PORT" and args.refuse_port:
                self.respond("500 Active mode refused.")
                return
            super().pre_process_command(line, cmd, arg)

    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
