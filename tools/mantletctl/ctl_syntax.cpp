#include "ctl_syntax.h"

#include <algorithm>
#include <initializer_list>

#include "core/bytes.h"
#include "core/command_record.h"
#include "core/utf.h"
#include "taskbar/indent_entry.h"

namespace mantletctl {
namespace {

using Args = std::vector<std::string>;  // the words after the command's name
using Bytes = std::vector<std::uint8_t>;
using mantlet::AppendU32;
using enum mantlet::CommandId;

// The shared converters replace malformed input with U+FFFD, as the module's
// receiving side must; a sender should refuse it instead, and a conversion
// that does not survive the way back is exactly a malformed input.
bool IsValidUtf8(std::string_view text) {
  return mantlet::Utf16ToUtf8(mantlet::Utf8ToUtf16(text)) == text;
}

std::optional<std::string> StrictUtf16ToUtf8(std::u16string_view text) {
  std::string utf8 = mantlet::Utf16ToUtf8(text);
  if (mantlet::Utf8ToUtf16(utf8) != text)
    return std::nullopt;
  return utf8;
}

std::string Quoted(std::string_view word) {
  return "'" + std::string(word) + "'";
}

// A builder fills `out` or says in `why` what is wrong (without the command's
// name, which the caller puts in front).
using Build = bool (*)(const Args& args, Record& out, std::string& why);

struct Command {
  std::string_view name;
  std::string_view numbers;  // record numbers, for the help text
  std::string_view usage;    // what follows `send`
  std::string_view example;  // ditto
  std::string_view meaning;  // may hold '\n'; continuation lines are indented
  Build build;
};

struct Choice {
  std::string_view word;
  std::uint32_t command;
  std::uint32_t arg;
};

bool BuildChoice(const Args& args, std::initializer_list<Choice> choices, Record& out,
                 std::string& why) {
  std::string expected;
  for (const Choice& c : choices) {
    if (args.size() == 1 && args[0] == c.word) {
      out = MakeRecord(c.command, c.arg, {});
      return true;
    }
    expected += (expected.empty() ? "" : " or ") + Quoted(c.word);
  }
  why = "expected " + expected;
  if (args.size() == 1)
    why += ", got " + Quoted(args[0]);
  if (args.size() > 1)
    why += ", got " + std::to_string(args.size()) + " words";
  return false;
}

template <std::uint32_t Id>
bool BuildPlain(const Args& args, Record& out, std::string& why) {
  if (!args.empty()) {
    why = "takes no arguments, got " + Quoted(args[0]);
    return false;
  }
  out = MakeRecord(Id, 0, {});
  return true;
}

bool ParseNumberArg(std::string_view what, std::string_view text, std::uint32_t& value,
                    std::string& why) {
  if (auto n = ParseNumber32(text)) {
    value = *n;
    return true;
  }
  why = std::string(what) + " " + Quoted(text) + " is not a 32-bit number (decimal or 0x hex)";
  return false;
}

bool BuildVolumes(const Args& args, Record& out, std::string&) {
  Bytes payload;
  for (const std::string& name : args) {
    payload.insert(payload.end(), name.begin(), name.end());
    payload.push_back(0);
  }
  out =
      MakeRecord(kToggleMountedVolumesCommand, static_cast<std::uint32_t>(payload.size()), payload);
  return true;
}

bool BuildMsgbox(const Args& args, Record& out, std::string& why) {
  std::uint32_t type = 0;
  std::size_t i = 0;
  for (; i < args.size() && args[i].starts_with("--"); ++i) {
    if (args[i] == "--") {
      ++i;
      break;
    }
    if (args[i] != "--type") {
      why = "unknown option " + Quoted(args[i]);
      return false;
    }
    if (++i == args.size()) {
      why = "--type needs a number";
      return false;
    }
    if (!ParseNumberArg("type", args[i], type, why))
      return false;
  }
  if (args.size() - i != 2) {
    why = "expected a text and a caption, got " + std::to_string(args.size() - i) + " word(s)";
    return false;
  }
  Bytes payload;
  AppendU32(payload, type);
  for (std::size_t k = i; k < i + 2; ++k) {
    // Words were checked as UTF-8 before any builder runs.
    for (char16_t unit : mantlet::Utf8ToUtf16(args[k])) {
      payload.push_back(static_cast<std::uint8_t>(unit & 0xFF));
      payload.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    payload.insert(payload.end(), {0, 0});
  }
  out = MakeRecord(kShowMessageBoxCommand, 0, payload);
  return true;
}

bool BuildVmColor(const Args& args, Record& out, std::string& why) {
  std::uint32_t colour = 0;
  if (args.size() != 1) {
    why = "expected one colour number";
    return false;
  }
  if (!ParseNumberArg("colour", args[0], colour, why))
    return false;
  out = MakeRecord(kSetVmColorCommand, colour, {});
  return true;
}

bool BuildIndents(const Args& args, Record& out, std::string& why) {
  Bytes payload;
  for (const std::string& entry : args) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
      const std::size_t comma = entry.find(',', start);
      fields.push_back(std::string_view(entry).substr(start, comma - start));
      if (comma == std::string::npos)
        break;
      start = comma + 1;
    }
    if (fields.size() != mantlet::kIndentEntrySize / 4) {
      why = "entry " + Quoted(entry) + " needs six numbers x,y,left,top,right,bottom";
      return false;
    }
    for (std::string_view field : fields) {
      std::uint32_t value = 0;
      if (!ParseNumberArg("field", field, value, why)) {
        why += " in entry " + Quoted(entry);
        return false;
      }
      AppendU32(payload, value);
    }
  }
  out = MakeRecord(kSetIndentsCommand, static_cast<std::uint32_t>(payload.size()), payload);
  return true;
}

bool BuildBrowsers(const Args& args, Record& out, std::string& why) {
  if (args.size() == 1 && args[0] != "apply" && args[0] != "report") {
    if (auto n = ParseNumber32(args[0])) {
      out = MakeRecord(kBrowsersCommand, *n, {});
      return true;
    }
  }
  if (BuildChoice(args, {{"apply", kBrowsersCommand, 3}, {"report", kBrowsersCommand, 4}}, out,
                  why))
    return true;
  why += " (or a number)";
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool BuildRaw(const Args& args, Record& out, std::string& why) {
  bool pad = true;
  std::size_t i = 0;
  if (!args.empty() && args[0] == "--no-pad") {
    pad = false;
    i = 1;
  }
  if (args.size() - i < 2) {
    why = "expected a command number and an arg";
    return false;
  }
  std::uint32_t command = 0;
  std::uint32_t arg = 0;
  if (!ParseNumberArg("command number", args[i], command, why) ||
      !ParseNumberArg("arg", args[i + 1], arg, why))
    return false;
  Bytes payload;
  for (std::size_t k = i + 2; k < args.size(); ++k) {
    const std::string& hex = args[k];
    bool good = hex.size() % 2 == 0;
    for (std::size_t d = 0; good && d < hex.size(); d += 2) {
      const int hi = HexDigit(hex[d]);
      const int lo = HexDigit(hex[d + 1]);
      good = hi >= 0 && lo >= 0;
      payload.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    if (!good) {
      why = "payload " + Quoted(hex) + " is not hex bytes (pairs of hex digits, such as 0a1b)";
      return false;
    }
  }
  out = MakeRecord(command, arg, payload, pad);
  return true;
}

const Command kCommands[] = {
    {"recycle", "1, 2", "recycle empty|show", "recycle empty",
     "empty the recycle bin (1) or open it (2)",
     [](const Args& a, Record& r, std::string& w) {
       return BuildChoice(
           a, {{"empty", kEmptyRecycleBinCommand, 0}, {"show", kShowRecycleBinCommand, 0}}, r, w);
     }},
    {"shares", "3", "shares on|off", "shares on",
     "map the host's shared folders to drives, or unmap them",
     [](const Args& a, Record& r, std::string& w) {
       return BuildChoice(
           a, {{"on", kToggleShareMappingCommand, 1}, {"off", kToggleShareMappingCommand, 0}}, r,
           w);
     }},
    {"taskbar", "4", "taskbar show|hide", "taskbar hide", "show or hide the taskbars",
     [](const Args& a, Record& r, std::string& w) {
       return BuildChoice(
           a, {{"show", kToggleTaskbarCommand, 1}, {"hide", kToggleTaskbarCommand, 0}}, r, w);
     }},
    {"desktop", "5", "desktop toggle", "desktop toggle", "toggle the shell's show-desktop state",
     [](const Args& a, Record& r, std::string& w) {
       return BuildChoice(a, {{"toggle", kToggleDesktopCommand, 0}}, r, w);
     }},
    {"volumes", "6", "volumes [name...]", R"(volumes "Host Disk C" Music)",
     "map exactly these host volumes; names go out as UTF-8, each ended by a\n"
     "zero byte; arg = byte count; no names = empty list",
     BuildVolumes},
    {"relocate-taskbar", "7", "relocate-taskbar", "relocate-taskbar",
     "unsupported by the module: logged only", BuildPlain<kRelocateTaskBarCommand>},
    {"weave", "8", "weave on|off", "weave on", "integration mode on or off",
     [](const Args& a, Record& r, std::string& w) {
       return BuildChoice(a,
                          {{"on", kNotifyWeaveStateChangedCommand, 1},
                           {"off", kNotifyWeaveStateChangedCommand, 0}},
                          r, w);
     }},
    {"msgbox", "9", "msgbox [--type N] <text> <caption>",
     R"(msgbox --type 0x40 "Backup done" "Host")",
     "show a message box; type (default 0) at offset 8, then text and caption\n"
     "as UTF-16LE, each ended by a zero unit; arg 0",
     BuildMsgbox},
    {"hotkeys", "10", "hotkeys", "hotkeys", "check and report the keyboard-layout hotkeys",
     BuildPlain<kCheckKeyboardHotkeysCommand>},
    {"adjust-workarea", "11", "adjust-workarea", "adjust-workarea",
     "unsupported by the module: logged only", BuildPlain<kAdjustWorkingAreaCommand>},
    {"mac-menu-appbar", "12", "mac-menu-appbar", "mac-menu-appbar",
     "unsupported by the module: logged only", BuildPlain<kShowMacMenuAppBarCommand>},
    {"vmcolor", "14", "vmcolor <colour>", "vmcolor 0xCCCCCC",
     "set the integration-mode desktop colour; the number is sent unchanged\n"
     "as arg (the module's colours are 0x00BBGGRR)",
     BuildVmColor},
    {"cursor", "15", "cursor", "cursor", "refresh the guest cursor",
     BuildPlain<kUpdateGuestCursorCommand>},
    {"edu", "16", "edu", "edu", "start the education application",
     BuildPlain<kShowGlimmerEduCommand>},
    {"indents", "17", "indents [x,y,left,top,right,bottom...]",
     "indents 0,0,-1,30,-1,-1 1920,0,0,0,0,0",
     "reserve edge strips, one 24-byte entry per word of six signed numbers\n"
     "(-1 leaves an edge, 0 removes its strip); arg = byte count; none = empty",
     BuildIndents},
    {"browsers", "18", "browsers apply|report|<n>", "browsers report",
     "apply search settings (arg 3), report browsers (arg 4), or any arg", BuildBrowsers},
    {"raw", "any", "raw [--no-pad] <number> <arg> [hex bytes...]", "raw --no-pad 4 0 00000000",
     "any record, invalid numbers (0, 13, 19) included; payload from words of\n"
     "hex digit pairs; --no-pad leaves a record shorter than 44 bytes short",
     BuildRaw},
};

const Command* FindCommand(std::string_view name) {
  for (const Command& c : kCommands)
    if (c.name == name)
      return &c;
  return nullptr;
}

constexpr std::string_view kHelpHint = "run 'mantletctl help' for the list of commands";

bool IsGlobalOption(std::string_view word) {
  return word == "--no-signal" || word == "--signal-only";
}

bool IsHelpWord(std::string_view word) {
  return word == "help" || word == "-h" || word == "--help" || word == "/?";
}

}  // namespace

Record MakeRecord(std::uint32_t command, std::uint32_t arg,
                  const std::vector<std::uint8_t>& payload, bool pad) {
  Record r;
  r.reserve(
      std::max(mantlet::kMinCommandRecordSize, mantlet::kCommandPayloadOffset + payload.size()));
  AppendU32(r, command);
  AppendU32(r, arg);
  r.insert(r.end(), payload.begin(), payload.end());
  if (pad && r.size() < mantlet::kMinCommandRecordSize)
    r.resize(mantlet::kMinCommandRecordSize, 0);
  return r;
}

std::optional<std::uint32_t> ParseNumber32(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative)
    text.remove_prefix(1);
  unsigned base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty())
    return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0 || static_cast<unsigned>(d) >= base)
      return std::nullopt;
    value = value * base + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFull)
      return std::nullopt;
  }
  if (negative) {
    if (value > 0x80000000ull)
      return std::nullopt;
    return static_cast<std::uint32_t>(0x100000000ull - value);
  }
  return static_cast<std::uint32_t>(value);
}

Parsed ParseCommand(const std::vector<std::string>& words) {
  Parsed p;
  if (words.empty()) {
    p.error = "no command given";
    p.hint = kHelpHint;
    return p;
  }
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (!IsValidUtf8(words[i])) {
      p.error = "word " + std::to_string(i + 1) + " is not valid UTF-8";
      p.hint = "names and texts must be UTF-8 text";
      return p;
    }
  }
  const Command* command = FindCommand(words[0]);
  if (!command) {
    p.error = "unknown command " + Quoted(words[0]);
    p.hint = ParseNumber32(words[0])
                 ? "to send a record by number, use: raw " + words[0] + " <arg> [hex bytes...]"
                 : std::string(kHelpHint);
    return p;
  }
  Record record;
  std::string why;
  if (!command->build(Args(words.begin() + 1, words.end()), record, why)) {
    p.error = std::string(command->name) + ": " + why;
    p.hint =
        "usage: " + std::string(command->usage) + "  (e.g. " + std::string(command->example) + ")";
    return p;
  }
  p.records.push_back(std::move(record));
  return p;
}

std::optional<std::vector<std::string>> SplitLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
        word += line[++i];
      } else {
        word += c;
      }
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (inWord)
        words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else if (c == '#' && !inWord) {
      break;
    } else {
      inWord = true;
      if (c == '"')
        quoted = true;
      else
        word += c;
    }
  }
  if (quoted)
    return std::nullopt;
  if (inWord)
    words.push_back(std::move(word));
  return words;
}

Parsed ParseBatch(std::string_view text) {
  Parsed all;
  auto fail = [](std::string error, std::string hint) {
    Parsed p;
    p.error = std::move(error);
    p.hint = std::move(hint);
    return p;
  };
  if (text.starts_with("\xEF\xBB\xBF"))
    text.remove_prefix(3);
  std::size_t lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::string where = "line " + std::to_string(lineNo) + ": ";
    auto words = SplitLine(line);
    if (!words)
      return fail(where + "a double quote is left open",
                  R"(close it; inside quotes write \" for a quote and \\ for a backslash)");
    if (words->empty())
      continue;
    Parsed one = ParseCommand(*words);
    if (!one.ok())
      return fail(where + one.error, std::move(one.hint));
    all.records.push_back(std::move(one.records.front()));
  }
  if (all.records.empty())
    return fail("batch: no commands on stdin",
                "give one command per line, written as after 'send', e.g. taskbar hide");
  return all;
}

Invocation ParseInvocation(const std::vector<std::string>& args) {
  Invocation inv;
  bool noSignal = false;
  bool signalOnly = false;
  std::size_t i = 0;
  for (; i < args.size() && IsGlobalOption(args[i]); ++i) {
    if (args[i] == "--no-signal")
      noSignal = true;
    else
      signalOnly = true;
  }
  inv.signal = !noSignal;

  auto fail = [&inv](std::string error, std::string hint) {
    inv.error = std::move(error);
    inv.hint = std::move(hint);
    return inv;
  };
  if (noSignal && signalOnly)
    return fail("--no-signal and --signal-only exclude each other", std::string(kHelpHint));
  if (i == args.size()) {
    if (signalOnly) {
      inv.action = Action::SignalOnly;
      return inv;
    }
    return fail("nothing to do", "usage: mantletctl [--no-signal] send <command> [arguments...]; " +
                                     std::string(kHelpHint));
  }
  const std::string& verb = args[i];
  if (IsHelpWord(verb)) {
    inv.action = Action::Help;
    return inv;
  }
  if (signalOnly)
    return fail("--signal-only sends no records, so it takes no " + Quoted(verb), "use it alone");
  if (verb == "batch") {
    if (i + 1 != args.size())
      return fail("batch takes its commands from stdin, got " + Quoted(args[i + 1]),
                  "usage: mantletctl [--no-signal] batch < commands.txt");
    inv.action = Action::Batch;
    return inv;
  }
  if (verb == "send") {
    if (i + 1 < args.size() && IsGlobalOption(args[i + 1]))
      return fail(Quoted(args[i + 1]) + " goes before 'send'",
                  "e.g. mantletctl " + args[i + 1] + " send cursor");
    Parsed p = ParseCommand(
        std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end()));
    if (!p.ok())
      return fail(std::move(p.error), std::move(p.hint));
    inv.action = Action::Send;
    inv.records = std::move(p.records);
    return inv;
  }
  if (verb.starts_with("-"))
    return fail("unknown option " + Quoted(verb), std::string(kHelpHint));
  return fail("unknown action " + Quoted(verb),
              FindCommand(verb) ? "commands go after 'send': mantletctl send " + verb + " ..."
                                : std::string(kHelpHint));
}

Invocation ParseInvocation(const std::vector<std::u16string>& args) {
  std::vector<std::string> utf8;
  for (std::size_t i = 0; i < args.size(); ++i) {
    auto converted = StrictUtf16ToUtf8(args[i]);
    if (!converted) {
      Invocation inv;
      inv.error =
          "argument " + std::to_string(i + 1) + " is not valid UTF-16 (an unpaired surrogate)";
      inv.hint = "names and texts must be Unicode text";
      return inv;
    }
    utf8.push_back(std::move(*converted));
  }
  return ParseInvocation(utf8);
}

std::string HelpText() {
  std::string h = R"(mantletctl sends command records to a running Mantlet.

Usage:
  mantletctl [--no-signal] send <command> [arguments...]
  mantletctl [--no-signal] batch < commands.txt
  mantletctl --signal-only
  mantletctl help

  send           write one record into \\.\mailslot\cvn_Mantlet, then signal
                 Local\cvn_MantletCmdEvent once
                   mantletctl send taskbar hide
  batch          read commands from stdin (UTF-8), one per line, written as
                 after 'send'; blank lines and # comments are skipped, "double
                 quotes" keep blanks (\" and \\ inside them); all records are
                 written, then the event is signalled once; if any line is
                 wrong, nothing is sent
                   printf 'taskbar hide\nmsgbox "Hi" "Host"\n' | mantletctl batch
  --no-signal    write the records but leave the event alone
                   mantletctl --no-signal send cursor
  --signal-only  signal the event once and write nothing
                   mantletctl --signal-only

Commands (record number, syntax, what it does, example):
)";
  for (const Command& c : kCommands) {
    std::string line = "  " + std::string(c.numbers);
    line.resize(8, ' ');
    h += line + std::string(c.usage) + "\n          ";
    for (char ch : c.meaning) {
      h += ch;
      if (ch == '\n')
        h.append(10, ' ');
    }
    h += "\n            mantletctl send " + std::string(c.example) + "\n";
  }
  h += R"(
Records shorter than 44 bytes are padded with zeros to 44 (except raw --no-pad):
int32 command at offset 0, uint32 arg at 4, payload from 8, little-endian.
Numbers are decimal or 0x hex, optionally negative: anything that fits in 32
bits (-2147483648 to 4294967295).

Exit status: 0 sent; 2 usage error; 3 Mantlet is not running (its mailslot is
absent, or with --signal-only its event); 4 writing or signalling failed.
)";
  return h;
}

}  // namespace mantletctl
