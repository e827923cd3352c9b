// Long runs of the real module in the host stand-in: start/stop cycles must
// leave no resources behind, and a long stream of mixed records beside
// concurrent entry-point calls must be handled with nothing lost, repeated
// or reordered. The default run is a bounded slice; MANTLET_SOAK=long runs
// the full lengths (1,000 cycles each way, 100,000 records).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "scoped_registry.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

bool LongSoak() {
  char value[16] = {};
  return GetEnvironmentVariableA("MANTLET_SOAK", value, sizeof(value)) > 0 &&
         strcmp(value, "long") == 0;
}

// ---- start/stop cycles ----

struct Sample {
  double handles = 0, gdi = 0, user = 0, threads = 0, privateKiB = 0, heapKiB = 0;
};

bool ReadSample(HostProcess& host, Sample& out) {
  unsigned long handles, gdi, user;
  int threads;
  unsigned long long privateBytes, cpu, heap;
  const std::string line = host.Call("resources");
  if (sscanf(
          line.c_str(),
          "resources handles=%lu gdi=%lu user=%lu threads=%d private=%llu cpu100ns=%llu heap=%llu",
          &handles, &gdi, &user, &threads, &privateBytes, &cpu, &heap) != 7) {
    return false;
  }
  out = {double(handles), double(gdi),           double(user),
         double(threads), privateBytes / 1024.0, heap / 1024.0};
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// How far the late window's median may sit above the early one's. The
// windows sit 28 cycles apart in the default run and 700 in the long one,
// so a leak of one object a cycle overshoots every count several times over.
// The slack is what Wine itself may add now and then over a long run
// (lazily made handles and objects, a heap that grows in steps), never a
// per-cycle amount: a few handles, GDI objects and windows, no thread (every
// thread is joined at stop), 1 MiB of committed private memory and 256 KiB
// of heap blocks in use, which a leak of 16 KiB a cycle already exceeds.
struct Figure {
  const char* name;
  double Sample::*field;
  double slack;
};
constexpr Figure kFigures[] = {
    {"handles", &Sample::handles, 8},
    {"gdi", &Sample::gdi, 4},
    {"user", &Sample::user, 2},
    {"threads", &Sample::threads, 0},
    {"private KiB", &Sample::privateKiB, 1024},
    {"heap KiB", &Sample::heapKiB, 256},
};

class SoakStartStop : public ToolTest {
 protected:
  // Runs the cycles with the two host command lines and checks that no
  // figure trends upwards from an early window (after warm-up) to the last.
  void Cycle(const char* on, const char* off) {
    const int cycles = LongSoak() ? 1000 : 40;
    const int warmUp = cycles / 10, window = cycles / 5;
    std::vector<Sample> samples;
    Sample running;
    for (int i = 0; i < cycles; ++i) {
      ASSERT_EQ(host.CallForInt(on), 0) << "cycle " << i;
      if (i == 0) {
        ASSERT_TRUE(ReadSample(host, running));
      }
      ASSERT_EQ(host.CallForInt(off), 0) << "cycle " << i;
      Sample sample;
      ASSERT_TRUE(ReadSample(host, sample)) << "cycle " << i;
      samples.push_back(sample);
    }
    // The figures must see the module's own objects, or no leak could show.
    EXPECT_GT(running.handles, samples[0].handles);
    EXPECT_GT(running.user, samples[0].user);
    EXPECT_GT(running.threads, samples[0].threads);
    EXPECT_GT(running.privateKiB, samples[0].privateKiB);
    for (const Figure& figure : kFigures) {
      std::vector<double> early, late;
      for (int i = warmUp; i < warmUp + window; ++i)
        early.push_back(samples[i].*figure.field);
      for (int i = cycles - window; i < cycles; ++i)
        late.push_back(samples[i].*figure.field);
      const double from = Median(early), to = Median(late);
      printf("soak: %d cycles of %s/%s: %-11s early median %.0f, late median %.0f\n", cycles, on,
             off, figure.name, from, to);
      EXPECT_LE(to - from, figure.slack) << figure.name << " grew over " << cycles << " cycles";
    }
  }
};

TEST_F(SoakStartStop, direct_start_stop_cycles_leave_no_resources_behind) {
  Cycle("start", "stop");
}

TEST_F(SoakStartStop, session_notification_cycles_leave_no_resources_behind) {
  Cycle("notify 5", "notify 6");
}

// ---- mixed records ----

// What each valid record the stream checks leaves in the log, from the
// worker's thread; other valid records (13, 14) leave nothing to check.
const std::pair<int32_t, const char*> kTraced[] = {
    {7, "Unsupported command 'RelocateTaskBarCommand'"},
    {11, "Unsupported command 'AdjustWorkingAreaCommand'"},
    {12, "Unsupported command 'ShowMacMenuAppBarCommand'"},
    {10, "Check current layout resetHotkeys=1 currentUserKey=1"},
};

struct Stream {
  std::vector<Bytes> records;
  std::vector<size_t> expected;  // index into kTraced, in sending order
};

Bytes Garbage(std::mt19937& rng, size_t length) {
  Bytes bytes(length);
  for (uint8_t& b : bytes)
    b = static_cast<uint8_t>(rng());
  return bytes;
}

// Valid records with garbage after the command and argument, records shorter
// than a command, and numbers outside the commands, mixed at random.
Stream MakeStream(size_t count, uint32_t seed) {
  static const int32_t kOutOfRange[] = {0, 19, -1, INT_MIN, INT_MAX, 1000, -7};
  std::mt19937 rng(seed);
  Stream stream;
  for (size_t i = 0; i < count; ++i) {
    const unsigned roll = rng() % 100;
    const size_t length = 44 + rng() % 120;
    if (roll < 40) {
      const size_t traced = roll < 30 ? roll % 3 : 3;
      stream.records.push_back(Record(kTraced[traced].first, rng(), Garbage(rng, length - 8)));
      stream.expected.push_back(traced);
    } else if (roll < 50) {
      stream.records.push_back(Record(roll < 45 ? 13 : 14, rng(), Garbage(rng, length - 8)));
    } else if (roll < 75) {
      Bytes shortOne = Record(kTraced[roll % 3].first, rng(), Garbage(rng, 36));
      shortOne.resize(rng() % 44);
      stream.records.push_back(shortOne);
    } else {
      const int32_t command = roll < 95 ? kOutOfRange[roll % 7] : static_cast<int32_t>(rng());
      const bool inRange = command >= 1 && command <= 18;
      stream.records.push_back(Record(inRange ? 0 : command, rng(), Garbage(rng, length - 8)));
    }
  }
  return stream;
}

// "/Mantlet:<pid>:<tid>/ " (both in hex) -> tid; 0 when the line has none.
unsigned long LineThread(const std::string& line) {
  const size_t at = line.find("/Mantlet:");
  unsigned long pid = 0, tid = 0;
  return at != std::string::npos && sscanf(line.c_str() + at, "/Mantlet:%lx:%lx/", &pid, &tid) == 2
             ? tid
             : 0;
}

// The traced lines of the command worker, as indexes into kTraced. The
// worker is the thread that logs the unsupported commands; the hotkey check
// is also made by other threads (the host's notifications, the layout
// watcher), which are left out.
std::vector<size_t> WorkerTrace(const std::vector<std::string>& lines) {
  unsigned long worker = 0;
  for (const std::string& line : lines) {
    if (LogMessage(line).rfind("Unsupported command '", 0) == 0) {
      worker = LineThread(line);
      break;
    }
  }
  std::vector<size_t> trace;
  for (const std::string& line : lines) {
    if (worker == 0 || LineThread(line) != worker)
      continue;
    const std::string message = LogMessage(line);
    for (size_t k = 0; k < std::size(kTraced); ++k) {
      if (message.rfind(kTraced[k].second, 0) == 0)
        trace.push_back(k);
    }
  }
  return trace;
}

class SoakRecords : public ToolTest {
 protected:
  void SetUp() override {}  // the version must be set before the host starts
};

TEST_F(SoakRecords, mixed_records_beside_entry_point_calls_are_each_handled_once_in_order) {
  // From Windows 8 on, VConfigChanged asks the host's option getter.
  ScopedWineVersion win8(L"mantlet_host.exe", L"win8");
  ToolTest::SetUp();
  ASSERT_EQ(StartTool(), 0);
  const size_t count = LongSoak() ? 100000 : 5000;
  // A new stream each run; MANTLET_SOAK_SEED replays the one a failure names.
  char seedText[16] = {};
  const uint32_t seed = GetEnvironmentVariableA("MANTLET_SOAK_SEED", seedText, sizeof(seedText)) > 0
                            ? static_cast<uint32_t>(strtoul(seedText, nullptr, 10))
                            : static_cast<uint32_t>(GetTickCount64());
  const Stream stream = MakeStream(count, seed);
  SCOPED_TRACE("seed " + std::to_string(seed));

  // Notifications that leave the tool running, each followed by
  // VConfigChanged, from a thread of the host for as long as the stream runs.
  ASSERT_EQ(host.Call("churn 5 9 10 12 42"), "churn=started");

  // Wine's mailslot queues a few hundred small messages and then blocks the
  // writer until the reader takes some: the writer signals only after each
  // thousand, so the worker must take records off a full slot without
  // waiting for the signal, as for a host side in trouble.
  constexpr size_t kBatch = 1000;
  std::atomic<bool> written{false}, writeFailed{false};
  const ULONGLONG began = GetTickCount64();
  std::thread writer([&] {
    for (size_t at = 0; at < stream.records.size() && !writeFailed; at += kBatch) {
      const size_t end = std::min(at + kBatch, stream.records.size());
      if (!SendRecords(
              std::vector<Bytes>(stream.records.begin() + at, stream.records.begin() + end)))
        writeFailed = true;
    }
    written = true;
  });
  // A stuck worker shows as a writer that no longer gets rid of its records.
  const bool finished =
      WaitUntil([&] { return written.load(); }, LongSoak() ? 1800000 : 60000, 100);
  if (!finished)
    host.Kill();  // ends the blocked write
  writer.join();
  ASSERT_TRUE(finished) << "the records could not be written: the worker stopped reading";
  ASSERT_FALSE(writeFailed);

  const bool caughtUp = WaitUntil(
      [&] { return WorkerTrace(log.Lines()).size() >= stream.expected.size(); }, 60000, 500);
  const double seconds = (GetTickCount64() - began) / 1000.0;

  const int churnCalls = host.CallForInt("churn stop");
  EXPECT_GT(churnCalls, 100) << "the entry points were hardly called during the stream";
  ASSERT_TRUE(host.Running()) << "the host ended during the stream";
  EXPECT_EQ(StopTool(), 0);
  printf("soak: %zu records (%zu traced) in %.1f s, %d entry-point calls beside them\n", count,
         stream.expected.size(), seconds, churnCalls);

  const std::vector<size_t> trace = WorkerTrace(log.Lines());
  EXPECT_TRUE(caughtUp) << "handled " << trace.size() << " of " << stream.expected.size();
  EXPECT_EQ(trace.size(), stream.expected.size());
  const auto diverged =
      std::mismatch(trace.begin(), trace.end(), stream.expected.begin(), stream.expected.end());
  EXPECT_TRUE(diverged.first == trace.end() && diverged.second == stream.expected.end())
      << "the handled records part from the sent ones at traced record "
      << (diverged.first - trace.begin());
}

TEST_F(SoakRecords, record_behind_a_run_of_empty_messages_is_handled_on_the_same_signal) {
  ToolTest::SetUp();
  ASSERT_EQ(StartTool(), 0);
  // Wine fails the read of an empty message while taking it off the slot;
  // a run of them must not make the worker leave the rest for a later signal.
  std::vector<Bytes> records(40, Bytes{});
  records.push_back(Record(7, 0));
  ASSERT_TRUE(SendRecords(records));
  EXPECT_TRUE(log.WaitFor("Unsupported command 'RelocateTaskBarCommand'", 10000));
}

}  // namespace
}  // namespace testsupport
