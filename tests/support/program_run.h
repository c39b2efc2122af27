#pragma once

#include <string>
#include <vector>

// Runs one of the project's programs as a process, for tests of what it
// writes where and the status it ends with.

struct ProgramRun {
  int status = -1;  // the exit code, or -1 when it did not exit by itself
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs argv[0] with argv[1..] in `directory` (empty: the test's own) with
// exactly `environment` ("NAME=value" entries), no input and a 30 s limit.
ProgramRun runProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& environment,
                      const std::string& directory = "");

// The lines of `text` that contain `part`.
int linesWith(const std::string& text, const std::string& part);
