// Platform-neutral text work of the process runner: splitting a command line by the
// Windows rules and joining arguments into one, finding an unquoted program path with blanks, and
// taking a batch line's redirections apart.
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace zqr::platform {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The program name: quotes toggle and vanish, no backslash escapes, ends at a blank
// outside quotes. Returns the position after it.
size_t ParseProgram(std::string_view line, std::string& program) {
  size_t i = 0;
  bool in_quotes = false;
  while (i < line.size() && (in_quotes || !IsBlank(line[i]))) {
    if (line[i] == '"') {
      in_quotes = !in_quotes;
    } else {
      program.push_back(line[i]);
    }
    ++i;
  }
  return i;
}

// The arguments after the program, by the rules of the C runtime since 2008.
void SplitArguments(std::string_view line, std::vector<std::string>& args) {
  size_t i = 0;
  const size_t n = line.size();
  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) return;
    std::string arg;
    bool in_quotes = false;
    while (i < n && (in_quotes || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        size_t count = 0;
        while (i < n && line[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && line[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg.push_back('"');
            ++i;
          }
          // With an even count the quote is handled below as a quote.
        } else {
          arg.append(count, '\\');
        }
        continue;
      }
      if (line[i] == '"') {
        if (in_quotes && i + 1 < n && line[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
          continue;
        }
        in_quotes = !in_quotes;
        ++i;
        continue;
      }
      arg.push_back(line[i]);
      ++i;
    }
    args.push_back(std::move(arg));
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  std::vector<std::string> args;
  size_t start = 0;
  while (start < command_line.size() && IsBlank(command_line[start])) ++start;
  std::string_view line = command_line.substr(start);
  if (line.empty()) return args;
  std::string program;
  size_t end = ParseProgram(line, program);
  args.push_back(std::move(program));
  SplitArguments(line.substr(end), args);
  return args;
}

namespace {
// One argument after the program, written so that SplitArguments gives it back.
void AppendQuoted(const std::string& arg, std::string& line) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += arg;
    return;
  }
  line.push_back('"');
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote escape; the quote itself is escaped too.
    line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    line.push_back(c);
  }
  // Before the closing quote they must not escape it.
  line.append(2 * backslashes, '\\');
  line.push_back('"');
}
}  // namespace

std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i == 0) {
      const bool quote = args[0].empty() || args[0].find_first_of(" \t") != std::string::npos;
      line += quote ? "\"" + args[0] + "\"" : args[0];
    } else {
      line.push_back(' ');
      AppendQuoted(args[i], line);
    }
  }
  return line;
}

size_t UnquotedProgramLength(std::string_view command_line,
                             bool (*is_program)(const std::string& path)) {
  if (command_line.empty() || command_line.front() == '"') return 0;
  // Shortest candidate first, as the Windows process start tries them; a candidate
  // never reaches into a quoted argument.
  for (size_t i = 0; i <= command_line.size(); ++i) {
    if (i < command_line.size() && command_line[i] == '"') break;
    if (i == command_line.size() || IsBlank(command_line[i])) {
      if (i == 0) return 0;
      if (is_program(std::string(command_line.substr(0, i)))) return i;
    }
  }
  return 0;
}

BatchCommand ParseBatchLine(std::string_view line) {
  BatchCommand result;
  // A batch line ends at its line break.
  size_t eol = line.find_first_of("\r\n");
  if (eol != std::string_view::npos) line = line.substr(0, eol);

  std::string& command = result.command_line;
  Redirections& redirect = result.redirections;
  bool in_quotes = false;
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    char c = line[i];
    if (c == '"') {
      in_quotes = !in_quotes;
      command.push_back(c);
      ++i;
      continue;
    }
    // A redirection: an optional handle digit (1 or 2) right before ">", outside quotes.
    bool has_handle = !in_quotes && (c == '1' || c == '2') && i + 1 < n && line[i + 1] == '>' &&
                      (i == 0 || IsBlank(line[i - 1]));
    if (in_quotes || (c != '>' && !has_handle)) {
      command.push_back(c);
      ++i;
      continue;
    }
    int handle = 1;
    if (has_handle) {
      handle = c - '0';
      ++i;
    }
    ++i;  // the ">"
    bool append = false;
    if (i < n && line[i] == '>') {
      append = true;
      ++i;
    }
    if (i + 1 < n && line[i] == '&' && line[i + 1] == '1' && handle == 2) {
      redirect.error_to_output = true;
      i += 2;
      continue;
    }
    while (i < n && IsBlank(line[i])) ++i;
    // The target: a quoted name (quotes removed) or the next word.
    std::string target;
    if (i < n && line[i] == '"') {
      ++i;
      while (i < n && line[i] != '"') target.push_back(line[i++]);
      if (i < n) ++i;
    } else {
      while (i < n && !IsBlank(line[i]) && line[i] != '>') target.push_back(line[i++]);
    }
    if (handle == 2) {
      redirect.error_path = target;
      redirect.append_error = append;
      redirect.error_to_output = false;
    } else {
      redirect.output_path = target;
      redirect.append_output = append;
    }
  }
  // Blanks left behind where a redirection stood at the end are not part of the command.
  while (!command.empty() && IsBlank(command.back())) command.pop_back();
  return result;
}

}  // namespace zqr::platform
