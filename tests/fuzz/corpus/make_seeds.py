#!/usr/bin/env python3
# Writes the seed inputs of the fuzz targets whose inputs are laid out field
# by field (see each target's "Input:" comment): valid examples taken from the
# unit tests' cases, so that fuzzing starts from inputs that reach deep.
# Run from anywhere; it rewrites only the files it names.
import os
import struct

ROOT = os.path.dirname(os.path.abspath(__file__))


def u8(v): return struct.pack('<B', v & 0xFF)
def u32(v): return struct.pack('<I', v & 0xFFFFFFFF)
def text(b): return u32(len(b)) + b
def utf8(s): return text(s.encode())


def seed(target, name, data):
    os.makedirs(os.path.join(ROOT, target), exist_ok=True)
    with open(os.path.join(ROOT, target, name), 'wb') as f:
        f.write(data)


def device_block(code, status, payload, buffers=()):
    block = u32(code) + u32(status) + struct.pack('<HH', len(payload), len(buffers)) + u32(0) + payload
    if buffers:
        block += b'\0' * (-len(block) % 8)
        for address, count, flags in buffers:
            block += u32(address) + u32(address >> 32) + u32(count) + u32(flags)
    return block


def share_entry(flags, kind, name, length=None, nul=True):
    body = name + (b'\0' if nul else b'')
    size = 24 + len(body)
    return u32(length if length is not None else size) + u32(flags) + struct.pack('<H', kind) + b'\xee' * 14 + body


# device_answer_fuzz: u32 buffer size (also the share list's flag mask), block
share_ok = device_block(0x8041, 0, u32(62), [(0x1000, 100, 1)])
seed('device_answer_fuzz', 'share_list_done', u32(256) + share_ok)
share_small = device_block(0x8041, 0xF0000009, u32(62), [(0x1000, 256, 1)])
seed('device_answer_fuzz', 'share_list_too_small', u32(256) + share_small)
platform = bytearray(248)
platform[0:4], platform[8:12], platform[20:24] = u32(1), u32(1), u32(34)
seed('device_answer_fuzz', 'platform_code', u32(0) + device_block(0x8320, 0, bytes(platform)))
seed('device_answer_fuzz', 'platform_retry', u32(0) + device_block(0x8320, 0xF0000025, bytes(platform)))
seed('device_answer_fuzz', 'browser_flags', u32(0) + device_block(0x8502, 0, u32(5) + u32(0x11515)))
seed('device_answer_fuzz', 'share_list_flagged', u32(0x20) + share_entry(0x21, 3, b'Music') +
     share_entry(0x01, 1, b'No') + share_entry(0x20, 9, 'Café'.encode()))
seed('device_answer_fuzz', 'share_list_padding', u32(0x20) + share_entry(0x20, 2, b'Pad', 40) +
     b'\xab' * 12 + share_entry(0x20, 1, b'Abcd'))
seed('device_answer_fuzz', 'share_list_no_nul', u32(0x20) + share_entry(0x20, 1, b'Tail', nul=False))

# share_names_fuzz: suffix choice, names taken, remote, folder, name
links = 'C:\\users\\guest\\Links'
seed('share_names_fuzz', 'host_disk', u8(0) + u8(2) + utf8('\\\\cvf\\Host Disk D') + utf8(links) + utf8('Music'))
seed('share_names_fuzz', 'media', u8(1) + u8(0) + utf8('\\\\cvf\\Media\\Photos') + utf8(links) + utf8('Café'))
seed('share_names_fuzz', 'cut_names', u8(0) + u8(5) + utf8('\\\\cvf\\') + utf8('C:\\' + 'f' * 245) + utf8('Documents'))
seed('share_names_fuzz', 'not_plain', u8(1) + u8(1) + utf8('\\\\cvf') + utf8(links) + utf8('..'))

# host_transfer_fuzz: op (0 log line, 1 on an open channel, 2 message, 3
# announcement), reply room, transfer size, failures, text, then per call
# reply bytes, announced length, state
def transfer(op, size, data, answers, room=0, failures=0):
    head = u8(op) + u8(room) + u8(size) + u8(failures) + text(data)
    return head + b''.join(u8(r) + u8(a) + u8(s) for r, a, s in answers)


seed('host_transfer_fuzz', 'log_line_chunks', transfer(0, 32, bytes(48 + i % 10 for i in range(100)), ()))
seed('host_transfer_fuzz', 'log_line_end_call', transfer(0, 64, b'x' * 10, ((0, 0, 1), (0, 0, 2))))
seed('host_transfer_fuzz', 'log_line_channel', transfer(1, 20, b'abc' * 20, ((0, 0, 1),) * 3))
seed('host_transfer_fuzz', 'registration', transfer(3, 64, b'corvane.MantletUser.guest.win', ((0, 0, 1),) * 2))
seed('host_transfer_fuzz', 'unregistration_16', transfer(3, 16, b'corvane', ((0, 0, 1),) * 5, room=1))
seed('host_transfer_fuzz', 'reply', transfer(2, 64, b'Z' * 100, ((0, 0, 1), (3, 5, 1), (2, 5, 1), (0, 0, 0)), room=8))
seed('host_transfer_fuzz', 'stuck_host', transfer(2, 64, b'Z' * 100, ((0, 0, 1),) * 1100, room=8))
seed('host_transfer_fuzz', 'unlock_fails', transfer(2, 64, b'Z' * 10, (), failures=4))

# log_line_fuzz: text, level, month, milliseconds, tag, module
def log_line(level, tag, module, message=b'', month=12, ms=123):
    return text(message) + u8(level) + u32(month) + u32(ms) + text(tag) + text(module)


seed('log_line_fuzz', 'start', log_line(2, b'MANTLETDLL', b'Mantlet', b'Start desktop utilities tool'))
seed('log_line_fuzz', 'qt_level', log_line(18, b'WEAVE', b'Mantlet', b'TOOL_GUEST_UTILS_REGISTRY_PATH'))
seed('log_line_fuzz', 'empty_tag', log_line(0, b'', b'Mantlet', b'text'))
seed('log_line_fuzz', 'hostile_tag', log_line(-1, b'%s%n%x%%', b'M' * 5000, b'%s'))
seed('log_line_fuzz', 'long_text', log_line(1, b'TAG', b'Mantlet', b'x' * 5000))
seed('log_line_fuzz', 'odd_stamp', log_line(40, b'T', b'', month=-1, ms=-1))
