#!/usr/bin/env python3
# Writes the seed inputs of the fuzz targets whose inputs are laid out field
# by field (see each target's "Input:" comment): valid examples taken from the
# unit tests' cases, so that fuzzing starts from inputs that reach deep.
# Run from anywhere; it rewrites only the files it names.
import os
import struct

ROOT = os.path.dirname(os.path.abspath(__file__))


def u8(v): return struct.pack('<B', v & 0xFF)
def u16(v): return struct.pack('<H', v & 0xFFFF)
def u32(v): return struct.pack('<I', v & 0xFFFFFFFF)
def wide(s, nul=True): return s.encode('utf-16-le') + (b'\0\0' if nul else b'')
def text8(b): return u8(len(b)) + b
def text16(b): return u16(len(b)) + b
def units(s): return u8(len(s)) + s.encode('utf-16-le')


def seed(target, name, data):
    os.makedirs(os.path.join(ROOT, target), exist_ok=True)
    with open(os.path.join(ROOT, target, name), 'wb') as f:
        f.write(data)


def device_block(code, status, payload, buffers=()):
    block = u32(code) + u32(status) + u16(len(payload)) + u16(len(buffers)) + u32(0) + payload
    if buffers:
        block += b'\0' * (-len(block) % 8)
        for address, count, flags in buffers:
            block += u32(address) + u32(address >> 32) + u32(count) + u32(flags)
    return block


def share_entry(flags, kind, name, length=None, nul=True):
    body = name + (b'\0' if nul else b'')
    size = 24 + len(body)
    return u32(length if length is not None else size) + u32(flags) + u16(kind) + b'\xee' * 14 + body


# command_payload_fuzz: arg, 18 walk bytes (unresolved, with-appbar, monitor), payload
walk = u8(7) + u8(0b0101) + u32(0) + u32(0) + u32(1920) + u32(1080)
volumes = b'Host Disk C\0Music\0'
seed('command_payload_fuzz', 'volumes', u32(len(volumes)) + walk + volumes + b'\0' * 18)
utf8 = bytes([ord('M'), 0xC3, 0xBC, ord('s'), 0, 0xFF, ord('x'), 0, 0xE2, 0x82, 0])
seed('command_payload_fuzz', 'volumes_utf8', u32(len(utf8)) + walk + utf8)
seed('command_payload_fuzz', 'msgbox', u32(0) + walk + u32(0x40) + wide('Backup done') + wide('Host'))
seed('command_payload_fuzz', 'msgbox_unterminated', u32(0) + walk + u32(0) + wide('abc', False))
seed('command_payload_fuzz', 'msgbox_empty_text', u32(0) + walk + u32(1) + wide('') + wide('Cap'))
indents = b''.join(u32(v) for v in (0, 0, -1, 30, -1, -1, 1920, 0, 5, -1, 0, 7))
seed('command_payload_fuzz', 'indents', u32(48) + walk + indents)
seed('command_payload_fuzz', 'indents_long_arg', u32(24 * 1000) + walk + indents[:24])

# share_list_fuzz: mode 0 = u32 mask + raw answer, mode 1 = entries to build
seed('share_list_fuzz', 'flagged', u8(0) + u32(0x20) + share_entry(0x21, 3, b'Music') +
     share_entry(0x01, 1, b'No') + share_entry(0x20, 9, 'Café'.encode()))
seed('share_list_fuzz', 'padding', u8(0) + u32(0x20) + share_entry(0x20, 2, b'Pad', 40) +
     b'\xab' * 12 + share_entry(0x20, 1, b'Abcd'))
seed('share_list_fuzz', 'no_nul', u8(0) + u32(0x20) + share_entry(0x20, 1, b'Tail', nul=False))
built = b''
for name, flags, kind, pad in ((b'Music', 0x20, 3, 0), (b'Host Disk C', 0x21, 1, 2),
                               (b'x' * 255, 0x20, 4, 1), (b'y' * 256, 0x20, 2, 0)):
    built += u16(len(name)) + u32(flags) + u16(kind) + u8(pad) + name
seed('share_list_fuzz', 'built', u8(1) + built)

# device_answer_fuzz: u32 buffer size, u32 status, u32 code, block
share_ok = device_block(0x8041, 0, u32(62), [(0x1000, 100, 1)])
seed('device_answer_fuzz', 'share_list_done', u32(256) + u32(0) + u32(34) + share_ok)
share_small = device_block(0x8041, 0xF0000009, u32(62), [(0x1000, 256, 1)])
seed('device_answer_fuzz', 'share_list_too_small', u32(256) + u32(0xF0000009) + u32(17) + share_small)
platform = bytearray(248)
platform[0:4], platform[8:12], platform[20:24] = u32(1), u32(1), u32(34)
seed('device_answer_fuzz', 'platform_code', u32(0) + u32(0) + u32(34) + device_block(0x8320, 0, bytes(platform)))
seed('device_answer_fuzz', 'platform_retry',
     u32(0) + u32(0xF0000025) + u32(33) + device_block(0x8320, 0xF0000025, bytes(platform)))
seed('device_answer_fuzz', 'browser_flags', u32(0) + u32(0) + u32(0x00011515) + device_block(0x8502, 0, u32(5) + u32(0x11515)))

# hotkey_value_fuzz: the value's raw bytes
for name, data in (('two', wide('2')), ('blanks_sign', wide(' \t\r\n+42')), ('minus_one', wide('-1')),
                   ('clamped', wide('9999999999', False)), ('lowest', wide('-2147483648', False)),
                   ('after_nul', wide('7') + wide('9', False)), ('nbsp', wide('\u00a01')),
                   ('odd_byte', b'4\x005'), ('dword', b'3\0\0\0')):
    seed('hotkey_value_fuzz', name, data)

# share_names_fuzz: u16 letter, u32 counter, suffix, taken, remote, server, folder, name
links = 'C:\\users\\guest\\Links'
seed('share_names_fuzz', 'host_disk', u16(ord('D')) + u32(3) + u8(0) + u8(2) +
     units('\\\\cvf\\Host Disk D') + units('cvf') + units(links) + units('Music'))
seed('share_names_fuzz', 'media', u16(ord('Z')) + u32(0) + u8(1) + u8(0) +
     units('\\\\cvf\\Media\\Photos') + units('x') + units(links) + units('Café'))
seed('share_names_fuzz', 'cut_names', u16(ord('d')) + u32(12) + u8(2) + u8(5) +
     units('\\\\cvf\\') + units('') + units('C:\\' + 'f' * 245) + units('Documents'))
seed('share_names_fuzz', 'not_plain', u16(ord('A')) + u32(1) + u8(0) + u8(1) +
     units('\\\\cvf') + units('cvf') + units(links) + units('..'))

# host_transfer_fuzz: op, probe, u16 size, failures, u16 reply room, damage,
# u32 damage word, two texts, then answers (state, reply, announced)
def transfer(op, size, texts, answers, probe=0, failures=0, room=0, damage=0, word=0):
    data = u8(op) + u8(probe) + u16(size) + u8(failures) + u16(room) + u8(damage) + u32(word)
    data += b''.join(text8(t) for t in texts)
    return data + b''.join(u8(s) + u8(r) + u8(a) for s, r, a in answers)


identity = (b'corvane.MantletUser.guest.win', b'Guest desktop utilities')
seed('host_transfer_fuzz', 'log_line_chunks', transfer(0, 32, (bytes(48 + i % 10 for i in range(100)), b''), ()))
seed('host_transfer_fuzz', 'log_line_end_call', transfer(0, 64, (b'x' * 10, b''), ((1, 0, 0), (2, 0, 0))))
seed('host_transfer_fuzz', 'registration', transfer(2, 64, identity, ((1, 0, 0), (1, 0, 0), (0, 0, 0))))
seed('host_transfer_fuzz', 'unregistration_16', transfer(3, 16, identity, ((1, 0, 0),) * 5 + ((0, 0, 0),)))
seed('host_transfer_fuzz', 'reply', transfer(4, 64, (b'Z' * 100, b''), ((1, 0, 0), (1, 3, 5), (1, 2, 5), (0, 0, 0)), room=8))
seed('host_transfer_fuzz', 'damaged_channel', transfer(1, 64, (b'abc', b''), (), damage=1, word=0xFFFFFFF5))
seed('host_transfer_fuzz', 'version_1', transfer(2, 64, identity, (), probe=6 | (1 << 3)))
seed('host_transfer_fuzz', 'stuck_host', transfer(4, 64, (b'Z' * 100, b''), ((1, 0, 0),), failures=0x40))

# log_line_fuzz: format, level, stamp (6 x u32), pid, tid, six ints, tag,
# module, two strings (u16 lengths)
def log_line(fmt, level, tag, module, first=b'', second=b'', ints=(0,) * 6,
             stamp=(12, 4, 21, 30, 4, 123), pid=1234, tid=0x1A2C):
    data = u8(fmt) + u8(level) + b''.join(u32(v) for v in stamp) + u32(pid) + u32(tid)
    data += b''.join(u32(v) for v in ints)
    return data + text16(tag) + text16(module) + text16(first) + text16(second)


for old in ('empty_tag', 'long', 'plain', 'qt'):  # an earlier input layout
    path = os.path.join(ROOT, 'log_line_fuzz', old)
    if os.path.exists(path):
        os.remove(path)
seed('log_line_fuzz', 'start', log_line(0, 2, b'MANTLETDLL', b'Mantlet'))
seed('log_line_fuzz', 'msgbox', log_line(5, 3, b'MSGBOX', b'Mantlet', b'Backup done', b'Host', (0x40,) + (0,) * 5))
seed('log_line_fuzz', 'qt_level', log_line(4, 18, b'WEAVE', b'Mantlet', b'TOOL_GUEST_UTILS_REGISTRY_PATH', ints=(5,) * 6))
seed('log_line_fuzz', 'empty_tag_ints', log_line(10, 0, b'', b'Mantlet', ints=(0, 0, -1, 30, -1, -1)))
seed('log_line_fuzz', 'hostile_tag', log_line(1, -1, b'%s%n%x%%', b'M' * 5000, b'%s'))
seed('log_line_fuzz', 'long_text', log_line(1, 2, b'TAG', b'Mantlet', b'x' * 5000))
seed('log_line_fuzz', 'odd_stamp', log_line(7, 40, b'T', b'', ints=(-1,) * 6, stamp=(-1,) * 6, pid=0xFFFFFFFF, tid=0xFFFFFFFF))
