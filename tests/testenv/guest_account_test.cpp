// The simulated guest's account: what it derives from the run (changes between
// looks, periods, counts) and what the page must hold for the runner to put
// the pictures in and for a reader to trust it.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "guest_account.h"

namespace {

using guestsim::Account;
using guestsim::Change;
using guestsim::Snapshot;
using guestsim::StepRecord;

Snapshot Values(std::initializer_list<std::pair<const char*, const char*>> values) {
  Snapshot s;
  for (const auto& [name, value] : values)
    s[{"Key", name}] = value;
  return s;
}

TEST(GuestAccount, changes_between_looks_become_periods_of_saved_values) {
  // Looks after steps 0..4: a value saved, changed, restored, saved again; one
  // that was there from the start and goes; one that only changes.
  const std::vector<Snapshot> looks = {
      Values({{"Old", "1"}, {"Anim", "1"}}),
      Values({{"Anim", "0"}, {"Color", "a"}, {"Old", "1"}}),
      Values({{"Anim", "0"}, {"Color", "b"}}),
      Values({{"Anim", "1"}}),
      Values({{"Anim", "1"}, {"Color", "c"}}),
  };
  std::vector<Change> changes;
  for (size_t i = 1; i < looks.size(); ++i)
    guestsim::Diff(Change::kRegistry, looks[i - 1], looks[i], i, changes);
  ASSERT_EQ(changes.size(), 7u);

  const auto periods = guestsim::Periods(changes, Change::kRegistry);
  ASSERT_EQ(periods.size(), 2u) << "a value there from the start makes no period";
  EXPECT_EQ(periods[0].name, "Color");
  EXPECT_EQ(periods[0].value, "a") << "the value it came with";
  EXPECT_EQ(periods[0].last, "b");
  EXPECT_EQ(periods[0].from, 1u);
  ASSERT_TRUE(periods[0].to.has_value());
  EXPECT_EQ(*periods[0].to, 3u);
  EXPECT_EQ(periods[1].value, "c");
  EXPECT_EQ(periods[1].from, 4u);
  EXPECT_FALSE(periods[1].to.has_value());

  const auto modified = guestsim::Modifications(changes, Change::kRegistry);
  ASSERT_EQ(modified.size(), 3u);  // Anim 1->0, Color a->b, Anim 0->1
  EXPECT_EQ(modified[0].name, "Anim");
  EXPECT_EQ(*modified[0].before, "1");
  EXPECT_EQ(*modified[0].after, "0");
  EXPECT_TRUE(guestsim::Periods(changes, Change::kDrive).empty()) << "kinds stay apart";
}

TEST(GuestAccount, requests_and_commands_are_counted_by_code_with_their_names) {
  const auto rows = guestsim::CountRequests({{1, 0x8500, 0, false, {}},
                                             {2, 0x8040, 0, false, {}},
                                             {3, 0x8500, 0, false, {}},
                                             {4, 0x9999, 0, true, {}}});
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].code, 0x8040u);
  EXPECT_EQ(rows[0].name, "host event wait");
  EXPECT_EQ(rows[1].count, 2u);
  EXPECT_EQ(rows[2].name, "unknown request");

  const auto commands = guestsim::CountCommands({{0, 4, 0, 44}, {1, 4, 1, 44}, {2, 19, 0, 44}});
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].name, "ToggleTaskbarCommand");
  EXPECT_EQ(commands[0].count, 2u);
  EXPECT_EQ(commands[1].name, "(no such command)");
  EXPECT_EQ(guestsim::CommandVerb(17), "indents");
  EXPECT_EQ(guestsim::CommandVerb(19), "");
}

Account SmallRun() {
  Account a;
  a.scenario = "demo.scenario";
  a.steps = {{StepRecord::kSection, 1, "Start", "", false, 0, "", ""},
             {StepRecord::kSay, 2, "The <host> says \"hi\" & waits", "", false, 0, "", ""},
             {StepRecord::kAction, 3, "send msgbox \"<b>x</b>\" y", "1 record(s) sent", false, 0.1,
              "", ""},
             {StepRecord::kAction, 4, "screenshot box-1 The box", "saved box-1", false, 0.9,
              "box-1", "The <box>"},
             {StepRecord::kAction, 5, "expect-log \"<script>\"", "not logged", true, 3, "", ""}};
  a.logLines = {"12-05 I TAG /Mantlet:1:2/ <script>alert(1)</script>"};
  return a;
}

TEST(GuestAccount, page_escapes_every_text_marks_failures_and_keeps_each_picture_on_its_line) {
  const std::string page = guestsim::HtmlAccount(SmallRun());
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_EQ(page.find("<b>x"), std::string::npos);
  EXPECT_EQ(page.find("<host>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("The &lt;host&gt; says &quot;hi&quot; &amp; waits"), std::string::npos);
  EXPECT_NE(page.find("banner fail"), std::string::npos);
  EXPECT_NE(page.find("href=\"#line5\""), std::string::npos) << "the failed step is listed";
  EXPECT_EQ(page.find("http"), std::string::npos) << "nothing from outside";

  // The runner swaps src="<name>.png" for the picture, one line at a time.
  const std::regex picture(R"(^(.*src=")([A-Za-z0-9_.-]+\.png)(".*)$)");
  std::istringstream lines(page);
  std::vector<std::string> pictures;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, picture))
      pictures.push_back(m[2]);
  }
  EXPECT_EQ(pictures, std::vector<std::string>{"box-1.png"});
}

TEST(GuestAccount, text_counts_only_actions_and_names_the_picture_files) {
  const std::string text = guestsim::TextAccount(SmallRun());
  EXPECT_EQ(text.rfind("Mantlet in a simulated guest: demo.scenario\n3 steps, 1 failed", 0), 0u)
      << text.substr(0, 80);
  EXPECT_NE(text.find("FAIL   5  expect-log"), std::string::npos);
  EXPECT_NE(text.find("screenshot box-1.png: The <box>"), std::string::npos);
  EXPECT_NE(text.find("== Result: 3 step(s), 1 failed =="), std::string::npos);
}

}  // namespace
