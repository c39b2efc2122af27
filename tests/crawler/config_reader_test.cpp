#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crawler/config/config_reader.h"
#include "crawler/config/engine_config.h"

namespace {

using namespace theme_search;

// A scratch working directory holding the files of one test case, removed
// afterwards. File names are relative, as the crawler's are: a name that
// begins with '/' would be a comment line in the configuration file.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/config_file_testXXXXXX";
    path = mkdtemp(name);
    EXPECT_EQ(chdir(path.c_str()), 0);
  }
  ~ScratchDir() {
    EXPECT_EQ(chdir("/tmp"), 0);
    std::system(("rm -rf " + path).c_str());
  }

  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(name, std::ios::binary) << text;
    return name;
  }

  std::string path;
};

using Words = std::vector<std::string>;

// Reads a configuration naming the theme-word file "themes.txt", which
// holds `text`, in the scratch directory.
ConfigReading readWithThemes(const ScratchDir& dir, const std::string& text) {
  std::string themes = dir.write("themes.txt", text);
  return readEngineConfig(
      dir.write("engineconfig.cfg", "0\n0\n//\nhtml\n//\n\"\"\n" + themes + "\n"));
}

TEST(ConfigReader, ReadsTheElevenLineLayout) {
  ScratchDir dir;
  std::string themes = dir.write("themes.txt", "cheval 2\nponey 0\n");
  std::string config = dir.write("engineconfig.cfg",
                                 "// profondeur\n3\n0\n// types\nhtml\npdf\nps\n// fin des types\n"
                                 "\"http://srv.lan/docs/\"\n// mots du theme\n" +
                                     themes + "\n");
  const ConfigReading file = readEngineConfig(config);
  EXPECT_EQ(file.config.maxDepth, 3);
  EXPECT_EQ(file.config.reservedValue, 0);
  EXPECT_EQ(file.config.acceptedTypes, (Words{"html", "pdf", "ps"}));
  EXPECT_EQ(file.siteUrl, "http://srv.lan/docs/");
  EXPECT_EQ(file.config.themeWords,
            (std::map<std::string, std::uint32_t>{{"cheval", 2}, {"poney", 0}}));
  EXPECT_EQ(file.messages, "");
  EXPECT_EQ(file.mistake, "");
  EXPECT_TRUE(file.usable);
}

// Each mistake is named with its line (none when the file ends too soon) and
// what was expected; the theme-word file is then not even opened, since its
// name may have been read from any line.
TEST(ConfigReader, FirstMistakeIsNamedAndStopsTheReading) {
  const std::string site = "\"http://srv.lan/docs/\"\n";
  const std::string tail = "// mots\nthemes.txt\n";
  const std::string head = "// profondeur\n1\n0\n// types\nhtml\npdf\n// site\n";
  const std::string at = "configuration file engineconfig.cfg";
  struct Case {
    std::string text, mistake;
  } cases[] = {
      {head + "http://srv.lan/docs/\n" + tail,
       at + ", line 8: expected the site between double quotes, such as "
            "\"http://srv.lan/docs/\"; found: http://srv.lan/docs/\n"},
      {head + "\"http://srv.lan/docs/\n" + tail,
       at + ", line 8: expected the site between double quotes, such as "
            "\"http://srv.lan/docs/\"; found: \"http://srv.lan/docs/\n"},
      {head + "\"srv.lan/docs/\"\n" + tail,
       at + ", line 8: expected the site to begin with http:// or https://; found: "
            "\"srv.lan/docs/\"\n"},
      {head + "\"http:///docs/\"\n" + tail,
       at + ", line 8: expected a host after the site's http:// or https://; found: "
            "\"http:///docs/\"\n"},
      {head, at + ": ends before the site\n"},
      {"1\n0\n//\nhtml\n", at + ": ends before the comment line that ends the document types\n"},
      {"1\n0\n", at + ": ends before the comment line that ends the document types\n"},
      // The comment after the types is missing: the site is in the type list.
      {"// profondeur\n1\n0\n// types\nhtml\npdf\n" + site + tail,
       at + ", line 7: expected a document type, or the comment line that ends the types; "
            "found: \"http://srv.lan/docs/\"\n"},
      // ... and the site has no quotes either: the theme-word file's line is
      // then read as the site.
      {"1\n0\n// types\nhtml\nhttp://srv.lan/docs/\n" + tail,
       at + ", line 7: expected the site between double quotes, such as "
            "\"http://srv.lan/docs/\"; found: themes.txt\n"},
      {"1\n0\n// types\nhtml\nhttp://srv.lan/docs/\nthemes.txt\n",
       at + ": ends before the comment line that ends the document types\n"},
      {"// profondeur\none\n0\n//\nhtml\n//\n" + site + tail,
       at + ", line 2: expected the depth limit, a whole number such as 1; found: one\n"},
      {"12abc\n0\n//\nhtml\n//\n" + site + tail,
       at + ", line 1: expected the depth limit, a whole number such as 1; found: 12abc\n"},
      {"99999999999\n0\n//\nhtml\n//\n" + site + tail,
       at + ", line 1: expected the depth limit, a whole number such as 1; found: "
            "99999999999\n"},
      {"\n0\n//\nhtml\n//\n" + site + tail,
       at + ", line 1: expected the depth limit, a whole number such as 1; found an empty line\n"},
      // The reserved number missing: the type list shifts up.
      {"1\nhtml\n//\n" + site + tail,
       at + ", line 2: expected the reserved number, a whole number such as 0; found: html\n"},
      {"1\n0\n// types\n\n// site\n" + site + tail,
       at + ", line 5: expected at least one document type (html, pdf, ps) before this comment "
            "line\n"},
      {"1\n0\n//\nhtml\n//\n" + site + "// mots\n\n",
       at + ", line 8: expected the name of the theme-word file; found an empty line\n"},
      {"1\n0\n//\nhtml\n//\n" + site + "// mots\n",
       at + ": ends before the theme-word file name\n"},
      {"1\n0\n//\nhtml\n//\n\"http://" + std::string(300, 'a') + "\"\n" + tail,
       at + ", line 6: longer than 255 characters\n"},
      {"1\n0\n//\nhtml\n" + std::string(256, 'x') + "\n//\n" + site + tail,
       at + ", line 5: longer than 255 characters\n"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    dir.write("themes.txt", "abeille 1\n");
    const ConfigReading file = readEngineConfig(dir.write("engineconfig.cfg", c.text));
    EXPECT_EQ(file.mistake, c.mistake) << "file:\n" << c.text;
    EXPECT_FALSE(file.usable) << "file:\n" << c.text;
    EXPECT_EQ(file.messages, "") << "file:\n" << c.text;
    EXPECT_TRUE(file.config.themeWords.empty()) << "file:\n" << c.text;
  }
}

// What the literal reading has always allowed and the checks keep: remarks
// after numbers, carriage returns, letters after a type, an empty site (no
// restriction), a scheme in capitals, a last line without its line end.
TEST(ConfigReader, UsableLayoutsAndAThemeFileWithoutWords) {
  const std::string cases[] = {
      "  -2 levels\r\n+0\r\n//\r\nhtml\r\n//\r\n\"\"\r\n// mots\r\nthemes.txt\n",
      "1\n0\n/ types\nhtml, text\n\npdf\n//\n\"HTTPS://Srv.lan:8443\" site\nthemes.txt words\n",
      "1\n0\n//\nhtml\n//\n\"http://srv/\"\nthemes.txt",
  };
  for (const std::string& text : cases) {
    ScratchDir dir;
    dir.write("themes.txt", "abeille 1\n");
    const ConfigReading file = readEngineConfig(dir.write("engineconfig.cfg", text));
    EXPECT_TRUE(file.usable) << "file:\n" << text << "\nmistake: " << file.mistake;
    EXPECT_EQ(file.config.themeWords.size(), 1u) << "file:\n" << text;
  }

  // A theme-word file that gives no word: its warnings, then the mistake.
  for (const std::string themes : {"", "l' 2\n", "abeille deux\n"}) {
    ScratchDir dir;
    const ConfigReading file = readWithThemes(dir, themes);
    EXPECT_FALSE(file.usable) << "themes: " << themes;
    EXPECT_EQ(file.mistake,
              "theme word file themes.txt: holds no theme word; expected pairs of a word and its "
              "weight, such as \"abeille 2\"\n")
        << "themes: " << themes;
  }
}

// Values are taken literally whatever the file's mistakes (which the next
// test names).
TEST(ConfigReader, ReadingRulesForEachValue) {
  const std::string longLine = "\"http://" + std::string(300, 'a');
  struct Case {
    std::string text;
    int maxDepth, reserved;
    Words types;
    std::string site, themeFile;
  } cases[] = {
      // A slash as first or second character makes a comment; an empty line
      // is a value line.
      {"/x\na/b\n7\n\n//\nhtml\n/\n\"s\"\nt\n", 7, 0, {"html"}, "s", "t"},
      // atoi numbers: trailing text ignored, no digits gives 0.
      {"12abc\n  -4 x\n//\n\n//\n\"\"\nname\n", 12, -4, {}, "", "name"},
      {"abc\n+5\n//\n\n/\n\"\"\nname\n", 0, 5, {}, "", "name"},
      // Type words: leading letters only; a line not beginning with a
      // letter adds nothing and does not end the block.
      {"1\n2\n//\nhtml, text\n\n pdf\nps3\nPDF\n//\n\"h\"\nn\n",
       1,
       2,
       {"html", "ps", "PDF"},
       "h",
       "n"},
      // Without the closing comment the block takes the following lines.
      {"1\n2\n//\nhtml\n\"http://srv/\"\nthemes\n", 1, 2, {"html", "themes"}, "", ""},
      // The site value: up to the next quote, or to the end of the line.
      {"1\n2\n//\n\n//\n\"abc\nthemes\n", 1, 2, {}, "abc", "themes"},
      {"1\n2\n//\n\n//\n\"\nthemes\n", 1, 2, {}, "", "themes"},
      {"1\n2\n//\n\n//\n\n\nthemes\n", 1, 2, {}, "", ""},
      // The theme-word file name ends at the first blank, not at a tab.
      {"1\n2\n//\n\n//\n\"s\"\n//\nmy themes.txt\n", 1, 2, {}, "s", "my"},
      {"1\n2\n//\n\n//\n\"s\"\nmy\tthemes \n", 1, 2, {}, "s", "my\tthemes"},
      // Carriage returns stay in the line: harmless to numbers and type
      // words, part of the file name.
      {"4\r\n5\r\n//\r\nhtml\r\n//\r\n\"s\"\r\nthemes\r\n", 4, 5, {"html"}, "s", "themes\r"},
      // A file that ends early leaves the remaining values empty.
      {"5\n", 5, 0, {}, "", ""},
      // A line over 255 characters fails the stream: the rest is read from
      // the 255 characters left in the buffer.
      {"1\n2\n//\n\n//\n" + longLine + "\nthemes\n",
       1,
       2,
       {},
       longLine.substr(1, 254),
       longLine.substr(0, 255)},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::string config = dir.write("engineconfig.cfg", c.text);
    const ConfigReading file = readEngineConfig(config);
    EXPECT_EQ(file.config.maxDepth, c.maxDepth) << "file:\n" << c.text;
    EXPECT_EQ(file.config.reservedValue, c.reserved) << "file:\n" << c.text;
    EXPECT_EQ(file.config.acceptedTypes, c.types) << "file:\n" << c.text;
    EXPECT_EQ(file.siteUrl, c.site) << "file:\n" << c.text;
    EXPECT_EQ(file.themeFileName, c.themeFile) << "file:\n" << c.text;
  }
}

TEST(ConfigReader, ThemeWordPairs) {
  struct Case {
    std::string text;
    std::map<std::string, std::uint32_t> words;
  } cases[] = {
      {"ab 1\tbc\n2\n\n  cd   0", {{"ab", 1}, {"bc", 2}, {"cd", 0}}},
      {"ab 1 ab 5 AB 3\n", {{"ab", 1}}},
      {"ab 1 bc\n", {{"ab", 1}}},
      {"ab 1 bc", {{"ab", 1}}},
      {"ab 1 bc -2 cd 3\n", {{"ab", 1}}},
      {"ab 1 bc +2 cd 3\n", {{"ab", 1}}},
      {"ab 1 bc x cd 3\n", {{"ab", 1}}},
      {"ab 1 bc 99999999999 cd 3\n", {{"ab", 1}}},
      {"ab 4294967295 bc 4294967296 cd 3\n", {{"ab", 4294967295u}}},
      {"ab 12cd 3\r\nef 4\r\n", {{"ab", 12}, {"cd", 3}, {"ef", 4}}},
      {"mp3 2 Tour2 1", {{"mp3", 2}, {"tour2", 1}}},
      {"", {}},
      // The whole file is UTF-8 or the whole file is Latin-1 (Windows-1252);
      // either way a theme word is stored folded and lower-cased, as page
      // words are counted. UTF-8: e-acute, oe, capital E-acute, sharp s.
      {"d\xc3\xa9pendances 1\nC\xc5\x93ur 2\n\xc3\x89T\xc3\x89 3\nstra\xc3\x9f"
       "e 4\n",
       {{"dependances", 1}, {"coeur", 2}, {"ete", 3}, {"strasse", 4}}},
      // Latin-1 with Windows-1252's oe (0x9C).
      {"d\xe9pendances 1\n\x9cuvre 2\n\xc9T\xc9 3\nstra\xdf"
       "e 4\n",
       {{"dependances", 1}, {"oeuvre", 2}, {"ete", 3}, {"strasse", 4}}},
      // The same word in several spellings: the first weight stays.
      {"D\xc3\xa9pendances 3\ndependances 5\nD\xc3\x89PENDANCES 7\n", {{"dependances", 3}}},
      {"dependances 2 D\xc9PENDANCES 4 d\xe9pendances 6", {{"dependances", 2}}},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    const ConfigReading file = readWithThemes(dir, c.text);
    EXPECT_EQ(file.config.themeWords, c.words) << "themes: " << c.text;
    EXPECT_EQ(file.messages, "") << "themes: " << c.text;
  }
}

TEST(ConfigReader, ThemeEntryThatIsNotOneWordIsWarnedAboutAndSkipped) {
  ScratchDir dir;
  // UTF-8 as a whole: the entry is named in Latin-1, as every message is.
  const ConfigReading file =
      readWithThemes(dir,
                     "abeille 1\nl' 2\r\n\npomme-de-terre 2\n  - 3 miel 1\nx 4\n"
                     "\xc3\xa9t\xc3\xa9-hiver 5 ruche 2\n");
  EXPECT_EQ(file.config.themeWords,
            (std::map<std::string, std::uint32_t>{{"abeille", 1}, {"miel", 1}, {"ruche", 2}}));
  EXPECT_EQ(file.messages,
            "theme word file themes.txt, line 2: \"l'\" gives no word; ignored\n"
            "theme word file themes.txt, line 4: \"pomme-de-terre\" gives several words; ignored\n"
            "theme word file themes.txt, line 5: \"-\" gives no word; ignored\n"
            "theme word file themes.txt, line 6: \"x\" gives no word; ignored\n"
            "theme word file themes.txt, line 7: \"\xe9t\xe9-hiver\" gives several words; "
            "ignored\n");

  // One byte that is not UTF-8 makes the whole file Latin-1: the UTF-8
  // spelling of e-acute is then two Latin-1 characters and cuts the word.
  const ConfigReading latin1 = readWithThemes(dir, "caf\xe9 1\nd\xc3\xa9pendances 2\n");
  EXPECT_EQ(latin1.config.themeWords, (std::map<std::string, std::uint32_t>{{"cafe", 1}}));
  EXPECT_EQ(latin1.messages,
            "theme word file themes.txt, line 2: \"d\xc3\xa9pendances\" gives several words; "
            "ignored\n");
}

TEST(ConfigReader, MissingFilesGiveTheirMessage) {
  ScratchDir dir;
  const ConfigReading missing = readEngineConfig("none.cfg");
  EXPECT_EQ(missing.messages,
            "le fichier pour le chargement de la config n'a pas pu \xeatre ouvert : none.cfg\n");
  EXPECT_EQ(missing.config.maxDepth, 0);
  EXPECT_EQ(missing.config.reservedValue, 0);
  EXPECT_TRUE(missing.config.acceptedTypes.empty());

  EXPECT_FALSE(missing.usable);

  std::string config = dir.write("engineconfig.cfg", "0\n0\n//\nhtml\n//\n\"\"\nabsent.txt\n");
  const ConfigReading noThemes = readEngineConfig(config);
  EXPECT_EQ(noThemes.messages,
            "le fichier pour le chargement des mots du theme n'a pas pu \xeatre ouvert : "
            "absent.txt\n");
  EXPECT_TRUE(noThemes.config.themeWords.empty());
  EXPECT_EQ(noThemes.mistake, "");
  EXPECT_FALSE(noThemes.usable);
}

TEST(EngineConfig, SplitsTheSiteAndLooksUpWords) {
  struct Case {
    std::string site, host, path;
  } cases[] = {
      {"http://srv.lan/docs/", "srv.lan", "docs/"},
      {"http://srv.lan", "srv.lan", ""},
      {"ftp://srv.lan/a", "rv.lan", "a"},
      {"abc", "abc", ""},
      {"ab/cd", "ab", "cd"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hostPart(c.site), c.host) << "site: " << c.site;
    EXPECT_EQ(pathPart(c.site), c.path) << "site: " << c.site;
  }
  ScratchDir dir;
  std::string themes = dir.write("themes.txt", "cheval 2 poney 0");
  std::string config = dir.write("engineconfig.cfg",
                                 "0\n0\n//\nhtml\n//\n\"http://srv.lan/docs/\"\n" + themes + "\n");
  const ConfigReading reading = readEngineConfig(config);
  ASSERT_TRUE(reading.usable) << reading.mistake;
  const EngineConfig& engine = reading.config;
  EXPECT_EQ(engine.siteHost, "srv.lan");
  EXPECT_EQ(engine.sitePath, "docs/");
  EXPECT_EQ(engine.themeWeight("cheval"), 2u);
  EXPECT_EQ(engine.themeWeight("poney"), 0u);
  EXPECT_EQ(engine.themeWeight("Cheval"), 0u);
  EXPECT_TRUE(engine.isAcceptedType("html"));
  EXPECT_FALSE(engine.isAcceptedType("htm"));
}

}  // namespace
