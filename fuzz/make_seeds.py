#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/<target>/corpus/). The seeds are our own:
worked reply frames, small record files and request streams built here. Run it again after a
change of the seed list; the files are committed."""

import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def frame(body):
    c = crc16(body)
    return bytes([0x01]) + bytes(body) + bytes([c >> 8, c & 0xFF, 0x04])


def reply(code, data=b""):
    return frame(bytes([0x80, code]) + data)


def request(group, opcode, data=b""):
    return frame(bytes([group, opcode]) + data)


def record(rtype, address, data):
    raw = bytes([len(data), address >> 8, address & 0xFF, rtype]) + bytes(data)
    check = (-sum(raw)) & 0xFF
    return ":" + (raw + bytes([check])).hex().upper() + "\r\n"


def write(target, name, data):
    folder = os.path.join(HERE, target, "corpus")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def receiver_seeds():
    echo = bytes([0x31, 0x97, 0x02, 0x00])  # codeplug address 0x3197, record echo 02 00
    frames = {
        "ack": reply(0x06),
        "nak": reply(0x15, b"\x00\x00"),
        "nak_short_then_self_program": bytes([1, 0x80, 0x15, 4]) + reply(0xA0),
        "detect": reply(0x93, b"\x00\x01\x01"),
        "battery": reply(0x7D, b"\x00\x01\x00"),
        "version": reply(0x71, b"\x00\x05R0103"),
        "model": reply(0x75, b"\x00\x10QXM27TPL4RC8ZN\x00\x00"),
        "serial": reply(0x77, b"\x00\x0aKS24001735"),
        "cp_data": reply(0x03, b"\x31\x97\x00\x01\x6f"),
        "record": reply(0xA2, b"\x02\x00"),
        "status_9a": reply(0x9A, b"\x00\x02\x01\x05"),
        "boot_swap": reply(0xA5),
    }
    for name, data in frames.items():
        write("reply_receiver", name, echo + data)
    mixed = b"\x01\x01" + reply(0x06) + b"\xff\x00\x04" + reply(0x15, b"\x12\x34")
    mixed += reply(0x75, b"\x00\x0fQXM27TPL4RC8ZN\x00") + reply(0x93, b"\x00\x01\x10")
    write("reply_receiver", "mixed_garbage", echo + mixed)


def firmware_seeds():
    boot = "".join(record(0, a, [(a + i) & 0xFF for i in range(16)]) for a in range(0, 0x40, 16))
    app = "".join(record(0, 0x2000 + a, [0x5A ^ i for i in range(16)]) for a in range(0, 0x30, 16))
    high = record(2, 0, [0x10, 0x00]) + record(0, 0x0010, list(range(16)))
    linear = record(4, 0, [0x00, 0x03]) + record(0, 0xFFF0, [0xAB] * 16)
    eof = ":00000001FF\r\n"
    files = {
        "plain": boot + app + eof,
        "segment": boot + high + eof,
        "linear": boot + linear + eof,
        "lower_case": (boot + app).lower() + eof,
        "no_eof": boot + app,
        "bad_checksum": boot[:-4] + "00\r\n" + eof,
        "blank_lines": "\r\n" + boot + "\r\n\r\n" + eof,
        "lf_only": (boot + eof).replace("\r\n", "\n"),
        "trailing_blanks": boot.replace("\r\n", "  \r\n") + eof,
    }
    for name, text in files.items():
        data = text.encode("ascii")
        write("firmware_loader", name + "_8bit", b"\x00" + data)
    write("firmware_loader", "plain_utf16le_bom", b"\x01" + files["plain"].encode("ascii"))
    write("firmware_loader", "segment_utf16le", b"\x02" + files["segment"].encode("ascii"))
    write("firmware_loader", "linear_utf16be_bom", b"\x03" + files["linear"].encode("ascii"))
    raw16 = b"\xff\xfe" + files["plain"].encode("utf-16-le")
    write("firmware_loader", "raw_utf16_file", b"\x00" + raw16)


def radio_seeds():
    d, p = 0x70, 0x75
    run = b"".join(request(d, op) for op in (0x92, 0x7C, 0x74, 0x70, 0x76, 0x22))
    run += request(d, 0x02, b"\x30\x49\x00\x01") + request(d, 0x01, b"\x31\x97\x00\x01\x6f")
    run += request(d, 0x72) + b"".join(request(p, op) for op in (0x67, 0x60, 0x63))
    run += request(p, 0x62, b"\x02\x00" + b"\xff" * 16) + request(p, 0x64)
    run += request(p, 0x62, b"\x01\x00" + b"\x00" * 16)
    run += request(p, 0x65, b"\x00\x00" + b"\x00" * 16) + request(p, 0x61)
    write("sim_radio", "whole_run_bytewise", bytes([0, 0, 0, 0, 0]) + run)
    write("sim_radio", "whole_run_chunks", bytes([23, 0, 0, 0, 0]) + run)
    write("sim_radio", "recovery_faults", bytes([5, 0x05, 3, 0x16, 0]) + run[78:])
    noisy = b"\x01\x01\x70" + run[:12] + b"\x01\x75\x62\x00" + run[12:40] + b"\x04\x04" + run[40:]
    write("sim_radio", "noisy", bytes([7, 0x14, 1, 2, 5]) + noisy)


if __name__ == "__main__":
    for target in ("reply_receiver", "firmware_loader", "sim_radio"):
        shutil.rmtree(os.path.join(HERE, target, "corpus"), ignore_errors=True)
    receiver_seeds()
    firmware_seeds()
    radio_seeds()
