// Splitting of command lines by the Windows rules, joining arguments into one line the
// same rules give back, the unquoted-program rule and the batch-line redirections.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/process.h"

namespace zqr::platform {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(SplitCommandLine("prog a  b\tc"), (Args{"prog", "a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("\"/my dir/prog\" -i \"/v/a b.avi\" x"),
            (Args{"/my dir/prog", "-i", "/v/a b.avi", "x"}));
  EXPECT_EQ(SplitCommandLine("  prog   "), (Args{"prog"}));
  EXPECT_TRUE(SplitCommandLine("").empty());
  EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

TEST(SplitCommandLine, QuotesInsideAnArgumentJoinItsParts) {
  EXPECT_EQ(SplitCommandLine("p a\"b c\"d"), (Args{"p", "ab cd"}));
  EXPECT_EQ(SplitCommandLine("p \"\" x"), (Args{"p", "", "x"}));
  // An unterminated quote runs to the end of the line.
  EXPECT_EQ(SplitCommandLine("p \"a b"), (Args{"p", "a b"}));
}

TEST(SplitCommandLine, BackslashesBeforeAQuote) {
  // 2n backslashes + quote: n backslashes, the quote toggles.
  EXPECT_EQ(SplitCommandLine(R"(p "a\\" b)"), (Args{"p", R"(a\)", "b"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\\\"b c")"), (Args{"p", R"(a\\b c)"}));
  // 2n+1 backslashes + quote: n backslashes and a literal quote.
  EXPECT_EQ(SplitCommandLine(R"(p a\"b)"), (Args{"p", R"(a"b)"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\\"b)"), (Args{"p", R"(a\"b)"}));
  EXPECT_EQ(SplitCommandLine(R"(p "a\"b c")"), (Args{"p", R"(a"b c)"}));
}

TEST(JoinCommandLine, QuotesOnlyWhatNeedsItAndSplitsBackWhole) {
  EXPECT_EQ(JoinCommandLine({"C:\\Program Files\\z\\ffmpeg.exe", "-i", "C:\\a b\\", "x\\y"}),
            R"("C:\Program Files\z\ffmpeg.exe" -i "C:\a b\\" x\y)");
  const Args tricky[] = {
      {"prog", "", "a b", "tab\there", "line\nbreak"},
      {"prog", R"(a"b)", R"(a\"b)", R"(a\\"b)", R"(""")"},
      {"prog", R"(end\)", R"(end\\)", R"(sp ace\)", R"(\\server\share\)"},
      {"/my dir/prog", "-vf", "scale=1:2", "\\", "\""},
  };
  for (const Args& args : tricky) {
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(args)), args) << JoinCommandLine(args);
  }
}

TEST(SplitCommandLine, BackslashesElsewhereAreLiteral) {
  EXPECT_EQ(SplitCommandLine(R"(p C:\App\TEMP\temp%06d.bmp a\\b)"),
            (Args{"p", R"(C:\App\TEMP\temp%06d.bmp)", R"(a\\b)"}));
  EXPECT_EQ(SplitCommandLine(R"(p "C:\My Dir\x")"), (Args{"p", R"(C:\My Dir\x)"}));
  EXPECT_EQ(SplitCommandLine(R"(p end\\)"), (Args{"p", R"(end\\)"}));
}

TEST(SplitCommandLine, DoubledQuoteInsideQuotesIsOneQuote) {
  EXPECT_EQ(SplitCommandLine(R"(p "a""b" c)"), (Args{"p", R"(a"b)", "c"}));
  EXPECT_EQ(SplitCommandLine(R"(p "say ""hi"" now")"), (Args{"p", R"(say "hi" now)"}));
}

TEST(SplitCommandLine, ProgramNameKnowsNoEscapes) {
  EXPECT_EQ(SplitCommandLine(R"("C:\dir\" x)"), (Args{R"(C:\dir\)", "x"}));
  EXPECT_EQ(SplitCommandLine(R"(a\"b c" d)"), (Args{R"(a\b c)", "d"}));
}

TEST(SplitCommandLine, FragmentsWithDoubleBlanksGiveNoEmptyArguments) {
  EXPECT_EQ(
      SplitCommandLine("\"t\"  -r 25.00 -i \"x\" -ac 2  -ar 44100  -t 00:00:02 -f flv  -y \"o\""),
      (Args{"t", "-r", "25.00", "-i", "x", "-ac", "2", "-ar", "44100", "-t", "00:00:02", "-f",
            "flv", "-y", "o"}));
}

std::set<std::string>* g_programs = nullptr;
bool IsKnownProgram(const std::string& path) {
  return g_programs->count(path) > 0;
}

TEST(UnquotedProgramLength, TriesLongerPrefixesShortestFirst) {
  std::set<std::string> programs = {"/opt/my app/PLUG-IN/ffmpeg"};
  g_programs = &programs;
  std::string line = "/opt/my app/PLUG-IN/ffmpeg -i \"/v/a b.avi\" -y \"/t/x.wav\"";
  EXPECT_EQ(UnquotedProgramLength(line, IsKnownProgram),
            std::string("/opt/my app/PLUG-IN/ffmpeg").size());

  programs.insert("/opt/my");
  EXPECT_EQ(UnquotedProgramLength(line, IsKnownProgram), std::string("/opt/my").size());

  programs.clear();
  EXPECT_EQ(UnquotedProgramLength(line, IsKnownProgram), 0u);
  // A candidate never reaches into a quoted argument.
  programs.insert("/opt/my app/PLUG-IN/ffmpeg -i \"/v/a");
  EXPECT_EQ(UnquotedProgramLength(line, IsKnownProgram), 0u);
  // A quoted program is never searched.
  programs.insert("\"/opt/my");
  EXPECT_EQ(UnquotedProgramLength("\"/opt/my app\" x", IsKnownProgram), 0u);
  g_programs = nullptr;
}

TEST(ParseBatchLine, ErrorRedirectionIsTakenOut) {
  BatchCommand c = ParseBatchLine(
      "\"/App/PLUG-IN/ffmpeg\" -i \"/v/clip.avi\" 2> \"/App/metrixVIDEOKRun.txt\"\r\n");
  EXPECT_EQ(c.command_line, "\"/App/PLUG-IN/ffmpeg\" -i \"/v/clip.avi\"");
  EXPECT_EQ(c.redirections.error_path, "/App/metrixVIDEOKRun.txt");
  EXPECT_FALSE(c.redirections.append_error);
  EXPECT_TRUE(c.redirections.output_path.empty());
  EXPECT_FALSE(c.redirections.error_to_output);
}

TEST(ParseBatchLine, RedirectionsInsideQuotesArePlainText) {
  BatchCommand c = ParseBatchLine("p -i \"/v/a 2> b.avi\" 2>err.txt");
  EXPECT_EQ(c.command_line, "p -i \"/v/a 2> b.avi\"");
  EXPECT_EQ(c.redirections.error_path, "err.txt");
}

TEST(ParseBatchLine, OutputAppendAndErrorToOutput) {
  BatchCommand c = ParseBatchLine("p a >> \"/t/out log.txt\" 2>&1");
  EXPECT_EQ(c.command_line, "p a");
  EXPECT_EQ(c.redirections.output_path, "/t/out log.txt");
  EXPECT_TRUE(c.redirections.append_output);
  EXPECT_TRUE(c.redirections.error_to_output);

  BatchCommand d = ParseBatchLine("p 1>o.txt x");
  EXPECT_EQ(d.command_line, "p  x");
  EXPECT_EQ(d.redirections.output_path, "o.txt");
  EXPECT_FALSE(d.redirections.append_output);
}

TEST(ParseBatchLine, ADigitInsideAWordIsNotAHandle) {
  BatchCommand c = ParseBatchLine("p a2>x.txt");
  EXPECT_EQ(c.command_line, "p a2");
  EXPECT_EQ(c.redirections.output_path, "x.txt");
  EXPECT_TRUE(c.redirections.error_path.empty());
}

TEST(ParseBatchLine, OnlyTheFirstLineCounts) {
  BatchCommand c = ParseBatchLine("p one\r\nq two 2> e");
  EXPECT_EQ(c.command_line, "p one");
  EXPECT_TRUE(c.redirections.error_path.empty());
}

}  // namespace
}  // namespace zqr::platform
