#include "guest_account.h"

#include <cstdio>
#include <map>
#include <utility>

#include "core/command_record.h"
#include "core/device_request.h"

namespace guestsim {
namespace {

std::string Format(const char* format, auto... args) {
  const int length = snprintf(nullptr, 0, format, args...);
  if (length <= 0)
    return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  snprintf(text.data(), text.size(), format, args...);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string Hex(uint32_t value) {
  return Format("0x%X", value);
}

std::string Seconds(double seconds) {
  return Format("%.1f s", seconds);
}

// "line 140 (send weave on)", how a change or a period names its step.
std::string StepRef(const Account& account, size_t step) {
  if (step >= account.steps.size())
    return "the end";
  const StepRecord& s = account.steps[step];
  return "line " + std::to_string(s.line) + " (" + s.text + ")";
}

size_t Actions(const Account& account) {
  size_t actions = 0;
  for (const StepRecord& s : account.steps)
    actions += s.kind == StepRecord::kAction ? 1 : 0;
  return actions;
}

size_t HostCount(const Account& account, HostMessageRecord::Kind kind) {
  size_t count = 0;
  for (const HostMessageRecord& m : account.host)
    count += m.kind == kind ? 1 : 0;
  return count;
}

std::string Value(const std::optional<std::string>& value) {
  return value ? *value : "(absent)";
}

// "1 (0x1)", or "1 (0x1), later 0 (0x0)" when it changed while there.
std::string PeriodValue(const Period& p) {
  return p.last == p.value ? p.value : p.value + ", later " + p.last;
}

// The at-a-glance lines, shared by both writers: label and figure.
std::vector<std::pair<std::string, std::string>> Glance(const Account& account) {
  size_t shots = 0;
  for (const StepRecord& s : account.steps)
    shots += s.image.empty() ? 0 : 1;
  const auto requests = CountRequests(account.device);
  return {
      {"steps", std::to_string(Actions(account)) + ", " + std::to_string(account.Failures()) +
                    " failed, " + Seconds(account.seconds)},
      {"commands sent", std::to_string(account.commands.size()) + " records of " +
                            std::to_string(CountCommands(account.commands).size()) + " kinds"},
      {"device requests",
       std::to_string(account.device.size()) + " of " + std::to_string(requests.size()) + " kinds"},
      {"host messages",
       std::to_string(HostCount(account, HostMessageRecord::kRegister)) + " registrations, " +
           std::to_string(HostCount(account, HostMessageRecord::kUnregister)) +
           " unregistrations, " + std::to_string(HostCount(account, HostMessageRecord::kLog)) +
           " log lines"},
      {"registry values",
       std::to_string(Periods(account.changes, Change::kRegistry).size()) + " saved or created, " +
           std::to_string(Modifications(account.changes, Change::kRegistry).size()) +
           " changes of existing values"},
      {"drives mapped", std::to_string(Periods(account.changes, Change::kDrive).size())},
      {"files created", std::to_string(Periods(account.changes, Change::kFile).size())},
      {"screenshots", std::to_string(shots)},
  };
}

}  // namespace

size_t Account::Failures() const {
  size_t failures = 0;
  for (const StepRecord& s : steps)
    failures += s.failed ? 1 : 0;
  return failures;
}

std::string RequestName(uint32_t code) {
  switch (code) {
    case mantlet::kHostEventWaitRequest:
      return "host event wait";
    case mantlet::kHostShareListRequest:
      return "host share list";
    case mantlet::kHostPlatformCodeRequest:
      return "host platform code";
    case mantlet::kTaskbarStateReport:
      return "taskbar/desktop state report";
    case mantlet::kKeyboardHotkeysReport:
      return "keyboard hotkeys report";
    case mantlet::kBrowserInfoReport:
      return "browser information report";
    default:
      return "unknown request";
  }
}

std::string CommandName(uint32_t command) {
  if (command < 1 || command > 18)
    return "(no such command)";
  const char* name = mantlet::CommandName(static_cast<int32_t>(command));
  return name != nullptr ? name : "(no name)";
}

std::string CommandVerb(uint32_t command) {
  static const char* const kVerbs[] = {"",
                                       "recycle empty",
                                       "recycle show",
                                       "shares",
                                       "taskbar",
                                       "desktop",
                                       "volumes",
                                       "relocate-taskbar",
                                       "weave",
                                       "msgbox",
                                       "hotkeys",
                                       "adjust-workarea",
                                       "mac-menu-appbar",
                                       "",
                                       "vmcolor",
                                       "cursor",
                                       "edu",
                                       "indents",
                                       "browsers"};
  return command < sizeof(kVerbs) / sizeof(kVerbs[0]) ? kVerbs[command] : "";
}

std::vector<CountRow> CountCommands(const std::vector<SentCommand>& commands) {
  std::map<uint32_t, size_t> counts;
  for (const SentCommand& c : commands)
    ++counts[c.command];
  std::vector<CountRow> rows;
  for (const auto& [command, count] : counts)
    rows.push_back({command, CommandName(command), count});
  return rows;
}

std::vector<CountRow> CountRequests(const std::vector<DeviceRequestRecord>& requests) {
  std::map<uint32_t, size_t> counts;
  for (const DeviceRequestRecord& r : requests)
    ++counts[r.code];
  std::vector<CountRow> rows;
  for (const auto& [code, count] : counts)
    rows.push_back({code, RequestName(code), count});
  return rows;
}

std::vector<Period> Periods(const std::vector<Change>& changes, Change::Kind kind) {
  std::vector<Period> periods;
  std::map<std::pair<std::string, std::string>, size_t> open;  // -> index into periods
  for (const Change& c : changes) {
    if (c.kind != kind)
      continue;
    const auto id = std::make_pair(c.where, c.name);
    if (!c.before && c.after) {
      open[id] = periods.size();
      periods.push_back({c.where, c.name, *c.after, *c.after, c.step, std::nullopt});
    } else if (const auto it = open.find(id); it != open.end()) {
      if (c.after) {
        periods[it->second].last = *c.after;
      } else {
        periods[it->second].to = c.step;
        open.erase(it);
      }
    }
  }
  return periods;
}

void Diff(Change::Kind kind, const Snapshot& before, const Snapshot& after, size_t step,
          std::vector<Change>& out) {
  auto b = before.begin();
  auto a = after.begin();
  while (b != before.end() || a != after.end()) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      out.push_back({kind, step, b->first.first, b->first.second, b->second, std::nullopt});
      ++b;
    } else if (b == before.end() || a->first < b->first) {
      out.push_back({kind, step, a->first.first, a->first.second, std::nullopt, a->second});
      ++a;
    } else {
      if (a->second != b->second)
        out.push_back({kind, step, a->first.first, a->first.second, b->second, a->second});
      ++a;
      ++b;
    }
  }
}

std::vector<Change> Modifications(const std::vector<Change>& changes, Change::Kind kind) {
  std::vector<Change> found;
  for (const Change& c : changes) {
    if (c.kind == kind && c.before && c.after)
      found.push_back(c);
  }
  return found;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string TextAccount(const Account& account) {
  std::string out = "Mantlet in a simulated guest: " + account.scenario + "\n";
  out += Format("%zu steps, %zu failed, %s\n", Actions(account), account.Failures(),
                Seconds(account.seconds).c_str());

  out += "\n== Scenario ==\n";
  for (const StepRecord& s : account.steps) {
    if (s.kind == StepRecord::kSection) {
      out += "\n-- " + s.text + " --\n";
    } else if (s.kind == StepRecord::kSay) {
      out += "\n        " + s.text + "\n";
    } else {
      out += Format("%s %3d  %-44s %s\n", s.failed ? "FAIL" : "  ok", s.line, s.text.c_str(),
                    s.outcome.c_str());
      if (!s.image.empty())
        out += "              screenshot " + s.image + ".png: " + s.caption + "\n";
    }
  }

  out += "\n== At a glance ==\n";
  for (const auto& [label, figure] : Glance(account))
    out += Format("  %-16s %s\n", label.c_str(), figure.c_str());

  out += "\n== Commands sent (by number) ==\n";
  for (const CountRow& row : CountCommands(account.commands))
    out += Format("  %2u  %-32s %-18s %3zu\n", row.code, row.name.c_str(),
                  CommandVerb(row.code).c_str(), row.count);

  out += "\n== Device requests (by code) ==\n";
  for (const CountRow& row : CountRequests(account.device))
    out += Format("  %-7s %-30s %3zu\n", Hex(row.code).c_str(), row.name.c_str(), row.count);
  out += "  in order:\n";
  for (const DeviceRequestRecord& r : account.device) {
    out += Format("  #%-4u %-7s %-30s status %s", r.seq, Hex(r.code).c_str(),
                  RequestName(r.code).c_str(), Hex(r.status).c_str());
    if (r.words)
      out += Format(", payload words %u %u", r.words->first, r.words->second);
    out += r.pending ? " (pending at the end)\n" : "\n";
  }

  out += "\n== Host messages (over the hypervisor call) ==\n";
  for (const HostMessageRecord& m : account.host) {
    if (m.kind != HostMessageRecord::kEnd)
      out += "  " + m.text + "\n";
  }

  out += "\n== Registry values saved or created, and restored ==\n";
  for (const Period& p : Periods(account.changes, Change::kRegistry)) {
    out += "  " + p.where + " : " + p.name + " = " + PeriodValue(p) + "\n      seen after " +
           StepRef(account, p.from) + "; " +
           (p.to ? "gone after " + StepRef(account, *p.to) : std::string("still there")) + "\n";
  }
  out += "\n== Registry values changed ==\n";
  for (const Change& c : Modifications(account.changes, Change::kRegistry)) {
    out += "  " + c.where + " : " + c.name + "  " + Value(c.before) + " -> " + Value(c.after) +
           "\n      after " + StepRef(account, c.step) + "\n";
  }

  out += "\n== Drives mapped ==\n";
  for (const Period& p : Periods(account.changes, Change::kDrive)) {
    out += "  " + p.where + " " + p.name + " " + PeriodValue(p) + "\n      mapped after " +
           StepRef(account, p.from) + "; " +
           (p.to ? "unmapped after " + StepRef(account, *p.to) : std::string("still mapped")) +
           "\n";
  }

  out += "\n== Files created (Links folder) ==\n";
  for (const Period& p : Periods(account.changes, Change::kFile)) {
    out += "  " + p.name + " " + PeriodValue(p) + "\n      after " + StepRef(account, p.from) +
           "; " + (p.to ? "deleted after " + StepRef(account, *p.to) : std::string("still there")) +
           "\n";
  }

  if (!account.appbarMessages.empty()) {
    out += "\n== Appbar messages the shell received ==\n";
    for (const std::string& m : account.appbarMessages)
      out += "  " + m + "\n";
  }

  out += "\n== Log lines ==\n";
  for (const std::string& line : account.logLines)
    out += "  " + line + "\n";

  out += Format("\n== Result: %zu step(s), %zu failed ==\n", Actions(account), account.Failures());
  return out;
}

namespace {

constexpr char kStyle[] = R"(
body { font: 15px/1.45 system-ui, sans-serif; color: #1d2329; background: #f4f5f7; margin: 0; }
main { max-width: 1100px; margin: 0 auto; padding: 24px 32px 64px; background: #fff; }
h1 { font-size: 26px; margin: 0 0 4px; }
h2 { font-size: 20px; margin: 36px 0 8px; padding-bottom: 4px; border-bottom: 2px solid #dde1e6; }
h3 { font-size: 17px; margin: 28px 0 6px; }
.banner { padding: 10px 14px; border-radius: 6px; margin: 12px 0 20px; font-weight: 600; }
.banner.pass { background: #e3f4e6; color: #1c5f2b; }
.banner.fail { background: #fbe4e4; color: #8a1c1c; }
table { border-collapse: collapse; width: 100%; margin: 6px 0 12px; font-size: 13.5px; }
th, td { text-align: left; vertical-align: top; padding: 3px 8px; border-bottom: 1px solid #eceff2; }
th { background: #f0f2f5; font-weight: 600; }
td.num, th.num { text-align: right; white-space: nowrap; }
code, .mono { font-family: ui-monospace, Menlo, Consolas, monospace; font-size: 12.5px; }
tr.fail td { background: #fdf0f0; }
.ok { color: #1c7a34; font-weight: 700; }
.bad { color: #b42020; font-weight: 700; }
p.say { margin: 14px 0 6px; padding: 6px 12px; border-left: 4px solid #7aa5d6; background: #f5f8fc; }
figure { margin: 10px 0 18px; }
figure img { width: 100%; border: 1px solid #c9ced4; border-radius: 4px; }
figcaption { font-size: 13.5px; color: #4b5560; margin-top: 4px; }
nav a { margin-right: 14px; }
details pre { max-height: 480px; overflow: auto; background: #f7f8fa; padding: 8px; font-size: 12px; }
.muted { color: #6b7580; }
)";

void Row(std::string& out, const std::vector<std::string>& cells, const char* rowClass = "") {
  out += *rowClass ? std::string("<tr class=\"") + rowClass + "\">" : std::string("<tr>");
  for (const std::string& cell : cells)
    out += cell.rfind("<td", 0) == 0 ? cell : "<td>" + cell + "</td>";
  out += "</tr>\n";
}

std::string Num(size_t n) {
  return "<td class=\"num\">" + std::to_string(n) + "</td>";
}

std::string Code(const std::string& text) {
  return "<code>" + HtmlEscape(text) + "</code>";
}

std::string HtmlStepRef(const Account& account, size_t step) {
  if (step >= account.steps.size())
    return "the end";
  const StepRecord& s = account.steps[step];
  return "<a href=\"#line" + std::to_string(s.line) + "\">line " + std::to_string(s.line) +
         "</a> " + Code(s.text);
}

void Table(std::string& out, const std::vector<std::string>& headers) {
  out += "<table><tr>";
  for (const std::string& h : headers)
    out += h.rfind("<th", 0) == 0 ? h : "<th>" + h + "</th>";
  out += "</tr>\n";
}

}  // namespace

std::string HtmlAccount(const Account& account) {
  const bool passed = account.Failures() == 0;
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Mantlet "
      "in a simulated guest: " +
      HtmlEscape(account.scenario) + "</title>\n<style>" + kStyle +
      "</style></head>\n<body><main>\n";
  out += "<h1>Mantlet in a simulated guest</h1>\n<div class=\"muted\">scenario " +
         Code(account.scenario) + "</div>\n";
  out += std::string("<div class=\"banner ") + (passed ? "pass" : "fail") + "\">" +
         Format("%zu steps, %zu failed, %s", Actions(account), account.Failures(),
                Seconds(account.seconds).c_str()) +
         "</div>\n";
  if (!passed) {
    out += "<p>Failed:</p>\n<ul>\n";
    for (const StepRecord& s : account.steps) {
      if (s.failed) {
        out += "<li><a href=\"#line" + std::to_string(s.line) + "\">line " +
               std::to_string(s.line) + "</a> " + Code(s.text) + ": " + HtmlEscape(s.outcome) +
               "</li>\n";
      }
    }
    out += "</ul>\n";
  }
  out +=
      "<nav><a href=\"#scenario\">Scenario</a><a href=\"#commands\">Commands</a>"
      "<a href=\"#device\">Device requests</a><a href=\"#host\">Host messages</a>"
      "<a href=\"#registry\">Registry</a><a href=\"#drives\">Drives</a>"
      "<a href=\"#files\">Files</a><a href=\"#log\">Log</a></nav>\n";

  out += "<h2>At a glance</h2>\n";
  Table(out, {"what", "figure"});
  for (const auto& [label, figure] : Glance(account))
    Row(out, {HtmlEscape(label), HtmlEscape(figure)});
  out += "</table>\n";

  out += "<h2 id=\"scenario\">Scenario</h2>\n";
  bool inTable = false;
  auto closeTable = [&] {
    if (inTable)
      out += "</table>\n";
    inTable = false;
  };
  for (const StepRecord& s : account.steps) {
    if (s.kind == StepRecord::kSection) {
      closeTable();
      out += "<h3>" + HtmlEscape(s.text) + "</h3>\n";
      continue;
    }
    if (s.kind == StepRecord::kSay) {
      closeTable();
      out += "<p class=\"say\">" + HtmlEscape(s.text) + "</p>\n";
      continue;
    }
    if (!inTable) {
      Table(out,
            {"<th class=\"num\">line</th>", "", "step", "outcome", "<th class=\"num\">s</th>"});
      inTable = true;
    }
    Row(out,
        {"<td class=\"num\" id=\"line" + std::to_string(s.line) + "\">" + std::to_string(s.line) +
             "</td>",
         s.failed ? "<span class=\"bad\">FAIL</span>" : "<span class=\"ok\">ok</span>",
         Code(s.text), HtmlEscape(s.outcome),
         "<td class=\"num\">" + Format("%.1f", s.seconds) + "</td>"},
        s.failed ? "fail" : "");
    if (!s.image.empty()) {
      closeTable();
      const std::string file = HtmlEscape(s.image) + ".png";
      out += "<figure><a href=\"" + file + "\">\n<img alt=\"" + HtmlEscape(s.caption) +
             "\" src=\"" + file + "\">\n</a><figcaption>" + HtmlEscape(s.caption) +
             " <span class=\"muted\">(" + file + ", line " + std::to_string(s.line) +
             ")</span></figcaption></figure>\n";
    }
  }
  closeTable();

  out += "<h2 id=\"commands\">Commands sent</h2>\n";
  Table(out, {"<th class=\"num\">number</th>", "command", "mantletctl",
              "<th class=\"num\">records</th>"});
  for (const CountRow& row : CountCommands(account.commands))
    Row(out, {Num(row.code), Code(row.name), Code(CommandVerb(row.code)), Num(row.count)});
  out += "</table>\n<details><summary>every record, in order</summary>\n";
  Table(out, {"<th class=\"num\">#</th>", "command", "<th class=\"num\">arg</th>",
              "<th class=\"num\">bytes</th>", "sent by"});
  for (size_t i = 0; i < account.commands.size(); ++i) {
    const SentCommand& c = account.commands[i];
    Row(out,
        {Num(i + 1), Code(std::to_string(c.command) + " " + CommandName(c.command)),
         "<td class=\"num\">" + Hex(c.arg) + "</td>", Num(c.bytes), HtmlStepRef(account, c.step)});
  }
  out += "</table></details>\n";

  out += "<h2 id=\"device\">Device requests</h2>\n";
  Table(out, {"code", "request", "<th class=\"num\">count</th>"});
  for (const CountRow& row : CountRequests(account.device))
    Row(out, {Code(Hex(row.code)), HtmlEscape(row.name), Num(row.count)});
  out += "</table>\n<details><summary>every request, in order</summary>\n";
  Table(out, {"<th class=\"num\">#</th>", "code", "request", "status", "payload words"});
  for (const DeviceRequestRecord& r : account.device) {
    Row(out, {Num(r.seq), Code(Hex(r.code)), HtmlEscape(RequestName(r.code)),
              Code(Hex(r.status)) + (r.pending ? " pending" : ""),
              r.words ? Format("%u %u", r.words->first, r.words->second) : ""});
  }
  out += "</table></details>\n";

  out +=
      "<h2 id=\"host\">Host messages</h2>\n<p>What the host received over the hypervisor "
      "call.</p>\n";
  Table(out, {"kind", "<th class=\"num\">count</th>"});
  Row(out, {"registrations", Num(HostCount(account, HostMessageRecord::kRegister))});
  Row(out, {"unregistrations", Num(HostCount(account, HostMessageRecord::kUnregister))});
  Row(out, {"log lines", Num(HostCount(account, HostMessageRecord::kLog))});
  out += "</table>\n<ul>\n";
  for (const HostMessageRecord& m : account.host) {
    if (m.kind == HostMessageRecord::kRegister || m.kind == HostMessageRecord::kUnregister)
      out += "<li>" + HtmlEscape(m.text) + "</li>\n";
  }
  out += "</ul>\n<details><summary>every message, in order</summary><pre>";
  for (const HostMessageRecord& m : account.host) {
    if (m.kind != HostMessageRecord::kEnd)
      out += HtmlEscape(m.text) + "\n";
  }
  out += "</pre></details>\n";

  out +=
      "<h2 id=\"registry\">Registry values saved and restored</h2>\n<p>Values of the watched "
      "keys that appeared during the run, and when they went again.</p>\n";
  Table(out, {"key", "value", "data", "appeared after", "gone after"});
  for (const Period& p : Periods(account.changes, Change::kRegistry)) {
    Row(out, {Code(p.where), Code(p.name), Code(PeriodValue(p)), HtmlStepRef(account, p.from),
              p.to ? HtmlStepRef(account, *p.to) : "<span class=\"muted\">still there</span>"});
  }
  out += "</table>\n<h3>Existing values changed</h3>\n";
  Table(out, {"key", "value", "before", "after", "seen after"});
  for (const Change& c : Modifications(account.changes, Change::kRegistry)) {
    Row(out, {Code(c.where), Code(c.name), Code(Value(c.before)), Code(Value(c.after)),
              HtmlStepRef(account, c.step)});
  }
  out += "</table>\n";

  out += "<h2 id=\"drives\">Drives mapped</h2>\n";
  Table(out, {"drive", "share", "label", "mapped after", "unmapped after"});
  for (const Period& p : Periods(account.changes, Change::kDrive)) {
    Row(out, {Code(p.where), Code(p.name), HtmlEscape(PeriodValue(p)), HtmlStepRef(account, p.from),
              p.to ? HtmlStepRef(account, *p.to) : "<span class=\"muted\">still mapped</span>"});
  }
  out += "</table>\n";

  out += "<h2 id=\"files\">Files created</h2>\n";
  Table(out, {"folder", "file", "shortcut", "created after", "deleted after"});
  for (const Period& p : Periods(account.changes, Change::kFile)) {
    Row(out, {Code(p.where), Code(p.name), Code(PeriodValue(p)), HtmlStepRef(account, p.from),
              p.to ? HtmlStepRef(account, *p.to) : "<span class=\"muted\">still there</span>"});
  }
  out += "</table>\n";

  if (!account.appbarMessages.empty()) {
    out += "<h2>Appbar messages the shell received</h2>\n<pre class=\"mono\">";
    for (const std::string& m : account.appbarMessages)
      out += HtmlEscape(m) + "\n";
    out += "</pre>\n";
  }

  out += "<h2 id=\"log\">Log</h2>\n<details><summary>" + std::to_string(account.logLines.size()) +
         " lines of the module's log file</summary><pre>";
  for (const std::string& line : account.logLines)
    out += HtmlEscape(line) + "\n";
  out += "</pre></details>\n</main></body></html>\n";
  return out;
}

}  // namespace guestsim
