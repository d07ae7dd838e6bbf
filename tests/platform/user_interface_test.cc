// The scripted interface tests rely on, and the terminal interface of the command line.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "platform/scripted_user_interface.h"
#include "platform/terminal_user_interface.h"

namespace platform {
namespace {

MessageRequest Box(MessageButtons buttons, int default_button = 1, std::string text = "Sure?") {
  return MessageRequest{std::move(text), "Tessera Server Manager", buttons, MessageIcon::kQuestion,
                        default_button};
}

TEST(MessageButtonsTest, DefaultsFollowTheButtonOrder) {
  EXPECT_EQ(DefaultAnswer(Box(MessageButtons::kYesNo, 2)), kAnswerNo);
  EXPECT_EQ(DefaultAnswer(Box(MessageButtons::kYesNoCancel, 3)), kAnswerCancel);
  EXPECT_EQ(DefaultAnswer(Box(MessageButtons::kAbortRetryIgnore, 2)), kAnswerRetry);
  EXPECT_EQ(DefaultAnswer(Box(MessageButtons::kRetryCancel, 1)), kAnswerRetry);
  // An index past the buttons falls back to the first, as the platform does.
  EXPECT_EQ(DefaultAnswer(Box(MessageButtons::kOkCancel, 3)), kAnswerOk);
  EXPECT_EQ(DefaultAnswer(Box(MessageButtons::kOk, 0)), kAnswerOk);
  EXPECT_EQ(JoinAccounts({}), "");
  EXPECT_EQ(JoinAccounts({{"D", "a"}}), "D\\a");
}

TEST(ScriptedUserInterfaceTest, AnswersFromTheQueueAndRecordsEveryBox) {
  ScriptedUserInterface ui;
  ui.QueueAnswer(kAnswerNo);
  ui.QueueAnswer(kAnswerOk);
  MessageRequest confirm = Box(MessageButtons::kYesNo, 2, "Delete 'x'?");
  MessageRequest report{"The following error occurred:\rboom", "Tessera Server Manager",
                        MessageButtons::kOk, MessageIcon::kCritical, 1};
  EXPECT_EQ(ui.ShowMessage(confirm), kAnswerNo);
  EXPECT_EQ(ui.ShowMessage(report), kAnswerOk);
  EXPECT_EQ(ui.boxes(), (std::vector<MessageRequest>{confirm, report}));
  EXPECT_EQ(ui.unused_answers(), 0u);
}

TEST(ScriptedUserInterfaceTest, FailsLoudlyOnUnplannedPrompts) {
  ScriptedUserInterface ui;
  try {
    ui.ShowMessage(Box(MessageButtons::kYesNo, 1, "Unplanned?"));
    FAIL() << "an unplanned box was answered";
  } catch (const UnexpectedPrompt& e) {
    EXPECT_NE(std::string(e.what()).find("Unplanned?"), std::string::npos);
  }
  EXPECT_EQ(ui.boxes().size(), 1u) << "the unanswered box is still recorded";

  ui.QueueAnswer(kAnswerYes);
  EXPECT_THROW(ui.ShowMessage(Box(MessageButtons::kOkCancel)), UnexpectedPrompt);
  EXPECT_THROW(ui.PickAccounts("Select Windows Account", 43), UnexpectedPrompt);
  EXPECT_THROW(ui.PromptDataLink(), UnexpectedPrompt);
}

TEST(ScriptedUserInterfaceTest, BusyCursorPendingEventsAndPrompts) {
  ScriptedUserInterface ui;
  {
    BusyCursor outer(ui);
    {
      BusyCursor inner(ui);
      EXPECT_EQ(ui.busy_depth(), 2);
    }
    EXPECT_EQ(ui.busy_depth(), 1);
  }
  EXPECT_EQ(ui.busy_depth(), 0);
  EXPECT_EQ(ui.busy_scopes(), 2);
  ui.EndBusy();
  EXPECT_EQ(ui.unbalanced_busy_ends(), 1);
  EXPECT_EQ(ui.busy_depth(), 0);

  int ran = 0;
  ui.SetOnPendingEvents([&] { ++ran; });
  ui.ProcessPendingEvents();
  ui.ProcessPendingEvents();
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(ui.pending_event_calls(), 2);

  ui.QueueDataLink("Provider=SQLOLEDB;Data Source=(sandbox);Integrated Security=SSPI;");
  ui.QueueDataLink(std::nullopt);
  EXPECT_EQ(ui.PromptDataLink(),
            "Provider=SQLOLEDB;Data Source=(sandbox);Integrated Security=SSPI;");
  EXPECT_EQ(ui.PromptDataLink(), std::nullopt);
  EXPECT_EQ(ui.data_link_prompts(), 2);
}

TEST(ScriptedUserInterfaceTest, RecordsProgressWindows) {
  ScriptedUserInterface ui;
  {
    auto first = ui.OpenProgress();
    first->SetCaption("Tessera Server Manager");
    first->SetMaximum(40);
    first->SetLine(0, "Collection Sales");
    first->SetLine(1, "Please wait...");
    auto second = ui.OpenProgress();  // the records grow while the first is open
    second->SetValue(7);
    first->SetValue(1);
    first->SetValue(2);
    EXPECT_TRUE(ui.progress()[0].open);
  }
  ASSERT_EQ(ui.progress().size(), 2u);
  const auto& record = ui.progress()[0];
  EXPECT_EQ(record.caption, "Tessera Server Manager");
  EXPECT_EQ(record.lines, (std::vector<std::string>{"Collection Sales", "Please wait..."}));
  EXPECT_EQ(record.maximum, 40);
  EXPECT_EQ(record.values, (std::vector<int>{1, 2}));
  EXPECT_FALSE(record.open);
  EXPECT_EQ(ui.progress()[1].value, 7);
}

class TerminalUserInterfaceTest : public ::testing::Test {
 protected:
  TerminalUserInterface Make(bool interactive, bool assume_yes = false) {
    return TerminalUserInterface(in_, out_, {interactive, assume_yes, true});
  }
  std::istringstream in_;
  std::ostringstream out_;
};

TEST_F(TerminalUserInterfaceTest, WithoutATerminalTheDefaultAnswers) {
  in_.str("y\n");
  auto ui = Make(false);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kYesNo, 2, "Delete the collection 'Sales'?")),
            kAnswerNo);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kYesNoCancel, 1)), kAnswerYes);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kAbortRetryIgnore, 5)), kAnswerAbort);
  EXPECT_EQ(ui.PickAccounts("Select Windows Account", 43), "");
  EXPECT_EQ(ui.PromptDataLink(), std::nullopt);
  std::string y;
  EXPECT_TRUE(std::getline(in_, y)) << "input was read without a terminal";
  const std::string shown = out_.str();
  EXPECT_NE(shown.find("Tessera Server Manager (Question)\nDelete the collection 'Sales'?\n"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("-> No (default)"), std::string::npos) << shown;
}

TEST_F(TerminalUserInterfaceTest, YesOptionAnswersAffirmatively) {
  auto ui = Make(false, true);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kYesNo, 2)), kAnswerYes);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kOkCancel, 2)), kAnswerOk);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kRetryCancel, 2)), kAnswerCancel);
  EXPECT_NE(out_.str().find("-> Yes (--yes)"), std::string::npos);
}

TEST_F(TerminalUserInterfaceTest, OnATerminalTheUserAnswers) {
  in_.str("maybe\nn\n\nYES\n c \n");
  auto ui = Make(true);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kYesNo, 1)), kAnswerNo);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kYesNo, 2)), kAnswerNo) << "empty line: default";
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kYesNo, 2)), kAnswerYes);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kYesNoCancel, 1)), kAnswerCancel);
  EXPECT_EQ(ui.ShowMessage(Box(MessageButtons::kRetryCancel, 2)), kAnswerCancel) << "end of input";
  const std::string shown = out_.str();
  size_t first = shown.find("[Y]es / [N]o (default Yes): ");
  ASSERT_NE(first, std::string::npos) << shown;
  EXPECT_NE(shown.find("[Y]es / [N]o (default Yes): ", first + 1), std::string::npos)
      << "an unknown answer was not asked again";
}

TEST_F(TerminalUserInterfaceTest, PickerAndPromptReadTheTerminal) {
  in_.str("CORP\\ann\nnobackslash\n  LAB\\Archive Users  \n\nProvider=SQLOLEDB;Data Source=x;\n\n");
  auto ui = Make(true);
  EXPECT_EQ(ui.PickAccounts("Select Windows Account", 43), "CORP\\ann\r\nLAB\\Archive Users");
  EXPECT_EQ(ui.PromptDataLink(), "Provider=SQLOLEDB;Data Source=x;");
  EXPECT_EQ(ui.PromptDataLink(), std::nullopt);
  EXPECT_NE(out_.str().find("An account is written DOMAIN\\name."), std::string::npos);
}

TEST_F(TerminalUserInterfaceTest, HostileTextCannotDriveTheTerminal) {
  auto ui = Make(false);
  ui.ShowMessage(MessageRequest{"intro:\r\x1b]0;owned\x07\x1b[2Jdone\r\nnext\tcol", "T\x1b[31m",
                                MessageButtons::kOk, MessageIcon::kNone, 1});
  const std::string shown = out_.str();
  EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
  EXPECT_EQ(shown.find('\x07'), std::string::npos) << shown;
  EXPECT_NE(shown.find("intro:\n?]0;owned??[2Jdone\nnext\tcol"), std::string::npos) << shown;
  EXPECT_EQ(TerminalSafe(std::string("a\0b\x7f", 4)), "a?b?");
}

TEST_F(TerminalUserInterfaceTest, ProgressPrintsTextAndPercent) {
  auto ui = Make(false);
  {
    auto progress = ui.OpenProgress();
    progress->SetCaption("Tessera Server Manager");
    progress->SetMaximum(40);
    progress->SetLine(0, "Converting Sales");
    progress->SetLine(0, "Converting Sales");  // unchanged text is not repeated
    progress->SetValue(10);
    progress->SetValue(10);
    progress->SetValue(40);
    progress->SetLine(1, "Please wait");
  }
  EXPECT_EQ(out_.str(),
            "Tessera Server Manager\n  Converting Sales\n\r  25%\r  100%\n  Please wait\n");
}

// Without a bar, a line that counts items is written at most once per 5 % or per 2 seconds, and
// its last text when the progress closes; each line's first text is written at once.
TEST(TerminalProgressTest, ChangingLinesAreSpacedByPercentOrTime) {
  struct Case {
    const char* name;
    int items;
    std::chrono::milliseconds per_item;
    size_t count_lines;  // lines that show a count
  };
  const std::vector<Case> cases = {
      {"many items, quickly", 5119, std::chrono::milliseconds(0), 20},
      {"few items", 18, std::chrono::milliseconds(0), 18},
      {"many items, slowly", 300, std::chrono::milliseconds(1000), 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::istringstream in;
    std::ostringstream out;
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    TerminalUserInterface::Options options;
    options.show_progress = false;
    TerminalUserInterface ui(in, out, options);
    ui.SetClock([&now] { return now; });
    {
      auto progress = ui.OpenProgress();
      progress->SetCaption("Tessera Server Manager");
      progress->SetLine(0, "Generating plain text for Letters");
      progress->SetLine(1, "Please wait...");
      // The plain-text run's scale: the count itself up to 100 items, else per hundredth.
      int maximum = c.items <= 100 ? c.items : 100;
      progress->SetMaximum(maximum);
      for (int i = 1; i <= c.items; ++i) {
        now += c.per_item;
        progress->SetValue(c.items <= 100 ? i : static_cast<int>(100LL * i / c.items));
        progress->SetLine(
            1, std::to_string(i) + " of " + std::to_string(c.items) + " items processed");
      }
    }
    std::vector<std::string> counts;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
      if (line.ends_with(" items processed")) counts.push_back(line);
    }
    EXPECT_EQ(counts.size(), c.count_lines) << out.str();
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts.back(), "  " + std::to_string(c.items) + " of " + std::to_string(c.items) +
                                 " items processed");
    EXPECT_TRUE(out.str().starts_with(
        "Tessera Server Manager\n  Generating plain text for Letters\n  Please wait...\n"))
        << out.str();
  }
}

}  // namespace
}  // namespace platform
