// Resource figures of the host process that Wine 8 does not report through
// the usual calls: GetProcessHandleCount answers 0, GetGuiResources is a stub
// that answers 0, and PROCESS_MEMORY_COUNTERS_EX.PrivateUsage stays 0. Each
// function takes the usual answer when there is one and otherwise counts:
// handles in the system handle list, GDI objects in the process's GDI handle
// table (the one the PEB points at), USER objects as the windows the process
// owns (top-level, their descendants and message-only ones; icons, cursors,
// menus and hooks are not in that figure), and private bytes as the
// committed private pages of the address space. HeapBytesInUse adds up the
// busy blocks of every heap of the process: Wine keeps freed heap pages
// committed, so a block leaked into them shows there and not in the private
// bytes.
#pragma once

#include <cstdint>

unsigned long HandleCount();
unsigned long GdiObjectCount();
unsigned long UserObjectCount();
uint64_t PrivateBytes();
uint64_t HeapBytesInUse();
