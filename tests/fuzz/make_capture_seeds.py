#!/usr/bin/env python3
"""Writes the seed capture files of fuzz_capture_file: tiny pcap files of each
link type the reader takes, in both byte orders and timestamp precisions, and
one pcapng file, and compressed copies of one (gzip and xz here; zstd and lz4
by their tools when present). Run once; the files are committed."""
import gzip
import lzma
import pathlib
import shutil
import struct
import subprocess

OUT = pathlib.Path(__file__).resolve().parent / "corpus_capture_file"


def checksum(header):
    total = sum(struct.unpack("!10H", header))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ipv4(protocol, transport, payload, source=(10, 0, 0, 1), destination=(10, 0, 0, 2)):
    body = transport + payload
    header = struct.pack("!BBHHHBBH4B4B", 0x45, 0, 20 + len(body), 1, 0, 64, protocol, 0, *source, *destination)
    return header[:10] + struct.pack("!H", checksum(header)) + header[12:] + body


def udp(payload, ports=(40000, 53)):
    return ipv4(17, struct.pack("!HHHH", *ports, 8 + len(payload), 0), payload)


def tcp(payload, ports=(40001, 80)):
    return ipv4(6, struct.pack("!HHIIBBHHH", *ports, 1, 0, 0x50, 0x18, 1024, 0, 0), payload)


def icmp(payload):
    return ipv4(1, struct.pack("!BBHHH", 8, 0, 0, 1, 1), payload)


MACS = bytes.fromhex("020000000002" "020000000001")


def ethernet(datagram, ethertype=0x0800, tags=()):
    frame = MACS + b"".join(struct.pack("!HH", tpid, 100) for tpid in tags)
    return frame + struct.pack("!H", ethertype) + datagram


def pcap(name, linktype, frames, endian="<", nanoseconds=False, times=None):
    magic = 0xA1B23C4D if nanoseconds else 0xA1B2C3D4
    data = struct.pack(endian + "IHHiIII", magic, 2, 4, 0, 0, 65535, linktype)
    for i, frame in enumerate(frames):
        seconds, fraction = times[i] if times else (1700000000, i)
        data += struct.pack(endian + "IIII", seconds, fraction, len(frame), len(frame)) + frame
    (OUT / name).write_bytes(data)


def pcapng_option(code, value):
    return struct.pack("<HH", code, len(value)) + value + b"\0" * (-len(value) % 4)


def pcapng(name, linktype, frames, interfaces=(b"",), times=None):
    """interfaces holds each interface's options (if_tsresol, if_tsoffset);
    times the (interface, 64-bit time) of each frame."""
    data = struct.pack("<IIIHHqI", 0x0A0D0D0A, 28, 0x1A2B3C4D, 1, 0, -1, 28)
    for options in interfaces:
        if options:
            options += pcapng_option(0, b"")
        data += struct.pack("<IIHHI", 1, 20 + len(options), linktype, 0, 65535) + options
        data += struct.pack("<I", 20 + len(options))
    for i, frame in enumerate(frames):
        interface, time = times[i] if times else (0, 0)
        padded = frame + b"\0" * (-len(frame) % 4)
        length = 32 + len(padded)
        data += struct.pack("<IIIIIII", 6, length, interface, time >> 32, time & 0xFFFFFFFF, len(frame),
                            len(frame)) + padded
        data += struct.pack("<I", length)
    (OUT / name).write_bytes(data)


def far_times():
    """Times far past what 64 bits of nanoseconds hold, at every kind of
    resolution: microseconds and nanoseconds in pcap; in pcapng the default
    microseconds, whole seconds, nanoseconds, picoseconds, powers of two, and
    an offset in seconds."""
    top = 0xFFFFFFFF
    pcap("far_times.pcap", 228, [udp(b"late"), udp(b"latest")], times=[(top, 999999), (top, top)])
    pcap("far_times_nanoseconds.pcap", 228, [udp(b"late"), udp(b"latest")], nanoseconds=True,
         times=[(top, 999999999), (top, top)])
    resolutions = [b"", pcapng_option(9, b"\x00"), pcapng_option(9, b"\x09"), pcapng_option(9, b"\x0c"),
                   pcapng_option(9, b"\x80"), pcapng_option(9, b"\xbf"),
                   pcapng_option(9, b"\x00") + pcapng_option(14, struct.pack("<q", 2**62))]
    times = [10**18, 2**63 - 1, 2**64 - 1]
    frames = [(interface, time) for interface in range(len(resolutions)) for time in times]
    pcapng("far_times.pcapng", 228, [udp(b"far")] * len(frames), resolutions, frames)


def main():
    OUT.mkdir(exist_ok=True)
    arp = bytes.fromhex("0001080006040001") + bytes(20)
    pcap("ethernet.pcap", 1, [
        ethernet(udp(b"hello")),
        ethernet(tcp(b"GET /")),
        ethernet(icmp(b"ping")) + bytes(8),  # link padding
        ethernet(udp(b"tagged"), tags=(0x8100,)),
        ethernet(arp, ethertype=0x0806),
    ])
    pcap("linux_sll_bigendian.pcap", 113, [
        bytes.fromhex("0000000100060200000000010000") + struct.pack("!H", 0x0800) + udp(b"cooked"),
    ], endian=">")
    pcap("linux_sll2.pcap", 276, [
        struct.pack("!H", 0x0800) + bytes.fromhex("000000000002000104060200000000010000") + tcp(b"two"),
    ])
    pcap("null.pcap", 0, [struct.pack("<I", 2) + icmp(b"null")])
    pcap("loop.pcap", 108, [struct.pack(">I", 2) + udp(b"loop")])
    ipv6 = bytes.fromhex("60000000000011400000000000000000000000000000000100000000000000000000000000000001")
    pcap("raw_nanoseconds.pcap", 101, [udp(b"raw"), ipv6], nanoseconds=True)
    pcap("ipv4.pcap", 228, [tcp(b"")])
    pcapng("ethernet.pcapng", 1, [ethernet(udp(b"ng")), ethernet(icmp(b""))])
    pcap("ppp.pcap", 9, [b"\xff\x03\x00\x21" + udp(b"ppp"), b"\x21" + tcp(b"short")])
    pcap("ppp_hdlc.pcap", 50, [b"\xff\x03\x00\x21" + udp(b"hdlc"), b"\x8f\x00\x08\x00" + icmp(b"cisco")])
    pcap("c_hdlc.pcap", 104, [b"\x0f\x00\x08\x00" + udp(b"chdlc")])
    pcap("slip.pcap", 8, [b"\x00\x40" + bytes(14) + udp(b"slip")])
    snap = bytes.fromhex("aaaa030000000800")
    wifi = bytes.fromhex("0801") + bytes(2) + bytes(18) + bytes(2)
    qos = bytes.fromhex("8803") + bytes(2) + bytes(18) + bytes(2) + bytes(6) + bytes(2)
    pcap("ieee802_11.pcap", 105, [wifi + snap + udp(b"wifi"), qos + snap + tcp(b"qos")])
    radiotap = bytes([0, 0, 32, 0]) + struct.pack("<II", 0x80000003, 0) + bytes(4) + bytes(8) + b"\x30" + bytes(7)
    pcap("radiotap.pcap", 127, [bytes([0, 0, 8, 0]) + bytes(4) + wifi + snap + udp(b"radiotap"),
                                radiotap + bytes.fromhex("8801") + bytes(22) + bytes(2) + bytes(2) + snap
                                + icmp(b"padded") + bytes(4)])
    far_times()
    compressed("ethernet.pcapng")


def compressed(name):
    data = (OUT / name).read_bytes()
    (OUT / (name + ".gz")).write_bytes(gzip.compress(data, mtime=0))
    (OUT / (name + ".xz")).write_bytes(lzma.compress(data))
    for tool, suffix, output in (("zstd", ".zst", "-o"), ("lz4", ".lz4", "")):
        if shutil.which(tool):
            target = [output, str(OUT / (name + suffix))] if output else [str(OUT / (name + suffix))]
            subprocess.run([tool, "-q", "-f", str(OUT / name)] + target, check=True)


if __name__ == "__main__":
    main()
