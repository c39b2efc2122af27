#include "crawler/analysis/document_text.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fd_count.h"

namespace {

using namespace theme_search;

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Runs each test in a fresh working directory and checks afterwards that no
// temporary file and no descriptor was left behind.
class DocumentTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/document_text_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base = pattern;
    fs::create_directory(base / "work");
    previous = fs::current_path();
    fs::current_path(base / "work");
    descriptors = openDescriptorCount();
  }

  void TearDown() override {
    EXPECT_EQ(openDescriptorCount(), descriptors);
    if (fs::exists(base / "work")) {
      for (const auto& entry : fs::directory_iterator(base / "work"))
        EXPECT_NE(entry.path().filename().string().rfind("zparseps", 0), 0u)
            << "left behind: " << entry.path();
    }
    fs::current_path(previous);
    fs::remove_all(base);
  }

  fs::path base;
  fs::path previous;
  int descriptors = 0;
};

TEST_F(DocumentTextTest, ExtractsTheWordsOfPostScriptAndPdfDocuments) {
  const std::string postScript = readFile(SOURCE_DIR "/tests/crawler/fixtures/words.ps");
  ASSERT_FALSE(postScript.empty());
  const std::string pdfPath = (base / "words.pdf").string();
  ASSERT_EQ(
      std::system(("ps2pdf " SOURCE_DIR "/tests/crawler/fixtures/words.ps " + pdfPath).c_str()), 0);
  const std::string pdf = readFile(pdfPath);
  ASSERT_EQ(pdf.rfind("%PDF", 0), 0u);

  for (const std::string& document : {postScript, pdf}) {
    const std::string text = documentText(document);
    for (const char* word : {"Observation du ciel profond", "Nebuleuse Orion telescope"})
      EXPECT_NE(text.find(word), std::string::npos) << word << " missing from: " << text;
  }
}

TEST_F(DocumentTextTest, HandsTheWholeBodyToTheConverterInTwoTemporaryFiles) {
  const std::string body("%PDF\0\xff\r\n\0end", 12);
  // $0 and $1 are the two file names.
  const std::vector<std::string> copy = {"sh", "-c",
                                         "ls -l \"$0\" \"$1\" > ../files && cp \"$0\" \"$1\""};
  EXPECT_EQ(documentText(body, copy), body);

  // Both files existed, under distinct names, in the working directory.
  const std::string listing = readFile(base / "files");
  const auto first = listing.find("zparseps");
  ASSERT_NE(first, std::string::npos) << listing;
  const auto second = listing.find("zparseps", first + 1);
  ASSERT_NE(second, std::string::npos) << listing;
  EXPECT_NE(listing.substr(first, 14), listing.substr(second, 14));
}

TEST_F(DocumentTextTest, ReadsTheTitleFromTheMetadataReaderOnTheSameDocument) {
  const std::vector<std::string> copy = {"sh", "-c", "cp \"$0\" \"$1\""};
  // The reader gets the document's file name last: it prints the title it
  // finds there, among other lines.
  const std::vector<std::string> reader = {
      "sh", "-c", "echo 'Creator: x'; printf 'Title:  %s \\r\\nPages: 1\\n' \"$(cat \"$0\")\""};
  const ConvertedText converted = convertDocument(
      "R\xc3\xa9"
      "colte",
      copy, kConversionDeadline, reader);
  EXPECT_EQ(converted.text,
            "R\xc3\xa9"
            "colte");
  EXPECT_EQ(converted.title,
            "R\xc3\xa9"
            "colte");
  EXPECT_EQ(converted.failure, std::nullopt);
  // No reader, or one that fails or is missing: no title, and the text all
  // the same.
  EXPECT_EQ(convertDocument("t", copy).title, "");
  for (const std::vector<std::string>& failing :
       {std::vector<std::string>{"sh", "-c", "echo 'Title: half'; exit 1"},
        std::vector<std::string>{"no-such-reader-here"}}) {
    const ConvertedText without = convertDocument("t", copy, kConversionDeadline, failing);
    EXPECT_EQ(without.text, "t");
    EXPECT_EQ(without.title, "");
    EXPECT_EQ(without.failure, std::nullopt);
  }
}

TEST(MetadataTitle, TakesTheTitleLineOnly) {
  const struct {
    std::string output, title;
  } cases[] = {
      {"Title:           Guide du d\xc3\xa9placement\nAuthor: A\n", "Guide du d\xc3\xa9placement"},
      {"Creator: x\nTitle:\tLe  miel \r\nTitle: second\n", "Le  miel"},
      {"Subtitle: no\nAuthor: Title: no\n", ""},
      {"Title:", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(metadataTitle(c.output), c.title) << c.output;
}

TEST_F(DocumentTextTest, GivesEmptyTextWhenTheConverterIsMissingOrFails) {
  EXPECT_EQ(convertDocument("%!PS\n", {"no-such-converter-here"}).failure,
            "no-such-converter-here: no such program: no-such-converter-here");
  EXPECT_EQ(documentText("%!PS\n", {"false"}), "");
}

TEST_F(DocumentTextTest, RunsNothingWhenTheTemporaryFilesCannotBeCreated) {
  // The working directory is removed from under the process.
  fs::remove(base / "work");
  const std::string marker = (base / "ran").string();
  EXPECT_EQ(documentText("%!PS\n", {"touch", marker}), "");
  EXPECT_FALSE(fs::exists(marker));
}

// A converter that never ends is killed at the deadline, its partial text
// is not used, and its temporary files still go (checked by TearDown).
TEST_F(DocumentTextTest, ConverterPastItsDeadlineGivesEmptyText) {
  const std::vector<std::string> stuck = {"sh", "-c", "echo partial > \"$1\"; exec sleep 30"};
  const auto start = std::chrono::steady_clock::now();
  const ConvertedText converted = convertDocument("%!PS\n", stuck, std::chrono::milliseconds(300));
  EXPECT_EQ(converted.text, "");
  EXPECT_EQ(converted.failure, "sh: killed after 300 ms");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace

namespace {

// The conversion files a killed run left behind, and only they, are removed
// at the next start.
TEST(LeftoverTemporaryFiles, OnlyTheConversionsOwnNamesAreRemoved) {
  char directory[] = "/tmp/se_leftoversXXXXXX";
  ASSERT_NE(::mkdtemp(directory), nullptr);
  const std::string base = std::string(directory) + "/";
  const char* names[] = {"zparsepsAb12Cd",  "zparseps000000", "zparsepsshort",
                         "zparseps1234567", "other",          "xzparsepsAb12Cd"};
  for (const char* name : names) std::ofstream(base + name) << "x";
  EXPECT_EQ(theme_search::removeLeftoverTemporaryFiles(directory), 2u);
  std::vector<std::string> left;
  for (const char* name : names)
    if (::access((base + name).c_str(), F_OK) == 0) left.push_back(name);
  EXPECT_EQ(left, (std::vector<std::string>{"zparsepsshort", "zparseps1234567", "other",
                                            "xzparsepsAb12Cd"}));
  for (const std::string& name : left) ::unlink((base + name).c_str());
  ::rmdir(directory);
}

}  // namespace
