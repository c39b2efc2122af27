#include "searchcgi/spelling.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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

TEST(Spelling, CheckerInputIsOneEscapedLinePerWord) {
  using Words = std::vector<std::string>;
  struct Case {
    Words words;
    std::string input;
  } cases[] = {
      {{"chat"}, "^chat\n"},
      {{""}, "^\n"},
      {{"*zz", "#", "-x", "!"}, "^*zz\n^#\n^-x\n^!\n"},
      {{"a\n*b", "c\r\nd"}, "^a *b\n^c  d\n"},
      {{"^x", "caf\xe9", "a b"}, "^^x\n^caf\xe9\n^a b\n"},
      // The words arrive in UTF-8; the checker reads Latin-1.
      {{"caf\xc3\xa9", "\xc5\x93uf", "\xe2\x80\x9cx\xe2\x80\x9d"}, "^caf\xe9\n^oeuf\n^\"x\"\n"},
      {{}, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(checkerInput(c.words), c.input)
        << "first word: " << (c.words.empty() ? "" : c.words[0]);
}

TEST(Spelling, ReplyIsSplitIntoOneSuggestionTextPerWord) {
  const std::string banner = "@(#) International Ispell Version 3.1.20 (but really Aspell)\n";
  using Texts = std::vector<std::string>;
  struct Case {
    std::string reply;
    std::size_t words;
    Texts texts;
  } cases[] = {
      {banner + "& helo 2 1: hello, halo\n\n", 1, {" hello, halo\n\n"}},
      {banner + "*\n\n& helo 2 1: hello, halo\n\n\n*\n\n", 4, {"", " hello, halo\n\n", "", ""}},
      // Two words on one line (a decoded space): one answer with both.
      {banner + "*\n& zz 1 3: z\n\n& b 1 1: c\n\n", 2, {" z\n\n", " c\n\n"}},
      // A checker cut short answers the first words only.
      {banner + "& a 1 1: b\n\n& c 1 1: d", 3, {" b\n\n", " d", ""}},
      {"", 2, {"", ""}},
      {banner, 1, {""}},
      {"a:b:c\n\n", 1, {"b:c\n\n"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(suggestionTexts(c.reply, c.words), c.texts) << "reply: " << c.reply;
  // Whatever the checker answers (a word echoed, a suggestion with "&")
  // stays text.
  EXPECT_EQ(spellingBlock(" AT&T, <b>x</b>, l'\xe9t\xe9\n\n"),
            "<B>Corrections possibles :</B><P>\n AT&amp;T, &lt;b&gt;x&lt;/b&gt;, l&#39;\xe9t\xe9"
            "\n\n<BR>\n");
}

TEST(Spelling, OneExchangeForAllWordsLeavesOurDescriptorsAlone) {
  const int descriptors = openDescriptorCount();
  const ino_t input = inodeOf(0), output = inodeOf(1);

  // A stand-in checker that answers every line with its text after a
  // colon, and counts its own runs in a file.
  TempDir dir;
  const std::string runs = (dir.path / "runs").string();
  const CheckerCommand echo = {
      "sh", "-c",
      "echo run >> " + runs +
          "; echo '@(#) x'; while IFS= read -r l; do printf '& x 1 0:%s\\n\\n' \"$l\"; done"};
  EXPECT_EQ(spellSuggestions({"*ab%20c", "", "b"}, echo),
            (std::vector<std::string>{"^*ab%20c\n\n", "^\n\n", "^b\n\n"}));
  {
    std::ifstream counted(runs);
    std::string all((std::istreambuf_iterator<char>(counted)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "run\n");
  }
  EXPECT_EQ(spellSuggestions({}, echo), std::vector<std::string>{});

  // A word larger than a pipe's buffer neither blocks nor loses bytes.
  const std::string longWord(2 << 20, 'a');
  EXPECT_EQ(spellSuggestions({longWord}, {"sh", "-c", "printf ':'; cat"}),
            std::vector<std::string>{"^" + longWord + "\n"});
  EXPECT_EQ(spellSuggestions({"w", "v"}, {"sh", "-c", "exit 3"}),
            (std::vector<std::string>{"", ""}));
  EXPECT_EQ(spellSuggestions({"w"}, {"no-such-checker-command"}), std::vector<std::string>{""});

  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(inodeOf(0), input);
  EXPECT_EQ(inodeOf(1), output);
}

// A checker that never answers is killed at the deadline, with whatever it
// wrote so far, and leaves no descriptor behind.
TEST(Spelling, CheckerThatHangsIsKilledAtTheDeadline) {
  const int descriptors = openDescriptorCount();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(spellSuggestions({"w", "v"}, {"sh", "-c", "printf '& w 1 0: x\\n\\n'; exec sleep 30"}),
            (std::vector<std::string>{" x\n\n", ""}));
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

  const std::vector<std::string> texts =
      spellSuggestions({"helo", "hello", "*zzxq", "#", "zzxq\n#", "&zzxq", "zzxq"});
  ASSERT_EQ(texts.size(), 7u);
  EXPECT_EQ(texts[0].find(" hello"), 0u) << texts[0];
  EXPECT_EQ(texts[1], "");
  // Unescaped, "*zzxq" would add a word and "#" save the personal dictionary.
  EXPECT_TRUE(fs::is_empty(home.path));
  EXPECT_NE(texts[6], "");
  // The same suggestions as the word checked on its own.
  EXPECT_EQ(spellSuggestions({"helo"}), std::vector<std::string>{texts[0]});

  if (savedHome)
    ::setenv("HOME", previousHome.c_str(), 1);
  else
    ::unsetenv("HOME");
}

}  // namespace
