#include "program_run.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/child_process.h"

namespace {

// The environment with the sanitizers' options of this test added, so that a
// sanitized program is judged by the same rules as the test.
std::vector<std::string> withSanitizerOptions(std::vector<std::string> environment) {
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
    if (const char* value = std::getenv(name))
      environment.push_back(std::string(name) + "=" + value);
  return environment;
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& environment, const std::string& directory) {
  std::string errPath = (std::filesystem::temp_directory_path() / "program_run_XXXXXX").string();
  const int errFd = ::mkstemp(errPath.data());
  if (errFd >= 0) ::close(errFd);
  // The shell moves to the directory and sends standard error to the file;
  // runChild collects standard output.
  std::vector<std::string> shell = {
      "/bin/sh", "-c",      "dir=$1 err=$2; shift 2; cd \"${dir:-.}\" && exec \"$@\" 2>\"$err\"",
      "sh",      directory, errPath};
  shell.insert(shell.end(), argv.begin(), argv.end());
  const theme_search::ChildResult result = theme_search::runChild(
      shell, "", std::chrono::seconds(30), theme_search::kDefaultChildOutputLimit,
      withSanitizerOptions(environment));
  ProgramRun run;
  run.status = result.exitStatus;
  run.out = result.output;
  std::ifstream err(errPath, std::ios::binary);
  run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  std::filesystem::remove(errPath);
  return run;
}

int linesWith(const std::string& text, const std::string& part) {
  std::istringstream lines(text);
  int count = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.find(part) != std::string::npos) ++count;
  return count;
}
