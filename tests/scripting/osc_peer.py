#!/usr/bin/env python3
"""An OSC peer for the tests, independent of the module's OSC code: packets
are built and parsed by hand here (OSC 1.0: messages, bundles, i f s d h T F N).

Commands come one per line on standard input, fields separated by tabs; each
answer ends with a line that starts with "end" or "ok" or "error".

  open                                -> "socket <k> <port>"   (a new socket on 127.0.0.1)
  send <port> <address> <tags> <args...>
  sendbundle <port> <address> <tags> <args...>   (the message inside a bundle)
  sendfrom <k> <port> <address> <tags> <args...> (from socket k)
  raw <port> <hex bytes>
  recv <k> <count> <timeout ms>       -> "msg\t<address>\t<tags>\t<args...>" lines, then "end <n>"
  drain <k>                           -> discards what socket k holds; "end <n>"
"""
import socket
import struct
import sys
import time


def pad(data):
    return data + b"\0" * (4 - len(data) % 4)


def osc_string(text):
    return pad(text.encode("utf-8"))


def build_message(address, tags, args):
    payload = b""
    values = iter(args)
    for tag in tags:
        if tag in "TFN":
            continue
        arg = next(values)
        if tag == "i":
            payload += struct.pack(">i", int(arg))
        elif tag == "f":
            payload += struct.pack(">f", float(arg))
        elif tag == "d":
            payload += struct.pack(">d", float(arg))
        elif tag == "h":
            payload += struct.pack(">q", int(arg))
        elif tag == "s":
            payload += osc_string(arg)
        elif tag == "b":
            blob = bytes.fromhex(arg)
            payload += struct.pack(">i", len(blob)) + blob + b"\0" * ((4 - len(blob) % 4) % 4)
    return osc_string(address) + osc_string("," + tags) + payload


def build_bundle(elements):
    data = b"#bundle\0" + struct.pack(">Q", 1)
    for element in elements:
        data += struct.pack(">i", len(element)) + element
    return data


def read_string(data, at):
    end = data.index(b"\0", at)
    text = data[at:end].decode("utf-8", "replace")
    return text, (end + 4) & ~3


def parse(data, out):
    if data.startswith(b"#bundle\0"):
        at = 16
        while at + 4 <= len(data):
            (size,) = struct.unpack(">i", data[at:at + 4])
            parse(data[at + 4:at + 4 + size], out)
            at += 4 + size
        return
    address, at = read_string(data, 0)
    tags, at = read_string(data, at)
    tags = tags[1:]
    args = []
    for tag in tags:
        if tag == "i":
            args.append(str(struct.unpack(">i", data[at:at + 4])[0]))
            at += 4
        elif tag == "f":
            args.append(repr(struct.unpack(">f", data[at:at + 4])[0]))
            at += 4
        elif tag == "d":
            args.append(repr(struct.unpack(">d", data[at:at + 8])[0]))
            at += 8
        elif tag == "h":
            args.append(str(struct.unpack(">q", data[at:at + 8])[0]))
            at += 8
        elif tag == "s":
            text, at = read_string(data, at)
            args.append(text.replace("\t", " ").replace("\n", " "))
        elif tag in "TFN":
            args.append(tag)
        else:
            args.append("?")
    out.append("\t".join(["msg", address, tags] + args))


def main():
    sockets = []

    def new_socket():
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        sockets.append(s)
        return len(sockets) - 1

    new_socket()
    for line in sys.stdin:
        fields = line.rstrip("\n").split("\t")
        command = fields[0]
        try:
            if command == "open":
                k = new_socket()
                print("socket %d %d" % (k, sockets[k].getsockname()[1]))
            elif command in ("send", "sendbundle", "sendfrom"):
                sender = sockets[0]
                if command == "sendfrom":
                    sender = sockets[int(fields[1])]
                    fields = fields[1:]
                port, address, tags = int(fields[1]), fields[2], fields[3]
                packet = build_message(address, tags, fields[4:])
                if command == "sendbundle":
                    packet = build_bundle([packet])
                sender.sendto(packet, ("127.0.0.1", port))
                print("ok")
            elif command == "raw":
                sockets[0].sendto(bytes.fromhex(fields[2]), ("127.0.0.1", int(fields[1])))
                print("ok")
            elif command == "recv":
                k, count, timeout = int(fields[1]), int(fields[2]), float(fields[3]) / 1000.0
                s = sockets[k]
                got = []
                deadline = time.monotonic() + timeout
                while len(got) < count:
                    remaining = deadline - time.monotonic()
                    if remaining <= 0:
                        break
                    s.settimeout(remaining)
                    try:
                        data = s.recv(65536)
                    except socket.timeout:
                        break
                    parse(data, got)
                for message in got:
                    print(message)
                print("end %d" % len(got))
            elif command == "drain":
                s = sockets[int(fields[1])]
                s.setblocking(False)
                n = 0
                try:
                    while True:
                        s.recv(65536)
                        n += 1
                except BlockingIOError:
                    pass
                s.setblocking(True)
                print("end %d" % n)
            else:
                print("error unknown command")
        except Exception as e:  # the test sees the text
            print("error %s" % str(e).replace("\n", " "))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
