// The operator CLI's language: turns argument words (or a batch of lines) into
// the exact bytes of command records. No <windows.h> here, so that every byte
// the tool can send is checked natively, under the sanitizers too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mantletctl {

using Record = std::vector<std::uint8_t>;

// The outcome of parsing one command, or a batch of them. On failure `error`
// is one line naming the fault and `hint` one line saying what would be right
// (the offending command's usage, or where to look).
struct Parsed {
  std::vector<Record> records;
  std::string error;
  std::string hint;

  bool ok() const { return error.empty(); }
};

enum class Action { Help, Send, Batch, SignalOnly };

// What one invocation of the tool asks for. For Action::Send the records are
// already built; for Action::Batch the caller reads stdin and calls ParseBatch.
struct Invocation {
  Action action = Action::Help;
  bool signal = true;
  std::vector<Record> records;
  std::string error;
  std::string hint;

  bool ok() const { return error.empty(); }
};

// `words` are what follows `send` (or one batch line): the command's name and
// its arguments, in UTF-8. Invalid UTF-8 is an error, not something to pass on.
Parsed ParseCommand(const std::vector<std::string>& words);

// One command per line, same syntax as after `send`; blank lines and `#`
// comments are skipped. All lines must parse for any record to be returned,
// so a typo on line 9 never leaves lines 1-8 half sent.
Parsed ParseBatch(std::string_view utf8Text);

// The arguments after the program name.
Invocation ParseInvocation(const std::vector<std::string>& utf8Args);
Invocation ParseInvocation(const std::vector<std::u16string>& utf16Args);

// Builds one record. The module drops messages shorter than 44 bytes, so
// `pad` fills it with zeros up to that; only tests of the dropping clear it.
Record MakeRecord(std::uint32_t command, std::uint32_t arg,
                  const std::vector<std::uint8_t>& payload, bool pad = true);

// Splits a batch line into words: blanks separate, "double quotes" keep blanks
// and may be empty, \" and \\ escape inside quotes, and a # that begins an
// unquoted word starts a comment (so "C#" stays a word). nullopt when a quote
// is left open.
std::optional<std::vector<std::string>> SplitLine(std::string_view line);

// Decimal or 0x hex, optionally negative; anything that fits in 32 bits
// (-2147483648 to 4294967295) is accepted and returned as its bit pattern.
std::optional<std::uint32_t> ParseNumber32(std::string_view text);

std::string HelpText();

}  // namespace mantletctl
