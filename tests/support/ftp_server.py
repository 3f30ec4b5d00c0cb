#!/ usr / bin / python3
"""A loopback FTP server for the tests (pyftpdlib).

Prints the port it listens on as one line, then serves until terminated. Every command the
client sends is appended to the --log file, one per line, as received.
"""
import argparse
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class DosListingFS(AbstractedFS):
    """LIST in the MS-DOS form ("11-14-23  10:13PM  <DIR>  name") instead of the Unix one."""

    def format_list(self, basedir, listing, ignore_err=True):
        for name in listing:
            st = os.stat(os.path.join(basedir, name))
            when = time.strftime("%m-%d-%y  %I:%M%p", time.gmtime(st.st_mtime))
            size = "<DIR>" if os.path.isdir(os.path.join(basedir, name)) else str(st.st_size)
            yield ("%s %14s %s\r\n" % (when, size, name)).encode("utf8")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", action="append", default=[], help="name:password")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--banner", default="loopback ftp", help="lines separated by |")
    parser.add_argument("--no-size", action="store_true", help="answer SIZE with 502")
    parser.add_argument("--refuse-port", action="store_true", help="answer PORT with 500")
    parser.add_argument("--log", help="file receiving every command line")
    parser.add_argument("--unknown", action="append", default=[],
                        help="a command the server does not know (500), left out of FEAT")
    parser.add_argument("--dos-list", action="store_true", help="LIST in the MS-DOS form")
    parser.add_argument("--reply-delay-ms", type=int, default=0,
                        help="answer every command this much later (a slow server)")
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
            time.sleep(args.reply_delay_ms / 1000.0)
            if cmd == "SIZE" and args.no_size:
                self.respond("502 Command not implemented.")
                return
            if cmd == "PORT" and args.refuse_port:
                self.respond("500 Active mode refused.")
                return
            super().pre_process_command(line, cmd, arg)

    Handler.authorizer = authorizer
    Handler.proto_cmds = {name: value for name, value in FTPHandler.proto_cmds.items()
                          if name not in args.unknown}
    if args.dos_list:
        Handler.abstracted_fs = DosListingFS
    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
