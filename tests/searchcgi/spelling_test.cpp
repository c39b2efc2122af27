#include "searchcgi/spelling.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "fd_count.h"

namespace {

using namespace theme_search;

namespace fs = std::filesystem;

// An empty directory removed with its contents at the end of the test.
struct TempDir {
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "spellXXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

ino_t inodeOf(int fd) {
  struct stat status {};
  ::fstat(fd, &status);
  return status.st_ino;
}

TEST(Spelling, CheckerInputEscapesLinesThatWouldBeCommands) {
  struct Case {
    std::string word, input;
  } cases[] = {
      {"chat", "chat\n"},  {"", "\n"},       {"*zz", "^*zz\n"},        {"#", "^#\n"},
      {"%20a", "^%20a\n"}, {"a*#", "a*#\n"}, {"a\n*b", "a\n^*b\n"},    {"^x", "^^x\n"},
      {"-x", "^-x\n"},     {"!", "^!\n"},    {"caf\xe9", "caf\xe9\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(checkerInput(c.word), c.input) << "word: " << c.word;
}

TEST(Spelling, SuggestionTextFollowsFirstColon) {
  EXPECT_EQ(suggestionText("@(#) x\n& helo 2 0: hello, halo\n\n"), " hello, halo\n\n");
  EXPECT_EQ(suggestionText("a:b:c"), "b:c");
  EXPECT_EQ(suggestionText("@(#) x\n*\n\n"), "");
}

TEST(Spelling, ExchangeSendsWordCollectsWholeReplyAndLeavesOurDescriptorsAlone) {
  const int descriptors = openDescriptorCount();
  const ino_t input = inodeOf(0), output = inodeOf(1);

  // The command sees the word on its standard input and writes to its
  // standard output, which is the pipe, not the test's own output.
  EXPECT_EQ(spellSuggestions("*ab%20c", {"sh", "-c", "printf 'x:'; cat"}), "x:^*ab%20c\n");
  // A reply far larger than a pipe's buffer neither blocks nor loses bytes,
  // and neither does a word larger than one.
  const std::string big =
      spellSuggestions("w", {"sh", "-c", "head -c 300000 /dev/zero | tr '\\0' a"});
  EXPECT_EQ(big, std::string(300000, 'a'));
  const std::string longWord(2 << 20, 'a');
  EXPECT_EQ(spellSuggestions(longWord, {"cat"}), longWord + "\n");
  EXPECT_EQ(spellSuggestions("w", {"sh", "-c", "exit 3"}), "");
  EXPECT_EQ(spellSuggestions("w", {"no-such-checker-command"}), "");

  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(inodeOf(0), input);
  EXPECT_EQ(inodeOf(1), output);
}

// A checker that never answers is killed at the deadline, with whatever it
// wrote so far, and leaves no descriptor behind.
TEST(Spelling, CheckerThatHangsIsKilledAtTheDeadline) {
  const int descriptors = openDescriptorCount();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(spellSuggestions("w", {"sh", "-c", "printf 'x:'; exec sleep 30"}), "x:");
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, kSpellDeadline);
  EXPECT_LT(spent, kSpellDeadline + std::chrono::seconds(5));
  EXPECT_EQ(openDescriptorCount(), descriptors);
}

// The real checker, with a home of its own so its personal dictionary can be
// watched.
TEST(Spelling, RealCheckerSuggestsAndCommandWordsChangeNoDictionary) {
  TempDir home;
  const char* savedHome = std::getenv("HOME");
  const std::string previousHome = savedHome ? savedHome : "";
  ::setenv("HOME", home.path.c_str(), 1);

  EXPECT_NE(suggestionText(spellSuggestions("helo")).find(" hello"), std::string::npos);
  EXPECT_EQ(suggestionText(spellSuggestions("hello")), "");
  // Unescaped, "*zzxq" would add a word and "#" save the personal dictionary.
  for (const char* word : {"*zzxq", "#", "zzxq\n#", "&zzxq"})
    static_cast<void>(spellSuggestions(word));
  EXPECT_TRUE(fs::is_empty(home.path));
  EXPECT_NE(suggestionText(spellSuggestions("zzxq")), "");

  if (savedHome)
    ::setenv("HOME", previousHome.c_str(), 1);
  else
    ::unsetenv("HOME");
}

}  // namespace
