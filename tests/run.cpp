#include "run.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "anim3d-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) std::abort();
}

std::optional<std::string> read_bytes(const std::filesystem::path& file) {
  if (!std::filesystem::is_regular_file(file)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> list_dir(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

static std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

static std::string environment(const char* variable) {
  const char* value = std::getenv(variable);
  return value ? value : "";
}

bool running_under_wine() { return !environment("ANIM3D_WINE").empty(); }

std::string program_under_test(const char* variable, const std::string& built) {
  const std::string chosen = environment(variable);
  if (running_under_wine() && std::filesystem::path(chosen).extension() != ".exe") {
    // A native program would pass every test of a Wine run without Wine.
    std::fprintf(stderr, "ANIM3D_WINE is set but %s names no Windows program (.exe)\n", variable);
    std::exit(2);
  }
  return chosen.empty() ? built : chosen;
}

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Reads one relay argument at `p`: a hexadecimal word, and for a string
// argument the string Wine shows after it (quoted and escaped, or "(null)").
// Wine shows only the start of a long string, with "..." after the quote:
// the text then ends in "...".
struct RelayArgument {
  std::string word;
  std::string text;
};

bool read_argument(const std::string& line, size_t& p, RelayArgument& argument) {
  const size_t word_end = line.find_first_not_of("0123456789abcdef", p);
  if (word_end == std::string::npos || word_end == p) return false;
  argument.word = line.substr(p, word_end - p);
  p = word_end;
  if (line[p] != ' ') return true;
  ++p;
  if (line.compare(p, 6, "(null)") == 0) {
    argument.text = "(null)";
    p += 6;
    return true;
  }
  if (line[p] != '"') return false;
  for (++p; p < line.size() && line[p] != '"'; ++p) {
    if (line[p] == '\\' && p + 1 < line.size()) {
      const char escaped = line[++p];
      argument.text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped == 'r' ? '\r' : escaped;
    } else {
      argument.text += line[p];
    }
  }
  if (p >= line.size()) return false;
  ++p;
  if (line.compare(p, 3, "...") == 0) {
    argument.text += "...";
    p += 3;
  }
  return true;
}

}  // namespace

std::vector<std::string> message_boxes_in_trace(const std::string& trace) {
  static const std::string kActiveWindowReturn = "Ret  user32.GetActiveWindow() retval=";
  static const std::string kMessageBoxCall = "Call user32.MessageBoxA(";
  std::vector<std::string> messages;
  std::string active_window;  // what GetActiveWindow last returned; empty before any call
  for (const std::string& line : lines_of(trace)) {
    if (size_t at = line.find(kActiveWindowReturn); at != std::string::npos) {
      const size_t from = at + kActiveWindowReturn.size();
      active_window = line.substr(from, line.find(' ', from) - from);
      continue;
    }
    const size_t at = line.find(kMessageBoxCall);
    if (at == std::string::npos) continue;
    size_t p = at + kMessageBoxCall.size();
    RelayArgument owner, text, caption, style;
    const bool read = read_argument(line, p, owner) && line[p++] == ',' && read_argument(line, p, text) &&
                      line[p++] == ',' && read_argument(line, p, caption) && line[p++] == ',' &&
                      read_argument(line, p, style) && line[p] == ')';
    if (!read) {
      messages.push_back("unreadable message box call: " + line);
      continue;
    }
    std::string message = text.text + ": " + caption.text;
    if (style.word != "00000000") message += " [style " + style.word + ", not MB_OK alone]";
    if (active_window.empty()) {
      message += " [owner " + owner.word + ", GetActiveWindow not called]";
    } else if (owner.word != active_window) {
      message += " [owner " + owner.word + ", not GetActiveWindow's " + active_window + "]";
    }
    messages.push_back(message);
  }
  return messages;
}

// Runs `command` through the shell; returns its exit status and its standard
// output.
static int run_command(const std::string& command, std::string& output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Exit statuses for a sanitizer's finding in a program under test; without a
// sanitizer in the program they do nothing.
const std::string kSanitizerExitCodes =
    "ASAN_OPTIONS=detect_leaks=1:exitcode=86 UBSAN_OPTIONS=halt_on_error=1:exitcode=87";

RunResult run_program_with_memory_limit(const std::string& program, const std::filesystem::path& dir,
                                        int kilobytes) {
  return run_program_after("ulimit -v " + std::to_string(kilobytes) + " && exec ", program, dir);
}

RunResult run_program_after(const std::string& before, const std::string& program,
                            const std::filesystem::path& dir) {
  RunResult result;
  std::string output;
  result.exit_status = run_command(
      "cd " + shell_quoted(dir.string()) + " && " + before + shell_quoted(program) + " x y z", output);
  result.messages = lines_of(output);
  return result;
}

// Runs the Windows program and arguments of `command_line` (shell-quoted) in
// `dir` under Wine, with no display. The trace names each relayed call (the
// prefix limits relaying to MessageBoxA and GetActiveWindow) and goes to its
// own file, outside the directory the program works in. WINEPREFIX comes from
// the environment as it is.
static RunResult run_windows_program_once(const std::string& command_line, const std::filesystem::path& dir,
                                          std::string& trace, const std::string& variables = "") {
  RunResult result;
  std::string output;
  const std::string wine = running_under_wine() ? environment("ANIM3D_WINE") : "wine";
  std::string trace_name = (std::filesystem::temp_directory_path() / "anim3d-trace-XXXXXX").string();
  const int trace_fd = mkstemp(trace_name.data());
  if (trace_fd < 0) std::abort();
  close(trace_fd);
  const std::string command = "cd " + shell_quoted(dir.string()) + " && unset DISPLAY WAYLAND_DISPLAY && " +
                              variables + "WINEDEBUG=-all,+relay " + "WINEDLLOVERRIDES='mscoree,mshtml=' " +
                              shell_quoted(wine) + " " + command_line + " 2>" + shell_quoted(trace_name);
  result.exit_status = run_command(command, output);
  trace = read_bytes(trace_name).value_or("");
  std::filesystem::remove(trace_name);
  result.messages = lines_of(output);  // a GUI program shows nothing here
  for (const std::string& message : message_boxes_in_trace(trace)) result.messages.push_back(message);
  return result;
}

// As above, once more when Wine itself failed to start the program (no
// message box, and not the exit status 1 every converter ends with), which a
// loaded machine shows now and then. A run that still shows no message box
// has the end of its trace shown, to tell why.
static RunResult run_windows_program(const std::string& command_line, const std::filesystem::path& dir) {
  std::string trace;
  RunResult result = run_windows_program_once(command_line, dir, trace);
  if (result.messages.empty() && result.exit_status != 1) {
    result = run_windows_program_once(command_line, dir, trace);
  }
  if (result.messages.empty()) {
    std::fprintf(stderr, "Wine run ended with status %d and no message box; its trace ends:\n%s\n",
                 result.exit_status, trace.substr(trace.size() > 2000 ? trace.size() - 2000 : 0).c_str());
  }
  return result;
}

RunResult run_program(const std::string& program, const std::filesystem::path& dir) {
  RunResult result;
  std::string output;
  if (std::filesystem::path(program).extension() != ".exe") {
    // A sanitizer's report must not pass for the programs' own exit status 1,
    // which is the sanitizers' default: give leaks and errors codes of their own.
    result.exit_status = run_command("cd " + shell_quoted(dir.string()) + " && " + kSanitizerExitCodes + " " +
                                         shell_quoted(program) + " x y z",
                                     output);
    result.messages = lines_of(output);
    return result;
  }

  return run_windows_program(shell_quoted(program) + " x y z", dir);
}

RunResult run_program_with(const std::vector<std::string>& variables, const std::string& program,
                           const std::filesystem::path& dir) {
  std::string assignments;
  for (const std::string& variable : variables) {
    const size_t equals = variable.find('=');
    assignments += variable.substr(0, equals) + "=" + shell_quoted(variable.substr(equals + 1)) + " ";
  }
  if (std::filesystem::path(program).extension() == ".exe") {
    std::string trace;
    return run_windows_program_once(shell_quoted(program) + " x y z", dir, trace, assignments);
  }
  RunResult result;
  std::string output;
  result.exit_status = run_command("cd " + shell_quoted(dir.string()) + " && " + kSanitizerExitCodes + " " +
                                       assignments + "exec " + shell_quoted(program) + " x y z",
                                   output);
  result.messages = lines_of(output);
  return result;
}

// The Windows name of a program: Wine's drive Z: is the root of the file system.
static std::string windows_name_of(const std::string& program) {
  std::string name = "Z:" + std::filesystem::absolute(program).string();
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

RunResult run_under_locking_parent(HandedLock hand, const std::vector<std::string>& variables,
                                   const std::string& program, const std::filesystem::path& dir) {
  if (std::filesystem::path(program).extension() == ".exe") {
    static const char* const kHands[] = {"held", "none", "other", "unheld", "closed"};
    std::string assignments, trace;
    for (const std::string& variable : variables) {
      const size_t equals = variable.find('=');
      assignments += variable.substr(0, equals) + "=" + shell_quoted(variable.substr(equals + 1)) + " ";
    }
    return run_windows_program_once(shell_quoted(environment("ANIM3D_HAND_LOCK")) + " " +
                                        kHands[static_cast<int>(hand)] + " " +
                                        shell_quoted(windows_name_of(program)),
                                    dir, trace, assignments);
  }
  // Descriptors without O_CLOEXEC: the runs inherit them through the shell.
  const int parent = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  const int other = open(dir.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  const int unheld = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (parent < 0 || other < 0 || unheld < 0 || flock(parent, LOCK_EX | LOCK_NB) != 0 ||
      flock(other, LOCK_EX | LOCK_NB) != 0) {
    std::abort();
  }
  const int named[] = {parent, -1, other, unheld, 1000};
  std::vector<std::string> handed = variables;
  if (hand != HandedLock::kNone) {
    handed.push_back("ANIM3D_FOLDER_LOCK=" + std::to_string(named[static_cast<int>(hand)]));
  }
  RunResult result = run_program_with(handed, program, dir);
  for (const std::string& message : run_program_with(variables, program, dir).messages) {
    result.messages.push_back(message);
  }
  for (const int descriptor : {parent, other, unheld}) close(descriptor);
  return result;
}

// Sets or clears the immutable attribute of `file`. False where the file
// system or the user's rights do not allow it.
static bool set_immutable(const std::filesystem::path& file, bool immutable) {
  const int fd = open(file.c_str(), O_RDONLY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return ok;
}

std::optional<RunResult> run_with_output_held(const std::string& program, const std::filesystem::path& dir,
                                              const std::string& held) {
  if (std::filesystem::path(program).extension() == ".exe") {
    // The helper starts the program by its Windows name.
    return run_windows_program(shell_quoted(environment("ANIM3D_HOLD_OPEN")) + " " + shell_quoted(held) +
                                   " " + shell_quoted(windows_name_of(program)),
                               dir);
  }
  if (!set_immutable(dir / held, true)) return std::nullopt;
  const RunResult result = run_program(program, dir);
  set_immutable(dir / held, false);
  return result;
}

CapturedRun run_program(const std::string& program, const std::filesystem::path& dir,
                        const std::vector<std::string>& args) {
  const TempDir capture;  // apart from `dir`, so that its listing stays as the program left it
  std::string command = "cd " + shell_quoted(dir.string()) + " && ";
  if (std::filesystem::path(program).extension() == ".exe") {
    const std::string wine = running_under_wine() ? environment("ANIM3D_WINE") : "wine";
    command += "unset DISPLAY WAYLAND_DISPLAY && WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " +
               shell_quoted(wine) + " " + shell_quoted(program);
  } else {
    command += kSanitizerExitCodes + " " + shell_quoted(program);
  }
  for (const std::string& arg : args) command.append(" ").append(shell_quoted(arg));
  command.append(" >").append(shell_quoted((capture / "out").string()));
  command.append(" 2>").append(shell_quoted((capture / "err").string()));
  CapturedRun result;
  const int status = std::system(command.c_str());
  result.exit_status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_bytes(capture / "out").value_or("");
  result.err = read_bytes(capture / "err").value_or("");
  return result;
}

std::string u16le(uint16_t value) { return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)}; }

std::string u32le(uint32_t value) {
  return u16le(static_cast<uint16_t>(value)) + u16le(static_cast<uint16_t>(value >> 16));
}

std::string from_hex(const char* hex) {
  std::string bytes;
  for (const char* p = hex; *p;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    bytes += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
    p += 2;
  }
  return bytes;
}
