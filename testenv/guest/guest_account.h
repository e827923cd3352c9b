// The account of one simulated-guest run: what the scenario did and what the
// module did in the guest, kept as plain values while the run goes on, then
// written out as text and as one HTML page. No <windows.h> here: the writers
// only lay out what the run collected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace guestsim {

struct StepRecord {
  enum Kind { kAction, kSay, kSection };
  Kind kind = kAction;
  int line = 0;
  std::string text;  // the scenario line (for say/section: the words after the verb)
  std::string outcome;
  bool failed = false;
  double seconds = 0;
  std::string image;  // screenshot base name (the page shows <image>.png)
  std::string caption;
};

// One command record the scenario sent, and the step that sent it.
struct SentCommand {
  size_t step = 0;
  uint32_t command = 0;
  uint32_t arg = 0;
  size_t bytes = 0;
};

struct DeviceRequestRecord {
  uint32_t seq = 0;
  uint32_t code = 0;
  uint32_t status = 0;
  bool pending = false;
  std::optional<std::pair<uint32_t, uint32_t>> words;  // first two payload words of a report
};

struct HostMessageRecord {
  enum Kind { kRegister, kUnregister, kLog, kEnd, kOther };
  Kind kind = kOther;
  std::string text;
};

// Something in the guest seen to appear, change or go between two steps: a
// registry value of a watched key, a mapped drive, a file in the Links folder.
// An absent `before` means it appeared, an absent `after` that it went.
struct Change {
  enum Kind { kRegistry, kDrive, kFile };
  Kind kind = kRegistry;
  size_t step = 0;    // index into Account::steps of the step after which it was seen
  std::string where;  // key, drive letter, folder
  std::string name;   // value name, share, file name
  std::optional<std::string> before;
  std::optional<std::string> after;
};

struct Account {
  std::string scenario;
  std::vector<StepRecord> steps;
  std::vector<SentCommand> commands;
  std::vector<DeviceRequestRecord> device;
  std::vector<HostMessageRecord> host;
  std::vector<Change> changes;
  std::vector<std::string> appbarMessages;
  std::vector<std::string> logLines;
  double seconds = 0;

  size_t Failures() const;
};

struct CountRow {
  uint32_t code = 0;
  std::string name;
  size_t count = 0;
};

// Commands by number and device requests by code, in ascending order.
std::vector<CountRow> CountCommands(const std::vector<SentCommand>& commands);
std::vector<CountRow> CountRequests(const std::vector<DeviceRequestRecord>& requests);
std::string RequestName(uint32_t code);
std::string CommandName(uint32_t command);
// The operator CLI's word for a command number ("taskbar"), empty if none.
std::string CommandVerb(uint32_t command);

// What one observer sees at a moment: (where, name) -> value.
using Snapshot = std::map<std::pair<std::string, std::string>, std::string>;
// Appends what differs between two snapshots, in (where, name) order.
void Diff(Change::Kind kind, const Snapshot& before, const Snapshot& after, size_t step,
          std::vector<Change>& out);

// One stretch of time something was there: from the step it appeared after
// to the step it went after (none: still there at the end), with the value
// it came with and the last one it had.
struct Period {
  std::string where;
  std::string name;
  std::string value;
  std::string last;
  size_t from = 0;
  std::optional<size_t> to;
};
std::vector<Period> Periods(const std::vector<Change>& changes, Change::Kind kind);
// Values that were there before and after a change (both sides present).
std::vector<Change> Modifications(const std::vector<Change>& changes, Change::Kind kind);

std::string HtmlEscape(std::string_view text);
std::string TextAccount(const Account& account);
// Each screenshot is an <img> on a line of its own whose src is "<name>.png",
// so that a script can put the picture itself in its place.
std::string HtmlAccount(const Account& account);

}  // namespace guestsim
