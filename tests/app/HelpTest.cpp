// The program's own options and the one form every command's bad-argument answer takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "tests/app/RunLine.h"

namespace kestrova {
namespace {

std::string UsageLine(const TCommandInfo& c) {
  const std::string usage = CommandUsage(c);
  return std::string("Usage: kestrova ") + c.Name + (usage.empty() ? "" : " ") + usage + "\n";
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

// Every declared option and argument is in the usage line, and explained in the command's help
// and manual page section; every option with a value gives its default.
TEST(Help, EveryOptionIsListedWithItsDefaultInTheHelpAndTheManualPage) {
  const TRun man = RunLine({"help", "--man"});
  EXPECT_EQ(man.Status, 0);
  EXPECT_EQ(man.Out.rfind(".TH KESTROVA 1 ", 0), 0u);
  for (const TCommandInfo& c : CommandTable()) {
    SCOPED_TRACE(c.Name);
    const std::string help = RunLine({"help", c.Name}).Out;
    const std::string usage = CommandUsage(c);
    EXPECT_NE(help.find("Example"), std::string::npos) << help;
    const std::string section = man.Out.substr(man.Out.find(std::string(".SS \"") + c.Name + " "));
    const TDeclaredOptions declared = DeclaredOptions(c);
    ASSERT_FALSE(declared.Parser->get_options().empty());
    for (const CLI::Option* o : declared.Parser->get_options()) {
      const std::string name = o->get_positional()       ? o->get_type_name()
                               : o->get_lnames().empty() ? "-" + o->get_snames().front()
                                                         : "--" + o->get_lnames().front();
      SCOPED_TRACE(name);
      EXPECT_NE(usage.find(name), std::string::npos) << usage;
      // In the list: the name at the start of a line, its description after it.
      const std::size_t at = help.find("\n  " + name);
      const std::size_t atShort = o->get_snames().empty()
                                      ? std::string::npos
                                      : help.find("\n  -" + o->get_snames().front() + ", " + name);
      ASSERT_TRUE(at != std::string::npos || atShort != std::string::npos) << help;
      const std::size_t from = std::min(at, atShort);
      const std::size_t next = help.find("\n  -", from + 1);
      const std::string entry = help.substr(from, next == std::string::npos ? next : next - from);
      const std::string firstWords = o->get_description().substr(0, 12);
      EXPECT_NE(entry.find(firstWords), std::string::npos) << entry;
      if (TakesValue(*o) && !o->get_positional()) {
        EXPECT_NE(entry.find("(default: "), std::string::npos) << entry;
      }
      std::string roffName;
      for (char ch : name) roffName += ch == '-' ? std::string("\\-") : std::string(1, ch);
      EXPECT_TRUE(section.find(".B " + roffName) != std::string::npos ||
                  section.find(", " + roffName) != std::string::npos)
          << roffName;
    }
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
      {{"dump"}, "kestrova dump: FILE.swf is required\n", dump},
      {{"dump", "a.swf", "b.swf"}, "kestrova dump: unexpected argument \"b.swf\"\n", dump},
      {{"rewrite", "a.swf"}, "kestrova rewrite: OUT.swf is required\n", rewrite},
      {{"rewrite", "a", "b", "c", "d"}, "kestrova rewrite: unexpected argument \"c\"\n", rewrite},
      {{"rewrite", "a.swf", "b.swf", "--zip"},
       "kestrova rewrite: unknown option \"--zip\"\n",
       rewrite},
      {{"rewrite", "a.swf", "b.swf", "--plain", "--compress"},
       "kestrova rewrite: --compress excludes --plain\n",
       rewrite},
      {{"completion", "zsh"},
       "kestrova completion: only bash is known\n",
       "Usage: kestrova completion bash\n"},
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
