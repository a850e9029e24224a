// Reading every command's arguments one way: numbers and ranges, values missing, unknown options,
// options that exclude each other, help asked for anywhere; and the bash completion made of the
// same declarations.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/RecordOptions.h"
#include "tests/app/RunLine.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// Each refused before any file is read (the files named do not exist): status 2, the problem on
// the first line, then the usage line.
TEST(CommandLine, BadValuesAreRefusedOneWayInEveryCommand) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Problem;
  };
  const TCase cases[] = {
      {{"slideshow", "o.swf", "a.bmp", "--fps", "0"}, "--fps takes a number from 0.01 to 255"},
      {{"slideshow", "o.swf", "a.bmp", "--fps", "12x"}, "--fps takes a number from 0.01 to 255"},
      {{"slideshow", "o.swf", "a.bmp", "--fps", "nan"}, "--fps takes a number from 0.01 to 255"},
      {{"slideshow", "o.swf", "a.bmp", "--fps", " 5"}, "--fps takes a number from 0.01 to 255"},
      {{"slideshow", "o.swf", "a.bmp", "--seconds-each", "-1"},
       "--seconds-each takes a number from 0.001 to 86400"},
      {{"slideshow", "o.swf", "a.bmp", "--background", "blue"},
       "--background takes a colour as RRGGBB"},
      {{"slideshow", "o.swf", "--fps", "4"}, "IMAGE... is required"},
      {{"slideshow", "o.swf", "a.bmp", "--web-player", ""}, "--web-player takes the web player"},
      {{"join", "o.swf", "a.swf", "--zip"}, "unknown option \"--zip\""},
      {{"join", "o.swf"}, "IN.swf... is required"},
      {{"probe", "--json"}, "FILE... is required"},
      {{"frames", "in.swf", "out", "--every", "0"},
       "--every takes a whole number from 1 to 1000000"},
      {{"frames", "in.swf", "out", "--from", "2.5"},
       "--from takes a whole number from 1 to 1000000"},
      {{"frames", "in.swf", "out", "--to", "99999999999999999999"},
       "--to takes a whole number from 1 to 1000000"},
      {{"frames", "in.swf", "out", "--from", "5", "--to", "2"}, "--from comes after --to"},
      {{"frames", "in.swf", "out", "--from"}, "--from"},
      {{"export", "in.swf", "out.gif", "--scale", "17"}, "--scale takes a number from 0.001 to 16"},
      {{"export", "in.swf"}, "OUT.mp4 is required"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    const TRun r = RunLine(c.Args);
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err.rfind("kestrova " + c.Args[0] + ": " + c.Problem, 0), 0u) << r.Err;
    EXPECT_NE(r.Err.find("\nUsage: kestrova " + c.Args[0] + " "), std::string::npos) << r.Err;
  }
}

TEST(CommandLine, HelpAnywhereAmongTheArgumentsAnswersWithTheCommandsHelp) {
  const TRun help = RunLine({"help", "frames"});
  for (const std::vector<std::string>& args : {std::vector<std::string>{"frames", "--help"},
                                               {"frames", "in.swf", "--every", "2", "-h"},
                                               {"frames", "--from", "0", "--help"}}) {
    const TRun r = RunLine(args);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, help.Out);
    EXPECT_EQ(r.Err, "");
  }
}

// Options come in any order among the arguments, as name=value too.
TEST(CommandLine, OptionsMayComeBetweenTheArguments) {
  const fs::path dir = fs::temp_directory_path() / ("kestrova-cl-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string bmp = std::string(KESTROVA_TEST_DATA) + "/media/bmp8.bmp";
  const std::string out = (dir / "s.swf").string();
  const TRun r =
      RunLine({"slideshow", "--fps=4", out, bmp, "--quiet", "--seconds-each", "0.5", bmp});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err.find("slideshow: 50%"), std::string::npos) << r.Err;  // quiet
  EXPECT_NE(r.Err.find("(4 frames, "), std::string::npos) << r.Err;     // 2 images of 2 frames
  fs::remove_all(dir);
}

#ifdef KESTROVA_RECORD_COMMANDS
TEST(RecordOptions, ReadEachOption) {
  struct TCase {
    std::vector<std::string> Args;
    std::function<void(const TRecordArgs&)> Check;
  };
  const TCase cases[] = {
      {{},
       [](const TRecordArgs& r) {
         EXPECT_EQ(r.Target, TRecordTarget::FullScreen);
         EXPECT_FALSE(r.Seconds);
         EXPECT_EQ(r.Delay, 0u);
         EXPECT_EQ(r.Colours, TColourDepth::Palette256);
         EXPECT_FALSE(r.Quiet);
         EXPECT_EQ(r.Output, "");
       }},
      {{"--region", "-100,20,640,480"},
       [](const TRecordArgs& r) {
         EXPECT_EQ(r.Target, TRecordTarget::Region);
         EXPECT_EQ(r.Region, (platform::TScreenRect{-100, 20, 540, 500}));
       }},
      {{"--region=0,0,1,1"},
       [](const TRecordArgs& r) {
         EXPECT_EQ(r.Region, (platform::TScreenRect{0, 0, 1, 1}));
       }},
      {{"--window", "0x3a00007"},
       [](const TRecordArgs& r) {
         EXPECT_EQ(r.Target, TRecordTarget::Window);
         EXPECT_EQ(r.Window, 0x3a00007u);
       }},
      {{"--window", "58720263"}, [](const TRecordArgs& r) { EXPECT_EQ(r.Window, 58720263u); }},
      {{"--active-window", "--seconds", "30", "--delay", "3", "-q"},
       [](const TRecordArgs& r) {
         EXPECT_EQ(r.Target, TRecordTarget::ActiveWindow);
         EXPECT_EQ(r.Seconds, 30u);
         EXPECT_EQ(r.Delay, 3u);
         EXPECT_TRUE(r.Quiet);
       }},
      {{"--colours", "32k", "--quiet"},
       [](const TRecordArgs& r) {
         EXPECT_EQ(r.Colours, TColourDepth::Rgb15);
         EXPECT_TRUE(r.Quiet);
       }},
      {{"--colours", "16m"},
       [](const TRecordArgs& r) { EXPECT_EQ(r.Colours, TColourDepth::Rgb32); }},
      {{"--platform", "sim", "-o", "a b.swf", "--web-player", "r.js", "--hotkey", "Ctrl+Shift+R"},
       [](const TRecordArgs& r) {
         EXPECT_EQ(r.Platform, "sim");
         EXPECT_EQ(r.Output, "a b.swf");
         EXPECT_EQ(r.WebPlayer, "r.js");
         EXPECT_EQ(r.HotKey.Name, "Ctrl+Shift+R");
         EXPECT_EQ(r.HotKey.Modifiers, platform::ParseHotKey("Ctrl+Shift+R")->Modifiers);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    TRecordArgs r;
    std::string problem;
    ASSERT_TRUE(ParseRecordArgs(c.Args, r, problem)) << problem;
    c.Check(r);
  }
}

TEST(RecordOptions, RefuseWhatTheyCannotRecord) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Problem;
  };
  const TCase cases[] = {
      {{"--region", "0,0,640"}, "--region takes X,Y,WIDTH,HEIGHT in pixels"},
      {{"--region", "0,0,0,480"}, "--region takes X,Y,WIDTH,HEIGHT in pixels"},
      {{"--region", "0,0,640,480,1"}, "--region takes X,Y,WIDTH,HEIGHT in pixels"},
      {{"--region", "0,0,70000,480"}, "--region takes X,Y,WIDTH,HEIGHT in pixels"},
      {{"--window", "0"}, "--window takes a window's identifier"},
      {{"--window", "0x"}, "--window takes a window's identifier"},
      {{"--window", "12ab"}, "--window takes a window's identifier"},
      {{"--full-screen", "--region", "0,0,1,1"}, "--full-screen excludes --region"},
      {{"--window", "7", "--active-window"}, "--active-window excludes --window"},
      {{"--colours", "65536"}, "--colours takes 256, 32k or 16m"},
      {{"--seconds", "0"}, "--seconds takes a whole number from 1 to 9999999"},
      {{"--delay", "3601"}, "--delay takes a whole number from 0 to 3600"},
      {{"--hotkey", "S"}, "--hotkey takes modifiers and a letter or digit"},
      {{"-o", "videos/"}, "-o takes a file name (not a folder)"},
      {{"--seconds"}, "--seconds"},
      {{"extra"}, "unexpected argument \"extra\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    TRecordArgs r;
    std::string problem;
    EXPECT_FALSE(ParseRecordArgs(c.Args, r, problem));
    EXPECT_EQ(problem.rfind(c.Problem, 0), 0u) << problem;
  }
}

TEST(RecoverOptions, ReadTheFolderAndOptions) {
  TRecoverArgs r;
  std::string problem;
  ASSERT_TRUE(ParseRecoverArgs({"recording-1", "-o", "x.swf", "-q"}, r, problem)) << problem;
  EXPECT_EQ(r.Folder, "recording-1");
  EXPECT_EQ(r.Output, "x.swf");
  EXPECT_TRUE(r.Quiet);
  TRecoverArgs twice;
  EXPECT_FALSE(ParseRecoverArgs({"a", "b"}, twice, problem));
  EXPECT_EQ(problem, "unexpected argument \"b\"");
}
#endif

// ---- bash completion ----

class Completion : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("bash -c true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no bash here";
    dir = fs::temp_directory_path() / ("kestrova-completion-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "kestrova") << BashCompletion();
    std::ofstream(dir / "movie.swf") << "x";
  }
  void TearDown() override { fs::remove_all(dir); }

  // What completing the last word of line gives, as bash does on TAB: COMP_WORDS and COMP_CWORD
  // set, the function that "complete -p kestrova" names called.
  std::string Complete(const std::string& line) {
    const std::string script =
        "cd '" + dir.string() + "' && source ./kestrova && " +
        "f=$(complete -p kestrova | sed -n 's/.*-F \\([^ ]*\\) .*/\\1/p') && " +
        "read -ra COMP_WORDS <<< '" + line + "' && " +
        (line.back() == ' ' ? "COMP_WORDS+=('') && " : "") +
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && $f && " + "echo \"${COMPREPLY[*]}\"";
    const std::string command = "bash --norc --noprofile -c \"$KESTROVA_COMPLETE\" 2>&1";
    ::setenv("KESTROVA_COMPLETE", script.c_str(), 1);
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
      ::pclose(pipe);
    }
    ::unsetenv("KESTROVA_COMPLETE");
    if (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
  }

  fs::path dir;
};

TEST_F(Completion, CompletesCommandsOptionsChoicesAndFiles) {
  struct TCase {
    std::string Line;
    std::string Words;
  };
  const bool recorder = RunLine({"help", "record"}).Status == 0;
  std::vector<TCase> cases = {
      {"kestrova dum", "dump"},
      {"kestrova export in.swf out.gif --sc", "--scale"},
      {"kestrova slideshow --back", "--background"},
      {"kestrova dump mov", "movie.swf"},
      {"kestrova slideshow --audio mov", "movie.swf"},
      {"kestrova frames in.swf out --every ", ""},
      {"kestrova help --m", "--man"},
      {"kestrova completion ", "bash"},
  };
  if (recorder) {
    cases.insert(cases.end(), {
                                  {"kestrova rec", "record recover"},
                                  {"kestrova record --reg", "--region"},
                                  {"kestrova record --colours ", "256 32k 16m"},
                                  {"kestrova record --colours 3", "32k"},
                                  {"kestrova record -q", "-q"},
                                  {"kestrova record -o mov", "movie.swf"},
                                  {"kestrova help rec", "record recover"},
                              });
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Line);
    EXPECT_EQ(Complete(c.Line), c.Words);
  }
}

// Every option of every command completes from its first letters.
TEST_F(Completion, KnowsEveryDeclaredOption) {
  for (const TCommandInfo& c : CommandTable()) {
    const TDeclaredOptions declared = DeclaredOptions(c);
    for (const CLI::Option* o : declared.Parser->get_options()) {
      for (const std::string& name : o->get_lnames()) {
        SCOPED_TRACE(std::string(c.Name) + " --" + name);
        const std::string words = Complete(std::string("kestrova ") + c.Name + " --" + name);
        EXPECT_NE((" " + words + " ").find(" --" + name + " "), std::string::npos) << words;
      }
    }
  }
}

}  // namespace
}  // namespace kestrova
