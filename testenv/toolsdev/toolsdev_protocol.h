/*
 * Control protocol of the tools device stand-in ("\\.\cvn_tg").
 *
 * The stand-in is a kernel driver hosted by Wine. It answers the module's
 * requests (control code TD_IOCTL_REQUEST, a DeviceRequest block as input and
 * output) and is driven by tests through the TD_IOCTL_* control codes below,
 * sent on a handle of their own. Shared by the driver (C) and the user-mode
 * client library (C++); no Windows headers needed beyond <stdint.h>.
 */
#ifndef TESTENV_TOOLSDEV_PROTOCOL_H
#define TESTENV_TOOLSDEV_PROTOCOL_H

#include <stdint.h>

#define TD_DEVICE_PATH_W L"\\\\.\\cvn_tg"
#define TD_SERVICE_NAME_W L"cvn_tg"

#define TD_CTL(fn) ((0x22u << 16) | (2u << 14) | ((uint32_t)(fn) << 2) | 0u)

/* The request code the module uses (METHOD_BUFFERED). */
#define TD_IOCTL_REQUEST TD_CTL(0x801) /* 0x22A004 */

/* Test controls (all METHOD_BUFFERED). */

/* in: none. Drops records and responses, completes pending host waits with
 * STATUS_CANCELLED, ends a hang (TD_IOCTL_SET_HANG) and makes requests
 * uncancellable again (TD_IOCTL_SET_CANCELLABLE): the strict default. */
#define TD_IOCTL_RESET TD_CTL(0x901)
/* in: TdFireEvent. out: uint32 number of host waits completed. */
#define TD_IOCTL_FIRE_EVENT TD_CTL(0x902)
/* out: TdStats. */
#define TD_IOCTL_GET_STATS TD_CTL(0x903)
/* in: TdReadRecords. out: TdRecordHeader + data, repeated: as many whole
 * records as fit, oldest first; 0 bytes = no more. STATUS_BUFFER_TOO_SMALL
 * when not even the first fits. */
#define TD_IOCTL_READ_RECORDS TD_CTL(0x904)
/* in: TdResponse followed by patch bytes then descriptor bytes. */
#define TD_IOCTL_SET_RESPONSE TD_CTL(0x905)
/* in: TdWaitRecord. Pends until a record with seq > afterSeq (and the code,
 * when not 0) exists. out: uint32 seq of that record, followed by the record
 * (TdRecordHeader + data, as it was when the wait completed) when the output
 * has room for it. */
#define TD_IOCTL_WAIT_RECORD TD_CTL(0x907)
/* out: TdCopyOrder + bytes. Pends until a request needs descriptor data
 * written. An output too small for the bytes gets the TdCopyOrder alone and
 * STATUS_BUFFER_OVERFLOW (ERROR_MORE_DATA); the order waits for a larger
 * slot. */
#define TD_IOCTL_COPIER_WAIT TD_CTL(0x908)
/* in: TdCopyDone. Completes the request the order belonged to;
 * STATUS_NOT_FOUND when that request is gone. */
#define TD_IOCTL_COPIER_DONE TD_CTL(0x909)
/* in: uint32 1 or 0. Whether requests the device holds pending (host waits,
 * delayed answers, descriptor copies) that are queued from now on can be
 * cancelled: 1 gives them a cancel routine, so CancelIo/CancelIoEx end them
 * with STATUS_CANCELLED (ERROR_OPERATION_ABORTED); 0, the default, gives them
 * none, as a tools device has none, so only the close of their handle ends
 * them and a caller that waits for one after CancelIo waits for ever. The
 * test controls that pend (TD_IOCTL_WAIT_RECORD, TD_IOCTL_COPIER_WAIT) can
 * always be cancelled. */
#define TD_IOCTL_SET_CANCELLABLE TD_CTL(0x90A)
/* in: uint32 milliseconds. Hangs the device for that long (from now, also
 * when it already hangs), for as long as no later control ends it with
 * TD_HANG_UNTIL_TOLD, or ends a hang now with 0. While it hangs, the device
 * answers no TD_IOCTL_REQUEST at all: each is recorded and held, and so are
 * the requests it was already holding (host waits, delayed answers, copies);
 * nothing ends a held request, not CancelIo, not the close of its handle,
 * not TD_IOCTL_FIRE_EVENT, and scripted responses are left for later
 * requests. The test controls keep working. When the hang ends (its time is
 * up, TD_IOCTL_SET_HANG 0, TD_IOCTL_RESET, or the driver unloads) every held
 * request fails with STATUS_DEVICE_NOT_READY (ERROR_NOT_READY 21), so none
 * stays pending for ever: the device came back having lost them. */
#define TD_IOCTL_SET_HANG TD_CTL(0x90B)
#define TD_HANG_UNTIL_TOLD 0xFFFFFFFFu

#define TD_HOST_EVENT_CODE 0x8040u

/* Block status written when a response carries descriptor data but no copier
 * is registered (no open handle has sent TD_IOCTL_COPIER_WAIT) to write it
 * into the caller's process, or the last copier went away before reporting. */
#define TD_STATUS_NO_COPIER 0xF00000CCu
/* Block status written when a response carries descriptor data and the block
 * has no first descriptor inside it, or that descriptor lacks flag bit 0
 * (device writes). */
#define TD_STATUS_BAD_DESCRIPTOR 0xF00000CDu
/* Block status written when the copier reported that it could not write the
 * data (TdCopyDone.ok = 0: the address is not writable in its process). */
#define TD_STATUS_COPY_FAILED 0xF00000CEu

/* Default behaviour when no response is scripted for a code: status 0, block
 * returned unchanged. Host waits (0x8040) pend until TD_IOCTL_FIRE_EVENT or
 * the close of their handle (not CancelIo, unless TD_IOCTL_SET_CANCELLABLE),
 * unless a one-shot response is queued for 0x8040, which answers at once; a
 * default response set for 0x8040 is never used.
 *
 * Request blocks shorter than 16 bytes (input or output) are recorded and
 * fail with STATUS_INVALID_PARAMETER. A response's status and patch are
 * applied to the block first (the patch is clipped to the block), then its
 * descriptor data; an irpStatus that is an error (NT_ERROR) skips the
 * descriptor data, and Wine then copies nothing back to the caller.
 *
 * Sequence numbers start at 1 and keep counting across TD_IOCTL_RESET, so
 * that an afterSeq taken before a reset stays meaningful.
 *
 * NTSTATUS values as the caller's DeviceIoControl reports them under Wine 8
 * (checked by the stand-in's self-test):
 *   STATUS_RETRY 0xC000022D                  -> ERROR_RETRY 1237
 *   STATUS_CANCELLED 0xC0000120              -> ERROR_OPERATION_ABORTED 995
 *   STATUS_UNSUCCESSFUL 0xC0000001           -> ERROR_GEN_FAILURE 31
 *   STATUS_INVALID_DEVICE_REQUEST 0xC0000010 -> ERROR_INVALID_FUNCTION 1
 *   STATUS_INVALID_PARAMETER 0xC000000D      -> ERROR_INVALID_PARAMETER 87
 *   STATUS_DEVICE_NOT_READY 0xC00000A3       -> ERROR_NOT_READY 21
 *   STATUS_IO_TIMEOUT 0xC00000B5             -> ERROR_SEM_TIMEOUT 121
 *   STATUS_BUFFER_OVERFLOW 0x80000005        -> ERROR_MORE_DATA 234
 * The last is a warning, not an error: the block is still copied back.
 */

#pragma pack(push, 1)

typedef struct TdFireEvent {
  uint32_t blockStatus; /* written into the DeviceRequest status field */
  int32_t irpStatus;    /* NTSTATUS the request completes with; 0 = success */
  uint32_t maxCount;    /* pending host waits to complete; 0 = all */
} TdFireEvent;

typedef struct TdStats {
  uint32_t pendingHostWaits; /* waiting for a fire; a hang's are in heldByHang */
  uint32_t recordCount;      /* records held now */
  uint32_t lastSeq;          /* seq of the newest record, 0 when none was ever taken */
  uint32_t copierWaiting;    /* copier order slots pending (1 with one copier armed) */
  uint32_t droppedRecords;   /* records lost to the ring's size */
  uint32_t hung;             /* 1 while the device hangs */
  uint32_t heldByHang;       /* requests the hang holds (host waits among them) */
  uint32_t cancellable;      /* 1 when requests queued now can be cancelled */
} TdStats;

typedef struct TdReadRecords {
  uint32_t afterSeq; /* records with seq > afterSeq */
  uint32_t code;     /* 0 = every code */
} TdReadRecords;

/* One record in the TD_IOCTL_READ_RECORDS output, followed by blockBytes
 * bytes of the request block as it arrived (descriptors included; the data
 * they point at lives in the caller's process and is not recorded). */
typedef struct TdRecordHeader {
  uint32_t seq;
  uint32_t code;
  uint32_t blockStatus; /* status written back */
  int32_t irpStatus;    /* NTSTATUS it completed with; STATUS_PENDING (0x103) while pending */
  int64_t qpc;          /* KeQueryPerformanceCounter at arrival */
  int64_t qpcFrequency;
  uint32_t inputLength; /* InputBufferLength of the request */
  uint32_t blockBytes;  /* bytes that follow (min(inputLength, TD_MAX_RECORD_BLOCK)) */
} TdRecordHeader;

#define TD_MAX_RECORD_BLOCK 512u

/* Scripted answer for one request code. Responses are one-shot (used once,
 * first in first out) or the code's default (used when no one-shot is left). */
typedef struct TdResponse {
  uint32_t code;
  uint32_t oneShot;     /* 1 = queue once, 0 = set as default */
  uint32_t blockStatus; /* status field written back */
  int32_t irpStatus;    /* NTSTATUS to fail the DeviceIoControl itself with; 0 = success */
  uint32_t patchOffset; /* offset into the block where patch bytes are written */
  uint32_t patchLength; /* bytes of patch following this header */
  /* Bytes of descriptor data following the patch, written into the first
   * descriptor's buffer. */
  uint32_t descriptorLength;
  uint32_t hasDescriptorData; /* 1 = this response writes descriptor data */
  /* Status when the descriptor's count < descriptorLength (buffer untouched). */
  uint32_t tooSmallStatus;
  uint32_t delayMs; /* complete the request only after this long */
} TdResponse;

typedef struct TdWaitRecord {
  uint32_t afterSeq;
  uint32_t code;
} TdWaitRecord;

/* A copier order: write `length` bytes at `address` in the copier's own
 * process, then report TD_IOCTL_COPIER_DONE with the order id. */
typedef struct TdCopyOrder {
  uint32_t orderId;
  uint32_t length;
  uint64_t address;
  /* `length` bytes follow */
} TdCopyOrder;

typedef struct TdCopyDone {
  uint32_t orderId;
  uint32_t ok; /* 1 when the bytes were written */
} TdCopyDone;

#pragma pack(pop)

#endif
