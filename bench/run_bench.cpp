// The benchmark driver: in one run, on the same files in the page cache, times
// frameconv and clipmerge against two read floors and a peer, and prints one
// table.
//
//   run_bench DATA_DIR [RUNS]
//
// The environment variables BENCH_FRAMECONV and BENCH_CLIPMERGE, when set, name
// other builds of the two programs to time instead of the ones built here;
// each may name several, separated by ':', which are then timed side by side
// ("frameconv 1", "frameconv 2", ..., "clipmerge 1", ...).
//
// DATA_DIR holds the sets make_sequence writes: the frame sets a-separate,
// a-interleaved, b-separate and b-interleaved, and the clip set clips. In each
// set every command runs once to bring the files into the page cache and then
// RUNS times (default 7), the commands taking turns so that a change in machine
// load falls on all of them alike. The commands:
//
//   cat            cat of every file to /dev/null: the plain read floor
//   read+memchr    read_floor: each file in one read into one buffer, newlines
//                  counted with memchr
//   read+write     read_floor --write: each file in one read, then a file of
//                  each output's size (as a run of the first build leaves
//                  them) written and flushed to the disk in the set's
//                  directory: the floor of a converter whose outputs are
//                  durable
//   tinyobjloader  tinyobj_peer loading every frame (frame sets only)
//   frameconv      the converter, run in the set's directory
//   clipmerge      the clip joiner, run in the clip set's directory
//
// Every run of every command must end as it should: frameconv and clipmerge
// with exit status 1 and the one line "Conversion Complete: Conversion
// Complete" (frameconv's may name what the files leave out after
// "Conversion Complete, but "), the floors and the peer with status 0 and their summary of the
// files given. Any other ending is reported on stderr, marks the row failed
// and makes the exit status 1.
//
// frameconv holds at most kVertexStoreWords packed vertices: a set with more
// (set A: 100 frames of 5,000 vertices) ends with "Vertex store full at
// animaNNN.obj". Such a set is timed on its first NNN frames, the most that
// convert, through hard links in DATA_DIR/SET/first-NNN, so that every command
// reads the very same files and frameconv converts them end to end.
//
// Reported: the median and fastest wall time, the median CPU time (user +
// system), MB/s of input (1 MB = 10^6 bytes), the ratio to each floor
// (time / floor time), how many times faster than tinyobjloader (its time /
// this time) and the peak resident set (the child's getrusage in the warm-up
// run). With several builds of a program, each build's median wall time over
// the first build's follows the table. Exit status 0, or 1 when a command
// failed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "clipmerge.h"
#include "outcome.h"

extern char** environ;

namespace {

constexpr int kDefaultRuns = 7;
constexpr double kFrameconvCatTarget = 2.5;    // at most this many times cat
constexpr double kFrameconvPeerTarget = 10.0;  // at least this many times faster than tinyobjloader
constexpr double kClipmergeCatTarget = 2.0;    // at most this many times cat

const char* const kFrameSets[][2] = {{"A separate", "a-separate"},
                                     {"A interleaved", "a-interleaved"},
                                     {"B separate", "b-separate"},
                                     {"B interleaved", "b-interleaved"}};
const char* const kClipSet[2] = {"clips", "clips"};

struct Sample {
  double wall_ms = 0, cpu_ms = 0;
  long peak_kb = 0;
  int exit_status = -1;  // -1: killed by a signal, or never ran
  std::string output;
};

struct Command {
  std::string label;
  std::vector<std::string> argv;
  bool to_null = false;  // stdout to /dev/null instead of checked
  int expected_status = 0;
  // What every run must print, trailing newlines dropped; a '*' stands for
  // any text (the counts a floor or the peer finds).
  std::string expected_output;
  size_t file_count = 0;
  unsigned long long input_bytes = 0;
  // The floors and the peer this command is compared with: those that read
  // the same files.
  const Command* cat = nullptr;
  const Command* reader = nullptr;
  const Command* writer = nullptr;
  const Command* peer = nullptr;
  bool failed = false;
  std::vector<double> wall_ms, cpu_ms;
  long peak_kb = 0;
};

int dev_null = -1;
std::vector<std::string> frameconv_programs = {FRAMECONV_PROGRAM};
std::vector<std::string> clipmerge_programs = {CLIPMERGE_PROGRAM};

double elapsed_ms(const timespec& from, const timespec& to) {
  return (to.tv_sec - from.tv_sec) * 1e3 + (to.tv_nsec - from.tv_nsec) / 1e6;
}

double timeval_ms(const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; }

// Starts argv in dir with its stdout on `out`, closing `other` in the child.
// The timed runs use posix_spawn: the child does not copy the driver's page
// tables, which on a virtual machine costs about a millisecond. But a spawned
// child's peak resident set includes the driver's, so the warm-up, which
// measures that, forks.
pid_t start_child(const Command& command, const std::string& dir, int out, int other, bool fork_it) {
  std::vector<char*> args;
  for (const std::string& arg : command.argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  if (fork_it) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      dup2(out, STDOUT_FILENO);
      if (other >= 0) close(other);
      if (out != dev_null) close(out);
      execvp(args[0], args.data());
      _exit(127);
    }
    return pid;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  if (other >= 0) posix_spawn_file_actions_addclose(&actions, other);
  if (out != dev_null) posix_spawn_file_actions_addclose(&actions, out);
  pid_t pid;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// Runs the command in dir, waits for it and measures it. False if it could not
// be started.
bool run_once(const Command& command, const std::string& dir, bool fork_it, Sample& sample) {
  int pipe_fds[2] = {-1, -1};
  if (!command.to_null && pipe(pipe_fds) != 0) return false;
  timespec start, stop;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = command.to_null ? start_child(command, dir, dev_null, -1, fork_it)
                                    : start_child(command, dir, pipe_fds[1], pipe_fds[0], fork_it);
  if (pid < 0) {
    if (!command.to_null) {
      close(pipe_fds[0]);
      close(pipe_fds[1]);
    }
    return false;
  }
  sample.output.clear();
  if (!command.to_null) {
    close(pipe_fds[1]);
    char chunk[4096];
    for (ssize_t got; (got = read(pipe_fds[0], chunk, sizeof chunk)) > 0;) {
      sample.output.append(chunk, static_cast<size_t>(got));
    }
    close(pipe_fds[0]);
  }
  int status = 0;
  rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return false;
  clock_gettime(CLOCK_MONOTONIC, &stop);
  sample.wall_ms = elapsed_ms(start, stop);
  sample.cpu_ms = timeval_ms(usage.ru_utime) + timeval_ms(usage.ru_stime);
  sample.peak_kb = usage.ru_maxrss;
  sample.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  while (!sample.output.empty() && sample.output.back() == '\n') sample.output.pop_back();
  return true;
}

// One run of a command, checked and recorded. `timed` false: the warm-up,
// whose peak resident set is kept.
void run_and_record(Command& command, const std::string& dir, bool timed) {
  if (command.failed) return;
  Sample sample;
  const bool ran = run_once(command, dir, !timed, sample);
  if (!ran || sample.exit_status != command.expected_status ||
      (!command.to_null && !matches(command.expected_output, sample.output))) {
    std::fprintf(stderr,
                 "run_bench: FAILED: %s in %s ended with status %d, saying \"%s\"; expected status %d, "
                 "saying \"%s\"\n",
                 command.label.c_str(), dir.c_str(), ran ? sample.exit_status : -1, sample.output.c_str(),
                 command.expected_status, command.expected_output.c_str());
    command.failed = true;
    return;
  }
  if (!timed) {
    command.peak_kb = std::max(command.peak_kb, sample.peak_kb);
    return;
  }
  command.wall_ms.push_back(sample.wall_ms);
  command.cpu_ms.push_back(sample.cpu_ms);
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double fastest(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

bool measured(const Command* command) { return command && !command->failed && !command->wall_ms.empty(); }

bool is_file(const std::string& path, unsigned long long& bytes) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  bytes = static_cast<unsigned long long>(status.st_size);
  return true;
}

// The frames of a set, as frameconv finds them: anima000.obj on while the next exists.
std::vector<std::string> frame_names(const std::string& dir) {
  std::vector<std::string> names;
  for (int frame = 0; frame < 1000; ++frame) {
    char name[24];
    std::snprintf(name, sizeof name, "anima%03d.obj", frame);
    unsigned long long size;
    if (!is_file(dir + "/" + name, size)) break;
    names.push_back(name);
  }
  return names;
}

unsigned long long bytes_of(const std::string& dir, const std::vector<std::string>& names) {
  unsigned long long total = 0, size;
  for (const std::string& name : names) total += is_file(dir + "/" + name, size) ? size : 0;
  return total;
}

// A command that reads the named files; its input is their bytes.
Command file_command(const std::string& label, const std::string& program,
                     const std::vector<std::string>& names, const std::string& dir) {
  Command command;
  command.label = label;
  command.argv.push_back(program);
  command.argv.insert(command.argv.end(), names.begin(), names.end());
  command.file_count = names.size();
  command.input_bytes = bytes_of(dir, names);
  return command;
}

// A program under test, run without arguments in the set's directory, which
// reads the named files and must convert them all.
Command program_command(const std::string& label, const std::string& program,
                        const std::vector<std::string>& names, const std::string& dir) {
  Command command = file_command(label, program, names, dir);
  command.argv.resize(1);
  command.expected_status = 1;  // every run of either program ends so
  command.expected_output = kConvertedLine;
  return command;
}

struct Row {
  std::string set;
  const Command* command;
};

struct Target {
  std::string what;
  double value;
  double bound;
  bool at_most;
};

std::vector<Row> rows;
std::vector<Target> targets;
std::vector<std::string> notes;
// "A separate     frameconv 2 / frameconv 1  1.04", for each further build.
std::vector<std::string> builds_compared;
bool set_failed = false;  // a set could not be measured at all

void fail_set(const std::string& message) {
  std::fprintf(stderr, "run_bench: FAILED: %s\n", message.c_str());
  notes.push_back("FAILED: " + message);
  set_failed = true;
}

// Runs every command of a set: one warm-up each, then `runs` rounds in turn.
void measure(const std::vector<Command*>& commands, const std::string& dir, int runs) {
  for (Command* command : commands) run_and_record(*command, dir, false);
  for (int round = 0; round < runs; ++round) {
    for (Command* command : commands) run_and_record(*command, dir, true);
  }
}

// "frameconv", or "frameconv 2" when several builds are timed.
std::string program_label(const char* program, const std::vector<std::string>& programs, size_t index) {
  if (programs.size() == 1) return program;
  return std::string(program) + " " + std::to_string(index + 1);
}

std::string frameconv_label(size_t index) { return program_label("frameconv", frameconv_programs, index); }

// The number of floors (and peer) add_floors appends.
size_t floor_count(bool with_peer) { return with_peer ? 4 : 3; }

// Points `command` at the floors (and the peer) add_floors appended at `first`.
void compare_with_floors(Command& command, std::vector<Command>& store, size_t first, bool with_peer) {
  command.cat = &store[first];
  command.reader = &store[first + 1];
  command.writer = &store[first + 2];
  command.peer = with_peer ? &store[first + 3] : nullptr;
}

// Appends the floors (and the peer) on `names` in dir to store, each compared
// with the others; the durable floor writes files of `output_bytes`.
void add_floors(std::vector<Command>& store, const std::vector<std::string>& names, const std::string& dir,
                bool with_peer, const std::vector<unsigned long long>& output_bytes) {
  const size_t first = store.size();
  store.push_back(file_command("cat", "cat", names, dir));
  store.back().to_null = true;
  store.push_back(file_command("read+memchr", READ_FLOOR_PROGRAM, names, dir));
  const std::string bytes = std::to_string(store.back().input_bytes) + " bytes, ";
  const std::string files = std::to_string(names.size()) + " files";
  store.back().expected_output = bytes + "* lines, " + files;
  store.push_back(file_command("read+write", READ_FLOOR_PROGRAM, names, dir));
  unsigned long long written = 0;
  for (size_t i = 0; i < output_bytes.size(); ++i) {
    const std::string size = std::to_string(output_bytes[i]);
    store.back().argv.insert(store.back().argv.begin() + 1 + 2 * static_cast<long>(i), {"--write", size});
    written += output_bytes[i];
  }
  store.back().expected_output = bytes + files + ", " + std::to_string(written) + " bytes written";
  if (with_peer) {
    store.push_back(file_command("tinyobjloader", TINYOBJ_PEER_PROGRAM, names, dir));
    store.back().expected_output = "* faces, " + std::to_string(names.size()) + " files";
  }
  for (size_t i = first; i < store.size(); ++i) compare_with_floors(store[i], store, first, with_peer);
}

// The sizes of the files `outputs` in dir after one run of `command` there;
// empty if it did not end as it should.
std::vector<unsigned long long> output_sizes(const Command& command, const std::string& dir,
                                             const std::vector<const char*>& outputs) {
  Sample sample;
  if (!run_once(command, dir, true, sample) || sample.exit_status != command.expected_status ||
      !matches(command.expected_output, sample.output)) {
    return {};
  }
  std::vector<unsigned long long> sizes;
  for (const char* output : outputs) {
    unsigned long long bytes = 0;
    if (!is_file(dir + "/" + output, bytes)) return {};
    sizes.push_back(bytes);
  }
  return sizes;
}

// The median wall time of each further build of a program over that of the
// first, whose commands are `first` to `end` of store.
void compare_builds(const std::string& set, std::vector<Command>& store, size_t first, size_t end) {
  for (size_t i = first + 1; i < end; ++i) {
    if (!measured(&store[i]) || !measured(&store[first])) continue;
    char line[160];
    std::snprintf(line, sizeof line, "%-14s %s / %s  %.2f", set.c_str(), store[i].label.c_str(),
                  store[first].label.c_str(), median(store[i].wall_ms) / median(store[first].wall_ms));
    builds_compared.push_back(line);
  }
}

// Gives dir/first-N hard links to the first `count` frames of dir and returns
// its path; "" on failure.
std::string prefix_dir(const std::string& dir, const std::vector<std::string>& names, size_t count) {
  namespace fs = std::filesystem;
  const fs::path prefix = fs::path(dir) / ("first-" + std::to_string(count));
  std::error_code error;
  fs::create_directories(prefix, error);
  if (error) return "";
  for (size_t i = 0; i < count; ++i) {
    const fs::path target = fs::path(dir) / names[i], link = prefix / names[i];
    if (fs::exists(link, error) && fs::equivalent(target, link, error)) continue;
    fs::remove(link, error);
    fs::create_hard_link(target, link, error);
    if (error) return "";
  }
  return prefix.string();
}

void frame_set(const char* label, const std::string& set_dir, int runs, std::vector<Command>& store) {
  std::vector<std::string> names = frame_names(set_dir);
  if (names.empty()) return fail_set(std::string(label) + ": no frames in " + set_dir);

  // One run of the first build learns whether the whole set converts.
  std::string dir = set_dir;
  Command probe = program_command("frameconv", frameconv_programs[0], names, dir);
  Sample sample;
  if (!run_once(probe, dir, true, sample)) return fail_set(std::string(label) + ": frameconv did not start");
  char summary[200];
  std::snprintf(summary, sizeof summary, "%s: %zu frames, %.2f MB; frameconv says \"%s\"", label,
                names.size(), bytes_of(dir, names) / 1e6, sample.output.c_str());
  notes.push_back(summary);
  const size_t fits = sample.exit_status == 1 ? frames_before_store_full(sample.output, names.size()) : 0;
  if (fits > 0) {
    // The store took the frames before the one named: time those.
    dir = prefix_dir(set_dir, names, fits);
    if (dir.empty()) return fail_set(std::string(label) + ": cannot link its first frames");
    names.resize(fits);
    notes.push_back(std::string(label) + ": timed on its first " + std::to_string(fits) +
                    " frames, which fill the vertex store, in " + dir);
  } else if (sample.exit_status != 1 || !matches(kConvertedLine, sample.output)) {
    return fail_set(summary);
  }

  const std::vector<unsigned long long> sizes = output_sizes(
      program_command("frameconv", frameconv_programs[0], names, dir), dir, {"aniv00.3d", "data00.3d"});
  if (sizes.empty()) return fail_set(std::string(label) + ": frameconv did not convert " + dir);

  // Pointers into store stay valid: the caller reserved room for every command.
  const size_t base = store.size();
  const bool have_peer = TINYOBJ_PEER_PROGRAM[0] != 0;
  add_floors(store, names, dir, have_peer, sizes);
  const size_t programs = store.size();
  for (size_t i = 0; i < frameconv_programs.size(); ++i) {
    store.push_back(program_command(frameconv_label(i), frameconv_programs[i], names, dir));
    compare_with_floors(store.back(), store, base, have_peer);
  }
  std::vector<Command*> commands;
  for (size_t i = base; i < store.size(); ++i) commands.push_back(&store[i]);
  measure(commands, dir, runs);

  for (Command* command : commands) rows.push_back({label, command});
  compare_builds(label, store, programs, store.size());
  for (size_t i = programs; i < store.size(); ++i) {
    const Command& frameconv = store[i];
    if (measured(&frameconv) && measured(frameconv.cat)) {
      targets.push_back({std::string(label) + ": " + frameconv.label + " / cat",
                         median(frameconv.wall_ms) / median(frameconv.cat->wall_ms), kFrameconvCatTarget,
                         true});
    }
    if (measured(&frameconv) && measured(frameconv.peer)) {
      targets.push_back({std::string(label) + ": tinyobjloader / " + frameconv.label,
                         median(frameconv.peer->wall_ms) / median(frameconv.wall_ms), kFrameconvPeerTarget,
                         false});
    }
  }
}

void clip_set(const std::string& label, const std::string& dir, int runs, std::vector<Command>& store) {
  std::vector<std::string> names;
  for (int clip = 1; clip <= kClipCount; ++clip) {
    char name[kClipNameBytes];
    clip_name(clip, name);
    unsigned long long size;
    if (!is_file(dir + "/" + name, size)) break;
    names.push_back(name);
  }
  if (names.size() != kClipCount) {
    return fail_set(label + ": " + std::to_string(names.size()) + " of the " + std::to_string(kClipCount) +
                    " clips in " + dir);
  }
  for (const std::string& program : clipmerge_programs) {
    if (access(program.c_str(), X_OK) != 0) return fail_set(label + ": no clipmerge program at " + program);
  }
  Command probe = program_command("clipmerge", clipmerge_programs[0], names, dir);
  probe.expected_output = kCompleteLine;
  const std::vector<unsigned long long> sizes = output_sizes(probe, dir, {"aniv00.3d"});
  if (sizes.empty()) return fail_set(label + ": clipmerge did not merge " + dir);
  const size_t base = store.size();
  add_floors(store, names, dir, false, sizes);
  const size_t programs = store.size();
  for (size_t i = 0; i < clipmerge_programs.size(); ++i) {
    store.push_back(program_command(program_label("clipmerge", clipmerge_programs, i), clipmerge_programs[i],
                                    names, dir));
    store.back().expected_output = kCompleteLine;  // clipmerge has nothing to name after it
    compare_with_floors(store.back(), store, base, false);
  }
  std::vector<Command*> commands;
  for (size_t i = base; i < store.size(); ++i) commands.push_back(&store[i]);
  measure(commands, dir, runs);

  char summary[160];
  std::snprintf(summary, sizeof summary, "%s: %zu clips, %.2f MB", label.c_str(), names.size(),
                store.back().input_bytes / 1e6);
  notes.push_back(summary);
  for (Command* command : commands) rows.push_back({label, command});
  compare_builds(label, store, programs, store.size());
  for (size_t i = programs; i < store.size(); ++i) {
    const Command& clipmerge = store[i];
    if (!measured(&clipmerge) || !measured(clipmerge.cat)) continue;
    targets.push_back({label + ": " + clipmerge.label + " / cat",
                       median(clipmerge.wall_ms) / median(clipmerge.cat->wall_ms), kClipmergeCatTarget,
                       true});
  }
}

// The builds the environment variable `variable` names, separated by ':', in
// place of `programs`; each named from where it is, as the programs run in the
// sets' directories.
void programs_from(const char* variable, std::vector<std::string>& programs) {
  if (const char* named = std::getenv(variable)) {
    std::vector<std::string> chosen;
    for (const char* p = named; *p;) {
      const char* colon = std::strchr(p, ':');
      const size_t length = colon ? static_cast<size_t>(colon - p) : std::strlen(p);
      if (length > 0) chosen.emplace_back(p, length);
      p += length + (colon ? 1 : 0);
    }
    if (!chosen.empty()) programs = chosen;
  }
  std::error_code error;
  for (std::string& program : programs) program = std::filesystem::absolute(program, error).string();
}

void print_ratio(const Command& command, const Command* basis, bool inverse) {
  if (!measured(&command) || !measured(basis)) {
    std::printf(" %7s", "-");
    return;
  }
  const double a = median(command.wall_ms), b = median(basis->wall_ms);
  std::printf(" %7.2f", inverse ? b / a : a / b);
}

void print_load(const char* when) {
  double load[3];
  if (getloadavg(load, 3) == 3)
    std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: run_bench DATA_DIR [RUNS]\n");
    return 2;
  }
  const std::string data = argv[1];
  const int runs = argc == 3 ? std::atoi(argv[2]) : kDefaultRuns;
  if (runs < 1) {
    std::fprintf(stderr, "run_bench: RUNS must be at least 1\n");
    return 2;
  }
  programs_from("BENCH_FRAMECONV", frameconv_programs);
  programs_from("BENCH_CLIPMERGE", clipmerge_programs);
  dev_null = open("/dev/null", O_WRONLY);
  if (dev_null < 0) return 1;

  std::printf("== benchmark: 1 warm-up + %d runs of each command, medians; %ld CPUs\n", runs,
              sysconf(_SC_NPROCESSORS_ONLN));
  print_load("before");
  for (size_t i = 0; i < frameconv_programs.size(); ++i) {
    std::printf("%s: %s\n", frameconv_label(i).c_str(), frameconv_programs[i].c_str());
  }
  for (size_t i = 0; i < clipmerge_programs.size(); ++i) {
    std::printf("%s: %s\n", program_label("clipmerge", clipmerge_programs, i).c_str(),
                clipmerge_programs[i].c_str());
  }
  std::fflush(stdout);

  if (TINYOBJ_PEER_PROGRAM[0] == 0)
    notes.push_back("tinyobjloader was not found when building: its rows are missing");
  std::vector<Command> store;
  // Room for every command of every set, so that the pointers rows keep stay valid.
  store.reserve(std::size(kFrameSets) * (floor_count(true) + frameconv_programs.size()) + floor_count(false) +
                clipmerge_programs.size());
  for (const auto& set : kFrameSets) frame_set(set[0], data + "/" + set[1], runs, store);
  clip_set(kClipSet[0], data + "/" + kClipSet[1], runs, store);

  std::printf("\n%-14s %-13s %5s %8s %8s %8s %8s %7s %7s %7s %7s %8s\n", "set", "command", "files", "median",
              "fastest", "median", "input", "x cat", "x read+", "x read+", "tinyobj", "peak RSS");
  std::printf("%-14s %-13s %5s %8s %8s %8s %8s %7s %7s %7s %7s %8s\n", "", "", "", "wall ms", "wall ms",
              "cpu ms", "MB/s", "", "memchr", "write", "/ this", "MB");
  bool failed = set_failed;
  std::string last_set;
  for (const Row& row : rows) {
    const Command& command = *row.command;
    if (row.set != last_set && !last_set.empty()) std::printf("\n");
    last_set = row.set;
    failed = failed || command.failed;
    if (!measured(&command)) {
      std::printf("%-14s %-13s %5zu   FAILED (see above)\n", row.set.c_str(), command.label.c_str(),
                  command.file_count);
      continue;
    }
    const double wall = median(command.wall_ms);
    std::printf("%-14s %-13s %5zu %8.1f %8.1f %8.1f %8.0f", row.set.c_str(), command.label.c_str(),
                command.file_count, wall, fastest(command.wall_ms), median(command.cpu_ms),
                command.input_bytes / 1e6 / (wall / 1e3));
    print_ratio(command, command.cat, false);
    print_ratio(command, command.reader, false);
    print_ratio(command, command.writer, false);
    print_ratio(command, command.peer, true);
    std::printf(" %8.1f\n", command.peak_kb / 1024.0);
  }

  std::printf("\ntargets (median wall times):\n");
  for (const Target& target : targets) {
    const bool met = target.at_most ? target.value <= target.bound : target.value >= target.bound;
    std::printf("  %-42s %6.2f  (%s %.1f)  %s\n", target.what.c_str(), target.value,
                target.at_most ? "<=" : ">=", target.bound, met ? "met" : "MISSED");
  }
  if (!builds_compared.empty())
    std::printf("\nbuilds side by side (median wall time / the first build's):\n");
  for (const std::string& line : builds_compared) std::printf("  %s\n", line.c_str());
  if (!notes.empty()) std::printf("\nnotes:\n");
  for (const std::string& note : notes) std::printf("  %s\n", note.c_str());
  print_load("after");
  if (failed) std::printf("\nFAILED: a command did not end as it should (see above)\n");
  return failed ? 1 : 0;
}
