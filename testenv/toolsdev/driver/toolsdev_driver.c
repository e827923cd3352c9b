/*
 * Stand-in for the tools device: a kernel driver that Wine hosts in
 * winedevice.exe. It records every request the module sends, answers it as
 * the tests scripted, and keeps host event waits pending until a test fires
 * them. The control protocol is in toolsdev_protocol.h.
 *
 * By default it promises no more than a tools device does: a request it
 * holds pending has no cancel routine, so CancelIo leaves it and only the
 * close of its handle ends it. Cancellation is an option a test asks for, and
 * a test can also hang the device, which then holds every request, even past
 * the close of its handle, until the hang ends.
 *
 * Threading under Wine: every IRP (create, close, controls, cancels) is
 * dispatched by one thread of winedevice, so a dispatch routine must never
 * block; delayed answers are completed by a system thread of our own. Shared
 * state sits behind g.lock. IoCompleteRequest is never called with g.lock
 * held: Wine's completion path takes a critical section that its dispatch
 * thread also holds while it calls our cancel routine (which takes g.lock).
 */
#include <ntddk.h>

#include "toolsdev_protocol.h"

/* Exported by ntoskrnl but declared only in <ntifs.h>. */
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                              PLARGE_INTEGER timeout);

#define TD_TAG 0x67747643u /* "Cvtg" in a pool dump */
#define TD_RING_CAPACITY 8192u
#define TD_MAX_RESPONSE_BYTES (16u * 1024u * 1024u)
#define TD_COPIER_MARK ((PVOID)(ULONG_PTR)0x7D)

enum PendingKind {
  PK_HOST_WAIT,   /* 0x8040 request waiting for TD_IOCTL_FIRE_EVENT */
  PK_RECORD_WAIT, /* TD_IOCTL_WAIT_RECORD */
  PK_COPIER_SLOT, /* TD_IOCTL_COPIER_WAIT */
  PK_DELAYED,     /* request whose answer waits for its delay */
  PK_COPY_HELD,   /* request whose descriptor data is being written by a copier */
  PK_HUNG,        /* request held by a hang; ends only when the hang does */
  PK_COUNT
};

typedef struct RecordSlot {
  TdRecordHeader header;
  UCHAR block[TD_MAX_RECORD_BLOCK];
} RecordSlot;

/* A scripted response. One-shots are owned by the list until taken; a default
 * is shared by every request that uses it, hence the reference count. */
typedef struct ScriptedResponse {
  LIST_ENTRY link;
  volatile LONG refs;
  TdResponse scripted;
  UCHAR data[]; /* patch bytes, then descriptor bytes */
} ScriptedResponse;

/* One IRP the driver keeps pending. It is linked in g.pending[kind] while it
 * can be cancelled; whoever unlinks it with its cancel routine still set owns
 * the IRP and must complete it. */
typedef struct Pending {
  LIST_ENTRY link;
  PIRP irp;
  PFILE_OBJECT file;
  ULONG kind;
  BOOLEAN queued;
  BOOLEAN cancellable;        /* linked with its cancel routine set */
  ULONG length;               /* request: bytes of the block that travel both ways */
  ULONG seq;                  /* request: its record */
  ULONG afterSeq;             /* record wait */
  ULONG code;                 /* record wait: 0 = any */
  LONGLONG dueQpc;            /* delayed */
  ScriptedResponse* response; /* delayed, copy held: one reference */
  ULONG orderId;              /* copy held */
  ULONG descriptorOffset;     /* copy held */
  ULONG64 address;            /* copy held: where the copier writes */
  PFILE_OBJECT copier;        /* copy held: copier the order went to, NULL while undelivered */
} Pending;

static struct {
  KSPIN_LOCK lock;
  PDEVICE_OBJECT device;
  LONGLONG qpcFrequency;

  /* Guarded by lock. */
  RecordSlot* ring;
  ULONG lastSeq;     /* keeps counting across TD_IOCTL_RESET */
  ULONG recordCount; /* records held: seqs (lastSeq - recordCount, lastSeq] */
  ULONG dropped;
  LIST_ENTRY responses; /* in the order they were set */
  LIST_ENTRY pending[PK_COUNT];
  ULONG pendingCount[PK_COUNT];
  ULONG copierFiles; /* open files that have registered as copiers */
  ULONG nextOrderId;
  BOOLEAN cancellable; /* requests queued from now on get a cancel routine */
  BOOLEAN hung;
  LONGLONG hangDueQpc; /* while hung: when the hang ends; 0 = when told */

  /* Timer thread. */
  KEVENT timerWake;
  HANDLE timerThread;
  volatile LONG stopping;
} g;

static ULONG Get32(const UCHAR* p) {
  return (ULONG)p[0] | ((ULONG)p[1] << 8) | ((ULONG)p[2] << 16) | ((ULONG)p[3] << 24);
}
static USHORT Get16(const UCHAR* p) {
  return (USHORT)(p[0] | (p[1] << 8));
}
static void Put32(UCHAR* p, ULONG v) {
  p[0] = (UCHAR)v;
  p[1] = (UCHAR)(v >> 8);
  p[2] = (UCHAR)(v >> 16);
  p[3] = (UCHAR)(v >> 24);
}

static LONGLONG Now(void) {
  return KeQueryPerformanceCounter(NULL).QuadPart;
}

/* KeAcquireSpinLock is the exported RaiseToDpc call on x64. The inline IRQL
 * helpers of the DDK headers (KeGetCurrentIrql, KeRaiseIrql, KeLowerIrql)
 * read or write CR8, which faults in winedevice's user mode: never use them. */
static void Lock(KIRQL* irql) {
  KeAcquireSpinLock(&g.lock, irql);
}
static void Unlock(KIRQL irql) {
  KeReleaseSpinLock(&g.lock, irql);
}

static void ReleaseResponse(ScriptedResponse* r) {
  if (r && InterlockedDecrement(&r->refs) == 0)
    ExFreePoolWithTag(r, TD_TAG);
}

/* ---- records (lock held) ---- */

static RecordSlot* FindRecord(ULONG seq) {
  if (seq == 0 || seq > g.lastSeq || g.lastSeq - seq >= g.recordCount)
    return NULL;
  return &g.ring[(seq - 1) % TD_RING_CAPACITY];
}

static ULONG OldestHeldSeq(void) {
  return g.lastSeq - g.recordCount + 1;
}

static ULONG AddRecord(ULONG code, LONGLONG qpc, ULONG inputLength, const UCHAR* block,
                       ULONG blockBytes) {
  RecordSlot* slot;
  ULONG seq = ++g.lastSeq;
  if (g.recordCount == TD_RING_CAPACITY)
    g.dropped++;
  else
    g.recordCount++;
  slot = &g.ring[(seq - 1) % TD_RING_CAPACITY];
  slot->header.seq = seq;
  slot->header.code = code;
  slot->header.blockStatus = blockBytes >= 8 ? Get32(block + 4) : 0;
  slot->header.irpStatus = STATUS_PENDING;
  slot->header.qpc = qpc;
  slot->header.qpcFrequency = g.qpcFrequency;
  slot->header.inputLength = inputLength;
  slot->header.blockBytes = blockBytes;
  if (blockBytes)
    RtlCopyMemory(slot->block, block, blockBytes);
  return seq;
}

static void FinishRecord(ULONG seq, ULONG blockStatus, NTSTATUS irpStatus) {
  RecordSlot* slot = FindRecord(seq);
  if (!slot)
    return; /* overwritten by newer records or dropped by a reset */
  slot->header.blockStatus = blockStatus;
  slot->header.irpStatus = irpStatus;
}

/* ---- pending IRPs ---- */

static VOID CancelPending(PDEVICE_OBJECT device, PIRP irp);

static Pending* NewPending(PIRP irp, ULONG kind) {
  Pending* p = ExAllocatePoolWithTag(NonPagedPool, sizeof(*p), TD_TAG);
  if (!p)
    return NULL;
  RtlZeroMemory(p, sizeof(*p));
  p->irp = irp;
  p->file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  p->kind = kind;
  irp->Tail.Overlay.DriverContext[0] = p;
  return p;
}

static BOOLEAN IsRequestKind(ULONG kind) {
  return kind == PK_HOST_WAIT || kind == PK_DELAYED || kind == PK_COPY_HELD || kind == PK_HUNG;
}

/* Lock held. Links p. The test's own waits can always be cancelled (a client
 * gives up on them); the module's requests only when a test asked for it,
 * and never while a hang holds them. Returns FALSE when the IRP was cancelled
 * before its cancel routine was set: the caller then owns it. */
static BOOLEAN Enqueue(Pending* p, ULONG kind) {
  p->kind = kind;
  p->cancellable = !IsRequestKind(kind) || (g.cancellable && kind != PK_HUNG);
  if (p->cancellable) {
    IoSetCancelRoutine(p->irp, CancelPending);
    if (p->irp->Cancel && IoSetCancelRoutine(p->irp, NULL) != NULL)
      return FALSE;
  }
  /* Either not cancelled, or IoCancelIrp already took the routine and is
   * about to call it: link it anyway so that the routine finds it. */
  InsertTailList(&g.pending[kind], &p->link);
  p->queued = TRUE;
  g.pendingCount[kind]++;
  return TRUE;
}

/* Lock held. Takes p out of its list unless its cancel routine is already
 * running, which then completes it; TRUE means the caller now owns the IRP.
 * An IRP without a cancel routine belongs to whoever holds the lock. */
static BOOLEAN Detach(Pending* p) {
  if (p->cancellable && IoSetCancelRoutine(p->irp, NULL) == NULL)
    return FALSE;
  RemoveEntryList(&p->link);
  p->queued = FALSE;
  g.pendingCount[p->kind]--;
  return TRUE;
}

/* Lock held; p is detached. Sets the IRP's outcome, finishes the request's
 * record and moves p to `done`, whose IRPs CompleteDone completes after the
 * lock is released. */
static void Retire(Pending* p, NTSTATUS status, ULONG_PTR information, LIST_ENTRY* done) {
  PIRP irp = p->irp;
  if (NT_ERROR(status))
    information = 0;
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  if (IsRequestKind(p->kind)) {
    /* A hang holds even blocks too short to carry a status. */
    const UCHAR* block = irp->AssociatedIrp.SystemBuffer;
    FinishRecord(p->seq, block && p->length >= 8 ? Get32(block + 4) : 0, status);
  }
  InsertTailList(done, &p->link);
}

static void CompleteDone(LIST_ENTRY* done) {
  while (!IsListEmpty(done)) {
    Pending* p = CONTAINING_RECORD(RemoveHeadList(done), Pending, link);
    PIRP irp = p->irp;
    ReleaseResponse(p->response);
    ExFreePoolWithTag(p, TD_TAG);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
}

static VOID CancelPending(PDEVICE_OBJECT device, PIRP irp) {
  /* Wine passes the stack location's device object here; nothing below uses it. */
  Pending* p = irp->Tail.Overlay.DriverContext[0];
  LIST_ENTRY done;
  KIRQL irql;
  UNREFERENCED_PARAMETER(device);
  IoReleaseCancelSpinLock(irp->CancelIrql);
  InitializeListHead(&done);
  Lock(&irql);
  if (p->queued) {
    RemoveEntryList(&p->link);
    p->queued = FALSE;
    g.pendingCount[p->kind]--;
  }
  Retire(p, STATUS_CANCELLED, 0, &done);
  Unlock(irql);
  CompleteDone(&done);
}

static NTSTATUS CompleteNow(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  if (NT_ERROR(status))
    information = 0;
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* ---- record waiters and copier orders (lock held) ---- */

/* Lock held. Writes a record wait's answer: the seq, then the record itself
 * when the output has room for it, which spares the waiter a second round
 * trip through the wineserver. Returns the bytes written. */
static ULONG_PTR AnswerRecordWait(PIRP irp, ULONG seq) {
  UCHAR* out = irp->AssociatedIrp.SystemBuffer;
  ULONG outLength =
      IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
  RecordSlot* slot = FindRecord(seq);
  ULONG size;
  Put32(out, seq);
  if (!slot)
    return sizeof(uint32_t);
  size = (ULONG)sizeof(TdRecordHeader) + slot->header.blockBytes;
  if (outLength - sizeof(uint32_t) < size)
    return sizeof(uint32_t);
  RtlCopyMemory(out + sizeof(uint32_t), &slot->header, sizeof(TdRecordHeader));
  RtlCopyMemory(out + sizeof(uint32_t) + sizeof(TdRecordHeader), slot->block,
                slot->header.blockBytes);
  return sizeof(uint32_t) + size;
}

static void WakeRecordWaiters(ULONG seq, ULONG code, LIST_ENTRY* done) {
  LIST_ENTRY* e = g.pending[PK_RECORD_WAIT].Flink;
  while (e != &g.pending[PK_RECORD_WAIT]) {
    Pending* w = CONTAINING_RECORD(e, Pending, link);
    e = e->Flink;
    if (seq <= w->afterSeq || (w->code != 0 && w->code != code))
      continue;
    if (!Detach(w))
      continue;
    Retire(w, STATUS_SUCCESS, AnswerRecordWait(w->irp, seq), done);
  }
}

static Pending* FirstUndeliveredOrder(void) {
  LIST_ENTRY* e;
  for (e = g.pending[PK_COPY_HELD].Flink; e != &g.pending[PK_COPY_HELD]; e = e->Flink) {
    Pending* h = CONTAINING_RECORD(e, Pending, link);
    if (!h->copier)
      return h;
  }
  return NULL;
}

/* Hands undelivered copy orders to pending copier slots, oldest first. A slot
 * too small for an order gets only the order's header and
 * STATUS_BUFFER_OVERFLOW, so that its copier can re-arm with a larger buffer;
 * the order waits for the next slot. */
static void DeliverOrders(LIST_ENTRY* done) {
  LIST_ENTRY* e = g.pending[PK_COPIER_SLOT].Flink;
  while (e != &g.pending[PK_COPIER_SLOT]) {
    Pending* slot = CONTAINING_RECORD(e, Pending, link);
    Pending* order = FirstUndeliveredOrder();
    ULONG outLength, needed;
    TdCopyOrder header;
    UCHAR* out;
    e = e->Flink;
    if (!order)
      return;
    if (!Detach(slot))
      continue;
    out = slot->irp->AssociatedIrp.SystemBuffer;
    outLength =
        IoGetCurrentIrpStackLocation(slot->irp)->Parameters.DeviceIoControl.OutputBufferLength;
    header.orderId = order->orderId;
    header.length = order->response->scripted.descriptorLength;
    header.address = order->address;
    needed = (ULONG)sizeof(header) + header.length;
    RtlCopyMemory(out, &header, sizeof(header));
    if (outLength < needed) {
      Retire(slot, STATUS_BUFFER_OVERFLOW, sizeof(header), done);
      continue;
    }
    RtlCopyMemory(out + sizeof(header),
                  order->response->data + order->response->scripted.patchLength, header.length);
    order->copier = slot->file;
    Retire(slot, STATUS_SUCCESS, needed, done);
  }
}

/* ---- hang (lock held) ---- */

/* Moves a detached request to the hang's list, where nothing but the end of
 * the hang completes it. */
static void Hold(Pending* p) {
  Enqueue(p, PK_HUNG); /* no cancel routine: cannot fail */
}

/* The hang begins: the requests the device was answering in its own time
 * (host waits, delays, copies not yet handed to a copier) are held by it
 * too. A copy a copier is writing now is held when the copier reports. */
static void HoldPendingRequests(void) {
  static const ULONG kinds[] = {PK_HOST_WAIT, PK_DELAYED, PK_COPY_HELD};
  ULONG i;
  for (i = 0; i < sizeof(kinds) / sizeof(kinds[0]); ++i) {
    LIST_ENTRY* e = g.pending[kinds[i]].Flink;
    while (e != &g.pending[kinds[i]]) {
      Pending* p = CONTAINING_RECORD(e, Pending, link);
      e = e->Flink;
      if (kinds[i] == PK_COPY_HELD && p->copier)
        continue;
      if (Detach(p))
        Hold(p);
    }
  }
}

/* The hang ends. The device comes back having lost what it held: each held
 * request fails with STATUS_DEVICE_NOT_READY (ERROR_NOT_READY for a caller
 * still waiting), so that nothing stays pending for ever. */
static void EndHang(LIST_ENTRY* done) {
  LIST_ENTRY* e = g.pending[PK_HUNG].Flink;
  g.hung = FALSE;
  g.hangDueQpc = 0;
  while (e != &g.pending[PK_HUNG]) {
    Pending* p = CONTAINING_RECORD(e, Pending, link);
    e = e->Flink;
    if (Detach(p))
      Retire(p, STATUS_DEVICE_NOT_READY, 0, done);
  }
}

/* Lock held. Ends every held request whose data no copier can write any more
 * (holds it instead while the device hangs). */
static void FailUndeliverableOrders(LIST_ENTRY* done) {
  LIST_ENTRY* e = g.pending[PK_COPY_HELD].Flink;
  if (g.copierFiles != 0)
    return;
  while (e != &g.pending[PK_COPY_HELD]) {
    Pending* h = CONTAINING_RECORD(e, Pending, link);
    e = e->Flink;
    if (!Detach(h))
      continue;
    if (g.hung) {
      Hold(h);
      continue;
    }
    Put32((UCHAR*)h->irp->AssociatedIrp.SystemBuffer + 4, TD_STATUS_NO_COPIER);
    Retire(h, h->response->scripted.irpStatus, h->length, done);
  }
}

/* ---- answering requests ---- */

/* Applies what a response does to the block without a copier: status field,
 * patch, descriptor checks. Returns TRUE when descriptor data must still be
 * written into the caller's memory; *descriptorOffset is then the offset of
 * the first descriptor. */
static BOOLEAN ApplyResponse(UCHAR* block, ULONG length, const ScriptedResponse* r,
                             ULONG* descriptorOffset) {
  const TdResponse* s = &r->scripted;
  ULONG offset, count;
  Put32(block + 4, s->blockStatus);
  if (s->patchLength && s->patchOffset < length) {
    ULONG n = length - s->patchOffset;
    if (n > s->patchLength)
      n = s->patchLength;
    RtlCopyMemory(block + s->patchOffset, r->data, n);
  }
  if (NT_ERROR(s->irpStatus) || !s->hasDescriptorData)
    return FALSE;
  count = Get16(block + 10);
  offset = (16u + Get16(block + 8) + 7u) & ~7u;
  if (count == 0 || offset + 16u > length || !(Get32(block + offset + 12) & 1u)) {
    Put32(block + 4, TD_STATUS_BAD_DESCRIPTOR);
    return FALSE;
  }
  if (Get32(block + offset + 8) < s->descriptorLength) {
    Put32(block + 4, s->tooSmallStatus);
    return FALSE;
  }
  if (s->descriptorLength == 0) {
    Put32(block + offset + 8, 0);
    return FALSE;
  }
  *descriptorOffset = offset;
  return TRUE;
}

/* Answers a request that is already pending (p owns it, detached), after its
 * delay or at once. Called without the lock. */
static void AnswerPending(Pending* p) {
  UCHAR* block = p->irp->AssociatedIrp.SystemBuffer;
  ULONG offset = 0;
  LIST_ENTRY done;
  KIRQL irql;
  BOOLEAN needsCopy;
  Lock(&irql);
  if (g.hung) {
    Hold(p);
    Unlock(irql);
    return;
  }
  Unlock(irql);
  needsCopy = ApplyResponse(block, p->length, p->response, &offset);
  InitializeListHead(&done);
  Lock(&irql);
  if (!needsCopy) {
    Retire(p, p->response->scripted.irpStatus, p->length, &done);
  } else if (g.copierFiles == 0) {
    Put32(block + 4, TD_STATUS_NO_COPIER);
    Retire(p, p->response->scripted.irpStatus, p->length, &done);
  } else {
    p->orderId = ++g.nextOrderId;
    p->descriptorOffset = offset;
    p->address = (ULONG64)Get32(block + offset) | ((ULONG64)Get32(block + offset + 4) << 32);
    p->copier = NULL;
    if (Enqueue(p, PK_COPY_HELD))
      DeliverOrders(&done);
    else
      Retire(p, STATUS_CANCELLED, 0, &done);
  }
  Unlock(irql);
  CompleteDone(&done);
}

static NTSTATUS OnRequest(PIRP irp, PIO_STACK_LOCATION sp) {
  LONGLONG arrival = Now();
  ULONG inLength = sp->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
  ULONG length = inLength < outLength ? inLength : outLength;
  UCHAR* block = irp->AssociatedIrp.SystemBuffer;
  ULONG code = (block && inLength >= 4) ? Get32(block) : 0;
  ULONG snapshotBytes =
      (block && inLength) ? (inLength < TD_MAX_RECORD_BLOCK ? inLength : TD_MAX_RECORD_BLOCK) : 0;
  ScriptedResponse* r = NULL;
  Pending* p;
  LIST_ENTRY done;
  KIRQL irql;
  ULONG seq;

  InitializeListHead(&done);
  Lock(&irql);
  seq = AddRecord(code, arrival, inLength, block, snapshotBytes);
  if (g.hung) {
    /* Answers nothing, malformed blocks included; scripted responses wait
     * for requests after the hang. */
    p = NewPending(irp, PK_HUNG);
    if (p) {
      IoMarkIrpPending(irp);
      p->length = length;
      p->seq = seq;
      Hold(p);
      WakeRecordWaiters(seq, code, &done);
      Unlock(irql);
      CompleteDone(&done);
      return STATUS_PENDING;
    }
  }
  if (!block || length < 16) {
    /* Recorded all the same, so that a test sees what the module sent. */
    FinishRecord(seq, 0, STATUS_INVALID_PARAMETER);
    WakeRecordWaiters(seq, code, &done);
    Unlock(irql);
    CompleteDone(&done);
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  }

  /* One-shots first, in the order they were queued; then the default. A host
   * wait pends unless a one-shot is queued for it. */
  {
    LIST_ENTRY* e;
    for (e = g.responses.Flink; e != &g.responses; e = e->Flink) {
      ScriptedResponse* c = CONTAINING_RECORD(e, ScriptedResponse, link);
      if (c->scripted.code == code && c->scripted.oneShot) {
        RemoveEntryList(&c->link);
        r = c; /* the list's reference moves to this request */
        break;
      }
    }
    if (!r && code != TD_HOST_EVENT_CODE) {
      for (e = g.responses.Flink; e != &g.responses; e = e->Flink) {
        ScriptedResponse* c = CONTAINING_RECORD(e, ScriptedResponse, link);
        if (c->scripted.code == code && !c->scripted.oneShot) {
          InterlockedIncrement(&c->refs);
          r = c;
          break;
        }
      }
    }
  }

  if (!r && code != TD_HOST_EVENT_CODE) {
    Put32(block + 4, 0);
    FinishRecord(seq, 0, STATUS_SUCCESS);
    WakeRecordWaiters(seq, code, &done);
    Unlock(irql);
    CompleteDone(&done);
    return CompleteNow(irp, STATUS_SUCCESS, length);
  }

  if (r && r->scripted.delayMs == 0 &&
      (!r->scripted.hasDescriptorData || NT_ERROR(r->scripted.irpStatus))) {
    NTSTATUS status = r->scripted.irpStatus;
    ULONG unused;
    ApplyResponse(block, length, r, &unused);
    FinishRecord(seq, Get32(block + 4), status);
    WakeRecordWaiters(seq, code, &done);
    Unlock(irql);
    CompleteDone(&done);
    ReleaseResponse(r);
    return CompleteNow(irp, status, length);
  }

  /* Everything else may pend. */
  IoMarkIrpPending(irp);
  p = NewPending(irp, PK_HOST_WAIT);
  if (!p) {
    FinishRecord(seq, Get32(block + 4), STATUS_INSUFFICIENT_RESOURCES);
    WakeRecordWaiters(seq, code, &done);
    Unlock(irql);
    CompleteDone(&done);
    ReleaseResponse(r);
    CompleteNow(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    return STATUS_PENDING;
  }
  p->length = length;
  p->seq = seq;
  p->response = r;
  if (!r) {
    if (!Enqueue(p, PK_HOST_WAIT))
      Retire(p, STATUS_CANCELLED, 0, &done);
    WakeRecordWaiters(seq, code, &done);
    Unlock(irql);
    CompleteDone(&done);
    return STATUS_PENDING;
  }
  if (r->scripted.delayMs) {
    p->dueQpc = arrival + (LONGLONG)r->scripted.delayMs * g.qpcFrequency / 1000;
    if (!Enqueue(p, PK_DELAYED))
      Retire(p, STATUS_CANCELLED, 0, &done);
    WakeRecordWaiters(seq, code, &done);
    Unlock(irql);
    KeSetEvent(&g.timerWake, IO_NO_INCREMENT, FALSE);
    CompleteDone(&done);
    return STATUS_PENDING;
  }
  WakeRecordWaiters(seq, code, &done);
  Unlock(irql);
  CompleteDone(&done);
  AnswerPending(p); /* descriptor data: needs a copier */
  return STATUS_PENDING;
}

static VOID TimerThread(PVOID context) {
  UNREFERENCED_PARAMETER(context);
  for (;;) {
    LIST_ENTRY due, ended;
    LARGE_INTEGER timeout;
    LONGLONG earliest = 0;
    LONGLONG now;
    LIST_ENTRY* e;
    KIRQL irql;

    InitializeListHead(&due);
    InitializeListHead(&ended);
    Lock(&irql);
    now = Now();
    if (g.hung && g.hangDueQpc) {
      if (g.hangDueQpc <= now)
        EndHang(&ended);
      else
        earliest = g.hangDueQpc;
    }
    e = g.pending[PK_DELAYED].Flink;
    while (e != &g.pending[PK_DELAYED]) {
      Pending* p = CONTAINING_RECORD(e, Pending, link);
      e = e->Flink;
      if (p->dueQpc <= now) {
        if (Detach(p))
          InsertTailList(&due, &p->link);
      } else if (earliest == 0 || p->dueQpc < earliest) {
        earliest = p->dueQpc;
      }
    }
    Unlock(irql);
    CompleteDone(&ended);

    while (!IsListEmpty(&due))
      AnswerPending(CONTAINING_RECORD(RemoveHeadList(&due), Pending, link));

    if (g.stopping)
      break;
    if (earliest) {
      now = Now();
      timeout.QuadPart = earliest > now ? -((earliest - now) * 10000000 / g.qpcFrequency) - 1 : -1;
      KeWaitForSingleObject(&g.timerWake, Executive, KernelMode, FALSE, &timeout);
    } else {
      KeWaitForSingleObject(&g.timerWake, Executive, KernelMode, FALSE, NULL);
    }
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ---- test controls ---- */

static NTSTATUS OnFireEvent(PIRP irp, ULONG inLength, ULONG outLength) {
  TdFireEvent fire;
  LIST_ENTRY done;
  LIST_ENTRY* e;
  ULONG count = 0;
  KIRQL irql;
  if (inLength < sizeof(fire))
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(&fire, irp->AssociatedIrp.SystemBuffer, sizeof(fire));
  if (fire.irpStatus == STATUS_PENDING)
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  InitializeListHead(&done);
  Lock(&irql);
  e = g.pending[PK_HOST_WAIT].Flink;
  while (e != &g.pending[PK_HOST_WAIT] && (fire.maxCount == 0 || count < fire.maxCount)) {
    Pending* p = CONTAINING_RECORD(e, Pending, link);
    e = e->Flink;
    if (!Detach(p))
      continue;
    Put32((UCHAR*)p->irp->AssociatedIrp.SystemBuffer + 4, fire.blockStatus);
    Retire(p, fire.irpStatus, p->length, &done);
    count++;
  }
  Unlock(irql);
  CompleteDone(&done);
  if (outLength >= sizeof(count)) {
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &count, sizeof(count));
    return CompleteNow(irp, STATUS_SUCCESS, sizeof(count));
  }
  return CompleteNow(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS OnStats(PIRP irp, ULONG outLength) {
  TdStats stats;
  KIRQL irql;
  if (outLength < sizeof(stats))
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  Lock(&irql);
  stats.pendingHostWaits = g.pendingCount[PK_HOST_WAIT];
  stats.recordCount = g.recordCount;
  stats.lastSeq = g.lastSeq;
  stats.copierWaiting = g.pendingCount[PK_COPIER_SLOT];
  stats.droppedRecords = g.dropped;
  stats.hung = g.hung ? 1 : 0;
  stats.heldByHang = g.pendingCount[PK_HUNG];
  stats.cancellable = g.cancellable ? 1 : 0;
  Unlock(irql);
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &stats, sizeof(stats));
  return CompleteNow(irp, STATUS_SUCCESS, sizeof(stats));
}

static NTSTATUS OnReadRecords(PIRP irp, ULONG inLength, ULONG outLength) {
  TdReadRecords query;
  UCHAR* out = irp->AssociatedIrp.SystemBuffer;
  ULONG used = 0;
  BOOLEAN tooSmall = FALSE;
  KIRQL irql;
  ULONG seq;
  if (inLength < sizeof(query))
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(&query, out, sizeof(query));
  Lock(&irql);
  seq = query.afterSeq + 1;
  if (g.recordCount && seq < OldestHeldSeq())
    seq = OldestHeldSeq();
  for (; g.recordCount && seq != 0 && seq <= g.lastSeq; ++seq) {
    RecordSlot* slot = FindRecord(seq);
    ULONG size;
    if (query.code != 0 && slot->header.code != query.code)
      continue;
    size = (ULONG)sizeof(TdRecordHeader) + slot->header.blockBytes;
    if (outLength - used < size) {
      tooSmall = used == 0;
      break;
    }
    RtlCopyMemory(out + used, &slot->header, sizeof(TdRecordHeader));
    RtlCopyMemory(out + used + sizeof(TdRecordHeader), slot->block, slot->header.blockBytes);
    used += size;
  }
  Unlock(irql);
  if (tooSmall)
    return CompleteNow(irp, STATUS_BUFFER_TOO_SMALL, 0);
  return CompleteNow(irp, STATUS_SUCCESS, used);
}

static NTSTATUS OnSetResponse(PIRP irp, ULONG inLength) {
  TdResponse scripted;
  ScriptedResponse* r;
  ScriptedResponse* replaced = NULL;
  ULONG dataBytes;
  KIRQL irql;
  if (inLength < sizeof(scripted))
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(&scripted, irp->AssociatedIrp.SystemBuffer, sizeof(scripted));
  if (scripted.patchLength > TD_MAX_RESPONSE_BYTES ||
      scripted.descriptorLength > TD_MAX_RESPONSE_BYTES)
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  dataBytes = scripted.patchLength + scripted.descriptorLength;
  if (inLength - sizeof(scripted) < dataBytes || scripted.oneShot > 1 ||
      scripted.hasDescriptorData > 1 || scripted.irpStatus == STATUS_PENDING)
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  if (!scripted.hasDescriptorData)
    scripted.descriptorLength = 0;
  r = ExAllocatePoolWithTag(NonPagedPool, sizeof(*r) + dataBytes, TD_TAG);
  if (!r)
    return CompleteNow(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  r->refs = 1;
  r->scripted = scripted;
  RtlCopyMemory(r->data, (UCHAR*)irp->AssociatedIrp.SystemBuffer + sizeof(scripted), dataBytes);
  Lock(&irql);
  if (!scripted.oneShot) {
    LIST_ENTRY* e;
    for (e = g.responses.Flink; e != &g.responses; e = e->Flink) {
      ScriptedResponse* c = CONTAINING_RECORD(e, ScriptedResponse, link);
      if (c->scripted.code == scripted.code && !c->scripted.oneShot) {
        RemoveEntryList(&c->link);
        replaced = c;
        break;
      }
    }
  }
  InsertTailList(&g.responses, &r->link);
  Unlock(irql);
  ReleaseResponse(replaced);
  return CompleteNow(irp, STATUS_SUCCESS, 0);
}

/* Lock held. Moves every scripted response to `into`. */
static void TakeResponses(LIST_ENTRY* into) {
  while (!IsListEmpty(&g.responses))
    InsertTailList(into, RemoveHeadList(&g.responses));
}

static void ReleaseResponses(LIST_ENTRY* list) {
  while (!IsListEmpty(list))
    ReleaseResponse(CONTAINING_RECORD(RemoveHeadList(list), ScriptedResponse, link));
}

static NTSTATUS OnReset(PIRP irp) {
  LIST_ENTRY taken, done;
  LIST_ENTRY* e;
  KIRQL irql;
  InitializeListHead(&taken);
  InitializeListHead(&done);
  Lock(&irql);
  TakeResponses(&taken);
  g.recordCount = 0;
  g.dropped = 0;
  g.cancellable = FALSE;
  if (g.hung)
    EndHang(&done);
  e = g.pending[PK_HOST_WAIT].Flink;
  while (e != &g.pending[PK_HOST_WAIT]) {
    Pending* p = CONTAINING_RECORD(e, Pending, link);
    e = e->Flink;
    if (Detach(p))
      Retire(p, STATUS_CANCELLED, 0, &done);
  }
  Unlock(irql);
  ReleaseResponses(&taken);
  CompleteDone(&done);
  return CompleteNow(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS OnSetCancellable(PIRP irp, ULONG inLength) {
  ULONG on;
  KIRQL irql;
  if (inLength < sizeof(on))
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(&on, irp->AssociatedIrp.SystemBuffer, sizeof(on));
  if (on > 1)
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  Lock(&irql);
  g.cancellable = on ? TRUE : FALSE;
  Unlock(irql);
  return CompleteNow(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS OnSetHang(PIRP irp, ULONG inLength) {
  ULONG ms;
  LIST_ENTRY done;
  KIRQL irql;
  if (inLength < sizeof(ms))
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(&ms, irp->AssociatedIrp.SystemBuffer, sizeof(ms));
  InitializeListHead(&done);
  Lock(&irql);
  if (ms == 0) {
    if (g.hung)
      EndHang(&done);
  } else {
    if (!g.hung) {
      g.hung = TRUE;
      HoldPendingRequests();
    }
    g.hangDueQpc = ms == TD_HANG_UNTIL_TOLD ? 0 : Now() + (LONGLONG)ms * g.qpcFrequency / 1000;
  }
  Unlock(irql);
  KeSetEvent(&g.timerWake, IO_NO_INCREMENT, FALSE);
  CompleteDone(&done);
  return CompleteNow(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS OnWaitRecord(PIRP irp, ULONG inLength, ULONG outLength) {
  TdWaitRecord wait;
  Pending* p;
  LIST_ENTRY done;
  KIRQL irql;
  ULONG seq, found = 0;
  if (inLength < sizeof(wait) || outLength < sizeof(uint32_t))
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(&wait, irp->AssociatedIrp.SystemBuffer, sizeof(wait));
  p = NewPending(irp, PK_RECORD_WAIT);
  if (!p)
    return CompleteNow(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  p->afterSeq = wait.afterSeq;
  p->code = wait.code;
  InitializeListHead(&done);
  IoMarkIrpPending(irp);
  Lock(&irql);
  seq = wait.afterSeq + 1;
  if (g.recordCount && seq < OldestHeldSeq())
    seq = OldestHeldSeq();
  for (; g.recordCount && seq != 0 && seq <= g.lastSeq; ++seq) {
    if (wait.code == 0 || FindRecord(seq)->header.code == wait.code) {
      found = seq;
      break;
    }
  }
  if (found) {
    Retire(p, STATUS_SUCCESS, AnswerRecordWait(irp, found), &done);
  } else if (!Enqueue(p, PK_RECORD_WAIT)) {
    Retire(p, STATUS_CANCELLED, 0, &done);
  }
  Unlock(irql);
  CompleteDone(&done);
  return STATUS_PENDING;
}

static NTSTATUS OnCopierWait(PIRP irp, ULONG outLength) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  Pending* p;
  LIST_ENTRY done;
  KIRQL irql;
  if (outLength < sizeof(TdCopyOrder) || !file)
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  p = NewPending(irp, PK_COPIER_SLOT);
  if (!p)
    return CompleteNow(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  InitializeListHead(&done);
  IoMarkIrpPending(irp);
  Lock(&irql);
  if (file->FsContext2 != TD_COPIER_MARK) {
    file->FsContext2 = TD_COPIER_MARK;
    g.copierFiles++;
  }
  if (Enqueue(p, PK_COPIER_SLOT))
    DeliverOrders(&done);
  else
    Retire(p, STATUS_CANCELLED, 0, &done);
  Unlock(irql);
  CompleteDone(&done);
  return STATUS_PENDING;
}

static NTSTATUS OnCopierDone(PIRP irp, ULONG inLength) {
  TdCopyDone report;
  LIST_ENTRY done;
  LIST_ENTRY* e;
  NTSTATUS result = STATUS_NOT_FOUND;
  KIRQL irql;
  if (inLength < sizeof(report))
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(&report, irp->AssociatedIrp.SystemBuffer, sizeof(report));
  InitializeListHead(&done);
  Lock(&irql);
  for (e = g.pending[PK_COPY_HELD].Flink; e != &g.pending[PK_COPY_HELD]; e = e->Flink) {
    Pending* h = CONTAINING_RECORD(e, Pending, link);
    UCHAR* block;
    if (h->orderId != report.orderId || !h->copier)
      continue;
    result = STATUS_SUCCESS;
    if (!Detach(h))
      break; /* being cancelled: the copy no longer matters */
    block = h->irp->AssociatedIrp.SystemBuffer;
    if (report.ok) {
      Put32(block + h->descriptorOffset + 8, h->response->scripted.descriptorLength);
      Put32(block + 4, h->response->scripted.blockStatus);
    } else {
      Put32(block + 4, TD_STATUS_COPY_FAILED);
    }
    if (g.hung)
      Hold(h); /* the copy is written, but a hung device does not answer */
    else
      Retire(h, h->response->scripted.irpStatus, h->length, &done);
    break;
  }
  Unlock(irql);
  CompleteDone(&done);
  return CompleteNow(irp, result, 0);
}

/* ---- file lifetime ---- */

/* Ends everything a file object still has pending. Wine sends IRP_MJ_CLOSE
 * (and no IRP_MJ_CLEANUP) when the last handle is closed, even while IRPs
 * of that file are pending; Windows sends IRP_MJ_CLEANUP. Both come here. */
static void EndFile(PFILE_OBJECT file) {
  LIST_ENTRY done;
  ULONG kind;
  KIRQL irql;
  if (!file)
    return;
  InitializeListHead(&done);
  Lock(&irql);
  for (kind = 0; kind < PK_COUNT; ++kind) {
    LIST_ENTRY* e = g.pending[kind].Flink;
    if (kind == PK_HUNG)
      continue; /* a hung device does not even see its handles go */
    while (e != &g.pending[kind]) {
      Pending* p = CONTAINING_RECORD(e, Pending, link);
      e = e->Flink;
      if (p->file == file && Detach(p))
        Retire(p, STATUS_CANCELLED, 0, &done);
    }
  }
  if (file->FsContext2 == TD_COPIER_MARK) {
    LIST_ENTRY* e;
    file->FsContext2 = NULL;
    g.copierFiles--;
    /* Orders this copier took and never reported go to another copier. */
    for (e = g.pending[PK_COPY_HELD].Flink; e != &g.pending[PK_COPY_HELD]; e = e->Flink) {
      Pending* h = CONTAINING_RECORD(e, Pending, link);
      if (h->copier == file)
        h->copier = NULL;
    }
    FailUndeliverableOrders(&done);
    DeliverOrders(&done);
  }
  Unlock(irql);
  CompleteDone(&done);
}

static NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  UNREFERENCED_PARAMETER(device);
  if (file)
    file->FsContext2 = NULL;
  return CompleteNow(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchCleanupOrClose(PDEVICE_OBJECT device, PIRP irp) {
  UNREFERENCED_PARAMETER(device);
  EndFile(IoGetCurrentIrpStackLocation(irp)->FileObject);
  return CompleteNow(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  ULONG inLength = sp->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
  UNREFERENCED_PARAMETER(device);
  if (sp->Parameters.DeviceIoControl.IoControlCode == TD_IOCTL_REQUEST)
    return OnRequest(irp, sp);
  if ((inLength || outLength) && !irp->AssociatedIrp.SystemBuffer)
    return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case TD_IOCTL_RESET:
      return OnReset(irp);
    case TD_IOCTL_FIRE_EVENT:
      return OnFireEvent(irp, inLength, outLength);
    case TD_IOCTL_GET_STATS:
      return OnStats(irp, outLength);
    case TD_IOCTL_READ_RECORDS:
      return OnReadRecords(irp, inLength, outLength);
    case TD_IOCTL_SET_RESPONSE:
      return OnSetResponse(irp, inLength);
    case TD_IOCTL_WAIT_RECORD:
      return OnWaitRecord(irp, inLength, outLength);
    case TD_IOCTL_COPIER_WAIT:
      return OnCopierWait(irp, outLength);
    case TD_IOCTL_COPIER_DONE:
      return OnCopierDone(irp, inLength);
    case TD_IOCTL_SET_CANCELLABLE:
      return OnSetCancellable(irp, inLength);
    case TD_IOCTL_SET_HANG:
      return OnSetHang(irp, inLength);
    default:
      return CompleteNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

/* ---- load and unload ---- */

static UNICODE_STRING DeviceName(void) {
  UNICODE_STRING s;
  RtlInitUnicodeString(&s, L"\\Device\\cvn_tg");
  return s;
}

static UNICODE_STRING LinkName(void) {
  UNICODE_STRING s;
  RtlInitUnicodeString(&s, L"\\DosDevices\\cvn_tg");
  return s;
}

static VOID DriverUnload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link = LinkName();
  LIST_ENTRY done, taken;
  ULONG kind;
  KIRQL irql;
  UNREFERENCED_PARAMETER(driver);

  InterlockedExchange(&g.stopping, 1);
  KeSetEvent(&g.timerWake, IO_NO_INCREMENT, FALSE);
  if (g.timerThread) {
    ZwWaitForSingleObject(g.timerThread, FALSE, NULL);
    ZwClose(g.timerThread);
  }

  InitializeListHead(&done);
  InitializeListHead(&taken);
  Lock(&irql);
  for (kind = 0; kind < PK_COUNT; ++kind) {
    LIST_ENTRY* e = g.pending[kind].Flink;
    while (e != &g.pending[kind]) {
      Pending* p = CONTAINING_RECORD(e, Pending, link);
      e = e->Flink;
      if (Detach(p))
        Retire(p, STATUS_CANCELLED, 0, &done);
    }
  }
  TakeResponses(&taken);
  Unlock(irql);
  CompleteDone(&done);
  ReleaseResponses(&taken);

  IoDeleteSymbolicLink(&link);
  if (g.device)
    IoDeleteDevice(g.device);
  if (g.ring)
    ExFreePoolWithTag(g.ring, TD_TAG);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  UNICODE_STRING name = DeviceName();
  UNICODE_STRING link = LinkName();
  LARGE_INTEGER frequency;
  NTSTATUS status;
  ULONG kind;
  UNREFERENCED_PARAMETER(registryPath);

  RtlZeroMemory(&g, sizeof(g));
  KeInitializeSpinLock(&g.lock);
  KeInitializeEvent(&g.timerWake, SynchronizationEvent, FALSE);
  InitializeListHead(&g.responses);
  for (kind = 0; kind < PK_COUNT; ++kind)
    InitializeListHead(&g.pending[kind]);
  KeQueryPerformanceCounter(&frequency);
  g.qpcFrequency = frequency.QuadPart ? frequency.QuadPart : 1;

  g.ring = ExAllocatePoolWithTag(NonPagedPool, sizeof(RecordSlot) * TD_RING_CAPACITY, TD_TAG);
  if (!g.ring)
    return STATUS_INSUFFICIENT_RESOURCES;

  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g.device);
  if (!NT_SUCCESS(status))
    goto fail;
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status))
    goto fail;
  status =
      PsCreateSystemThread(&g.timerThread, THREAD_ALL_ACCESS, NULL, NULL, NULL, TimerThread, NULL);
  if (!NT_SUCCESS(status)) {
    g.timerThread = NULL;
    IoDeleteSymbolicLink(&link);
    goto fail;
  }

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanupOrClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCleanupOrClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = DriverUnload;
  return STATUS_SUCCESS;

fail:
  if (g.device)
    IoDeleteDevice(g.device);
  ExFreePoolWithTag(g.ring, TD_TAG);
  g.ring = NULL;
  return status;
}
