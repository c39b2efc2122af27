#pragma once

// Runs the searchcgi program as a web server runs it, for the database tests
// of the search program.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_database.h"

namespace searchcgi_test {

struct Reply {
  std::string page;
  int status = -1;
};

// Runs the program with the test database's settings, an empty HOME and the
// given CGI variables; returns its standard output and exit status.
inline Reply runSearchCgi(
    const std::vector<std::string>& variables,
    const std::string& home = std::filesystem::temp_directory_path().string()) {
  std::vector<std::string> environment = variables;
  std::istringstream settings(testEnvironment());
  for (std::string setting; settings >> setting;) environment.push_back(setting);
  environment.push_back(std::string("PATH=") + std::getenv("PATH"));
  environment.push_back("HOME=" + home);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int out[2];
  if (::pipe(out) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string program = BINARY_DIR "/searchcgi/searchcgi";
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  Reply reply;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) reply.page.append(buffer, n);
  ::close(out[0]);
  int status = 0;
  if (spawned == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
    reply.status = WEXITSTATUS(status);
  return reply;
}

}  // namespace searchcgi_test
