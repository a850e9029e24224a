// The program's own options and the one form every command's bad-argument answer takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "app/Commands.h"

namespace kestrova {
namespace {

struct TRun {
  int Status;
  std::string Out, Err;
};

TRun RunLine(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err);
  return {status, out.str(), err.str()};
}

std::string UsageLine(const TCommandInfo& c) {
  return std::string("Usage: kestrova ") + c.Name + (*c.Usage ? " " : "") + c.Usage + "\n";
}

const TCommandInfo& Command(const std::string& name) {
  for (const TCommandInfo& c : CommandTable()) {
    if (name == c.Name) return c;
  }
  throw std::logic_error("no command " + name);
}

TEST(Version, IsTheProjectVersionOnStandardOutput) {
  // Dotted numbers such as 0.1 or 1.2.3 (std::regex trips a false GCC 12 warning in ASan builds).
  const std::string version = ProgramVersion();
  bool wellFormed = !version.empty() && version.front() != '.' && version.back() != '.' &&
                    version.find("..") == std::string::npos &&
                    version.find('.') != std::string::npos;
  for (char c : version) wellFormed = wellFormed && (c == '.' || (c >= '0' && c <= '9'));
  EXPECT_TRUE(wellFormed) << version;
  const TRun r = RunLine({"--version"});
  EXPECT_EQ(r.Status, 0);
  // The first line is the version; the captions' numbers are named as what they are.
  EXPECT_EQ(r.Out.substr(0, r.Out.find('\n') + 1),
            std::string("kestrova ") + ProgramVersion() + "\n");
  EXPECT_NE(r.Out.find("\"Kestrova 1.1\", the tool window's title"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("not versions"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(RunLine({"--version", "now"}).Status, 2);
}

TEST(Help, EveryCommandHasItsUsageAndSummary) {
  ASSERT_FALSE(CommandTable().empty());
  const std::string overview = RunLine({"help"}).Out;
  for (const TCommandInfo& c : CommandTable()) {
    SCOPED_TRACE(c.Name);
    const TRun help = RunLine({"help", c.Name});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Err, "");
    EXPECT_EQ(help.Out.rfind(UsageLine(c), 0), 0u) << help.Out;
    EXPECT_NE(help.Out.find(c.Summary), std::string::npos) << help.Out;
    // The same text from "COMMAND --help", and the command appears in the overview.
    const TRun dashed = RunLine({c.Name, "--help"});
    EXPECT_EQ(dashed.Status, 0);
    EXPECT_EQ(dashed.Out, help.Out);
    EXPECT_NE(overview.find(std::string("  ") + c.Name + " "), std::string::npos);
  }
}

// Every option a usage line shows ("--fps", "-o") is explained in the command's help, with its
// default; the manual page is made of the same texts.
std::vector<std::string> OptionsOf(const std::string& usage) {
  std::vector<std::string> options;
  for (std::size_t i = 0; i < usage.size(); ++i) {
    if (usage[i] != '-' ||
        (i > 0 && usage[i - 1] != '[' && usage[i - 1] != ' ' && usage[i - 1] != '|')) {
      continue;
    }
    std::size_t end = i;
    while (end < usage.size() &&
           (usage[end] == '-' || std::isalnum(static_cast<unsigned char>(usage[end]))))
      ++end;
    options.push_back(usage.substr(i, end - i));
    i = end;
  }
  return options;
}

TEST(Help, EveryOptionIsExplainedInTheCommandsHelpAndTheManualPage) {
  const TRun man = RunLine({"help", "--man"});
  EXPECT_EQ(man.Status, 0);
  EXPECT_EQ(man.Out.rfind(".TH KESTROVA 1 ", 0), 0u);
  for (const TCommandInfo& c : CommandTable()) {
    SCOPED_TRACE(c.Name);
    const std::string help = RunLine({"help", c.Name}).Out;
    const std::string details = help.substr(help.find(c.Summary) + std::string(c.Summary).size());
    EXPECT_NE(details.find("Example"), std::string::npos) << help;
    for (const std::string& option : OptionsOf(c.Usage)) {
      EXPECT_NE(details.find("  " + option), std::string::npos) << option << " in\n" << help;
    }
    EXPECT_NE(man.Out.find(std::string(".SS \"") + c.Name + " "), std::string::npos);
  }
  // Options in the page are roff's minus signs, not hyphens.
  EXPECT_NE(man.Out.find("\\-\\-seconds"), std::string::npos);
  EXPECT_EQ(man.Out.find("\n--"), std::string::npos);
}

TEST(Help, RecordSaysItsDefaultsPlatformsAndWhereFilesGo) {
  const bool built =
      std::any_of(CommandTable().begin(), CommandTable().end(),
                  [](const TCommandInfo& c) { return std::string(c.Name) == "record"; });
  if (!built) GTEST_SKIP() << "this build has no record command";
  const std::string help = RunLine({"help", "record"}).Out;
  for (const char* said :
       {"12 frames a second", "segments of 10 seconds", "x11", "sim", "KESTROVA_PLATFORM",
        "Kestrova-YYYY-MM-DD_HH-MM-SS.swf", "XDG_VIDEOS_DIR", "CaptureLog.txt",
        "Examples:", "kestrova record --seconds 30"}) {
    EXPECT_NE(help.find(said), std::string::npos) << said << " in\n" << help;
  }
}

// Bad arguments: status 2, nothing on standard output, and standard error ends with the usage
// line of the command that was meant (after a line saying what was wrong, where there is one).
TEST(BadArguments, AnswerWithTheUsageOnStandardError) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Problem;  // the error's first line; empty when the usage line is all
    std::string Usage;    // the last line
  };
  const std::string dump = UsageLine(Command("dump"));
  const std::string rewrite = UsageLine(Command("rewrite"));
  const std::string help = "Usage: kestrova help [COMMAND]\n";
  const TCase cases[] = {
      {{"dump"}, "", dump},
      {{"dump", "a.swf", "b.swf"}, "", dump},
      {{"rewrite", "a.swf"}, "", rewrite},
      {{"rewrite", "a", "b", "c", "d"}, "", rewrite},
      {{"rewrite", "a.swf", "b.swf", "--zip"},
       "kestrova rewrite: unknown option \"--zip\"\n",
       rewrite},
      {{"help", "nope"}, "kestrova help: unknown command \"nope\"\n", help},
      {{"help", "dump", "rewrite"}, "", help},
      {{"--version", "x"}, "", "Usage: kestrova --version\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    const TRun r = RunLine(c.Args);
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, c.Problem + c.Usage);
  }
}

// Without arguments the program runs the tool window (tested with the recorder's commands); an
// unknown command gets the overview.
TEST(BadArguments, UnknownCommandShowsTheOverviewOnStandardError) {
  const TRun r = RunLine({"nope", "x"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, "kestrova: unknown command \"nope\"\n" + RunLine({"help"}).Out);
}

}  // namespace
}  // namespace kestrova
