"""A client of the stand-in engine's UI bridge: it plays the user interface of
PelnoVPN.exe over a loopback port (PELNOVPN_UI_BRIDGE_PORT), with method calls in the
Flutter standard method codec.

Frames both ways: 4-byte little-endian length L, then L bytes whose first is the kind
(1 call to a channel, 2 reply to a call, 3 message sent by native code, 4 the engine
properties the library received: asked with the kind byte alone, answered with JSON)."""
import json
import socket
import struct
import time

METHOD_CHANNEL = "pelno_vpn_desk/vpn"
EVENT_CHANNEL = "pelno_vpn_desk/vpn_latency_events"


class Int64(int):
    """An integer sent with the 64-bit type even when it would fit in 32 bits."""


def _size(n):
    if n < 254:
        return bytes([n])
    if n <= 0xFFFF:
        return b"\xfe" + struct.pack("<H", n)
    return b"\xff" + struct.pack("<I", n)


def encode(value, out=None):
    """Standard message codec bytes of None, bool, int, float, str, bytes, list or dict."""
    out = bytearray() if out is None else out
    if value is None:
        out.append(0)
    elif value is True or value is False:
        out.append(1 if value else 2)
    elif isinstance(value, int):
        if not isinstance(value, Int64) and -2**31 <= value < 2**31:
            out += b"\x03" + struct.pack("<i", value)
        else:
            out += b"\x04" + struct.pack("<q", value)
    elif isinstance(value, float):
        out.append(6)
        out += b"\0" * (-len(out) % 8) + struct.pack("<d", value)
    elif isinstance(value, str):
        data = value.encode()
        out += b"\x07" + _size(len(data)) + data
    elif isinstance(value, (bytes, bytearray)):
        out += b"\x08" + _size(len(value)) + value
    elif isinstance(value, (list, tuple)):
        out += b"\x0c" + _size(len(value))
        for item in value:
            encode(item, out)
    elif isinstance(value, dict):
        out += b"\x0d" + _size(len(value))
        for key, item in value.items():
            encode(key, out)
            encode(item, out)
    else:
        raise TypeError(f"cannot encode {type(value).__name__}")
    return out


class _Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError("message cut short")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def size(self):
        first = self.take(1)[0]
        if first < 254:
            return first
        return struct.unpack("<H" if first == 254 else "<I", self.take(2 if first == 254 else 4))[0]

    def align(self, n):
        self.take(-self.pos % n)

    def value(self):
        kind = self.take(1)[0]
        if kind in (0, 1, 2):
            return (None, True, False)[kind]
        if kind in (3, 4):
            return struct.unpack("<i" if kind == 3 else "<q", self.take(4 if kind == 3 else 8))[0]
        if kind == 6:
            self.align(8)
            return struct.unpack("<d", self.take(8))[0]
        if kind in (7, 8):
            data = self.take(self.size())
            return data.decode() if kind == 7 else bytes(data)
        if kind in (9, 10, 11, 14):
            n, (fmt, width) = self.size(), {9: ("i", 4), 10: ("q", 8), 11: ("d", 8), 14: ("f", 4)}[kind]
            self.align(width)
            return list(struct.unpack(f"<{n}{fmt}", self.take(n * width)))
        if kind == 12:
            return [self.value() for _ in range(self.size())]
        if kind == 13:
            return {self.value(): self.value() for _ in range(self.size())}
        raise ValueError(f"unknown type byte {kind}")


def decode(data):
    reader = _Reader(bytes(data))
    value = reader.value()
    if reader.pos != len(reader.data):
        raise ValueError("bytes after the value")
    return value


def decode_envelope(data):
    """A reply or event: ("success", value), ("error", code, message, details), or
    ("not_implemented",) for no bytes."""
    if not data:
        return ("not_implemented",)
    reader = _Reader(bytes(data))
    status = reader.take(1)[0]
    if status == 0:
        return ("success", reader.value())
    return ("error", reader.value(), reader.value(), reader.value())


class UiBridge:
    """One client session. Messages from native code (kind 3) are kept in `events`
    as (arrival number, channel, envelope); replies note their arrival number too."""

    def __init__(self, port, connect_timeout=60.0):
        deadline = time.monotonic() + connect_timeout
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port), timeout=2)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)
        self.next_id, self.arrivals = 1, 0
        self.replies, self.events, self.received_properties = {}, [], []

    def close(self):
        self.sock.close()

    def send(self, method, arguments=None, channel=METHOD_CHANNEL):
        """Sends a method call; returns its id."""
        call_id, self.next_id = self.next_id, self.next_id + 1
        name = channel.encode()
        body = (b"\x01" + struct.pack("<IH", call_id, len(name)) + name +
                encode(method) + encode(arguments))
        self.sock.sendall(struct.pack("<I", len(body)) + body)
        return call_id

    def reply(self, call_id, timeout=60.0):
        """(arrival number, envelope) of the call's reply, reading frames until it comes."""
        deadline = time.monotonic() + timeout
        while call_id not in self.replies:
            self._read_frame(max(deadline - time.monotonic(), 0.01))
        return self.replies.pop(call_id)

    def call(self, method, arguments=None, channel=METHOD_CHANNEL, timeout=60.0):
        return self.reply(self.send(method, arguments, channel), timeout)[1]

    def engine_properties(self, timeout=60.0):
        """What the engine library was created and run with, as a dict (kind 4)."""
        self.sock.sendall(struct.pack("<IB", 1, 4))
        deadline = time.monotonic() + timeout
        while not self.received_properties:
            self._read_frame(max(deadline - time.monotonic(), 0.01))
        return self.received_properties.pop(0)

    def _exactly(self, n, timeout):
        self.sock.settimeout(timeout)
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("the application closed the bridge")
            data += chunk
        return data

    def _read_frame(self, timeout):
        (length,) = struct.unpack("<I", self._exactly(4, timeout))
        frame = self._exactly(length, timeout)
        self.arrivals += 1
        if frame[0] == 2:
            (call_id,) = struct.unpack_from("<I", frame, 1)
            self.replies[call_id] = (self.arrivals, decode_envelope(frame[5:]))
        elif frame[0] == 3:
            (name_length,) = struct.unpack_from("<H", frame, 1)
            channel = frame[3:3 + name_length].decode()
            self.events.append((self.arrivals, channel, decode_envelope(frame[3 + name_length:])))
        elif frame[0] == 4:
            self.received_properties.append(json.loads(frame[1:].decode()))
        else:
            raise ValueError(f"unexpected frame kind {frame[0]}")
