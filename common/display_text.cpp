// Display text: the byte and character rules of DisplayTextBuilder, and the
// stretches a set of display texts share.
#include "common/display_text.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/text_folding.h"

namespace theme_search {

namespace {

// White space, the C0 controls, DEL and the no-break space read as a blank.
bool readsAsBlank(unsigned char byte) {
  return byte <= 0x20 || byte == 0x7F || byte == 0xA0;
}

// Printable bytes other than the no-break space.
bool isKept(unsigned char byte) {
  return (byte > 0x20 && byte < 0x7F) || byte > 0xA0;
}

}  // namespace

void DisplayTextBuilder::addText(std::string_view latin1) {
  std::size_t at = 0;
  while (at < latin1.size()) {
    // A run of bytes kept as they are goes in whole.
    std::size_t end = at;
    while (end < latin1.size() && isKept(static_cast<unsigned char>(latin1[end]))) ++end;
    if (end > at) {
      if (pendingBlank) text += ' ';
      pendingBlank = false;
      text.append(latin1, at, end - at);
      at = end;
      continue;
    }
    const auto byte = static_cast<unsigned char>(latin1[at++]);
    if (byte >= 0x80 && byte <= 0x9F) {
      addCharacter(windows1252Character(byte));
    } else {
      addBlank();
    }
  }
}

void DisplayTextBuilder::addCharacter(char32_t character) {
  if (character >= 0x100) {
    const auto text = transliterate(character);
    if (!text) {
      addBlank();
      return;
    }
    for (char c : *text) c == ' ' ? addBlank() : addVisible(c);
    return;
  }
  const auto byte = static_cast<unsigned char>(character);
  if (byte >= 0x80 && byte <= 0x9F) {
    const char32_t windows = windows1252Character(byte);
    windows == 0 ? addBlank() : addCharacter(windows);
  } else if (readsAsBlank(byte)) {
    addBlank();
  } else {
    addVisible(static_cast<char>(byte));
  }
}

void DisplayTextBuilder::addVisible(char byte) {
  if (pendingBlank) text += ' ';
  pendingBlank = false;
  text += byte;
}

std::string displayTextOf(std::string_view latin1) {
  DisplayTextBuilder builder;
  builder.addText(latin1);
  return builder.str();
}

namespace {

// Runs of this many blank-separated pieces are compared between texts.
constexpr std::size_t kShingleLength = 4;
// A shared stretch inside a text (touching neither end) is navigation only
// from this many pieces on.
constexpr std::size_t kInnerStretchLength = 8;
// The hashes standing for a text's start and end.
constexpr std::uint64_t kTextStart = 0x9e3779b97f4a7c15u;
constexpr std::uint64_t kTextEnd = 0xc2b2ae3d27d4eb4fu;

std::uint64_t bytesHash(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  return hash;
}

std::uint64_t combine(std::uint64_t hash, std::uint64_t next) {
  hash ^= next + 0x9e3779b97f4a7c15u + (hash << 6) + (hash >> 2);
  return hash * 0xff51afd7ed558ccdu;
}

struct Range {
  std::size_t begin;
  std::size_t end;
};

// A text's blank-separated pieces, and their hashes with the start's
// before them and the end's after them.
struct Pieces {
  std::vector<Range> places;
  std::vector<std::uint64_t> hashes;  // places.size() + 2
};

Pieces piecesOf(std::string_view text) {
  Pieces pieces;
  pieces.hashes.push_back(kTextStart);
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find(' ', at);
    if (end == std::string_view::npos) end = text.size();
    if (end > at) {
      pieces.places.push_back({at, end});
      pieces.hashes.push_back(bytesHash(text.substr(at, end - at)));
    }
    at = end + 1;
  }
  pieces.hashes.push_back(kTextEnd);
  return pieces;
}

// Calls visit(hash, first, last) for each run compared: every run of
// kShingleLength hashes, and the shorter runs (three hashes at least) that
// begin with the start or end with the end; first and last index hashes.
template <typename Visit>
void forEachRun(const std::vector<std::uint64_t>& hashes, Visit visit) {
  const std::size_t count = hashes.size();
  const auto runHash = [&](std::size_t first, std::size_t length) {
    std::uint64_t hash = length;
    for (std::size_t i = first; i < first + length; ++i) hash = combine(hash, hashes[i]);
    return hash;
  };
  for (std::size_t length = 3; length < kShingleLength && length <= count; ++length) {
    visit(runHash(0, length), 0, length - 1);
    visit(runHash(count - length, length), count - length, count - 1);
  }
  for (std::size_t first = 0; first + kShingleLength <= count; ++first)
    visit(runHash(first, kShingleLength), first, first + kShingleLength - 1);
}

// Counts, for each run's hash, the texts that hold it: open addressing in a
// table of a power of two entries, at most half full.
class RunCounts {
 public:
  explicit RunCounts(std::size_t runs) {
    std::size_t size = 16;
    while (size < 2 * runs) size *= 2;
    entries.resize(size);
  }

  void add(std::uint64_t hash, std::uint32_t text) {
    Entry& entry = find(hash);
    entry.hash = hash;
    if (entry.lastText != text + 1) {
      entry.lastText = text + 1;
      ++entry.texts;
    }
  }

  std::uint32_t texts(std::uint64_t hash) { return find(hash).texts; }

 private:
  struct Entry {
    std::uint64_t hash = 0;
    std::uint32_t texts = 0;
    std::uint32_t lastText = 0;
  };

  Entry& find(std::uint64_t hash) {
    if (hash == 0) hash = 1;  // 0 marks a free entry
    std::size_t at = static_cast<std::size_t>(hash) & (entries.size() - 1);
    while (entries[at].hash != 0 && entries[at].hash != hash) at = (at + 1) & (entries.size() - 1);
    return entries[at];
  }

  std::vector<Entry> entries;
};

// The text with its navigation stretches (pieces marked shared) replaced by
// one kStretchBreak each.
std::string withoutStretches(const std::string& text, const Pieces& pieces,
                             const std::vector<bool>& shared) {
  std::string kept;
  std::size_t copied = 0;
  const std::size_t count = pieces.places.size();
  for (std::size_t first = 0; first < count;) {
    if (!shared[first]) {
      ++first;
      continue;
    }
    std::size_t last = first;
    while (last + 1 < count && shared[last + 1]) ++last;
    if (first == 0 || last + 1 == count || last - first + 1 >= kInnerStretchLength) {
      kept.append(text, copied, pieces.places[first].begin - copied);
      kept += kStretchBreak;
      copied = pieces.places[last].end;
    }
    first = last + 1;
  }
  if (copied == 0) return text;
  kept.append(text, copied, std::string::npos);
  return kept;
}

}  // namespace

void markSharedStretches(const std::vector<std::string*>& texts) {
  std::vector<Pieces> pieces;
  std::size_t runs = 0, nonEmpty = 0;
  for (const std::string* text : texts) {
    pieces.push_back(piecesOf(*text));
    runs += pieces.back().hashes.size() + 2 * kShingleLength;
    if (!text->empty()) ++nonEmpty;
  }
  const std::size_t needed = std::max<std::size_t>(3, nonEmpty / 2 + 1);
  if (nonEmpty < needed) return;
  RunCounts counts(runs);
  for (std::size_t i = 0; i < texts.size(); ++i)
    forEachRun(pieces[i].hashes, [&](std::uint64_t hash, std::size_t, std::size_t) {
      counts.add(hash, static_cast<std::uint32_t>(i));
    });
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::size_t count = pieces[i].places.size();
    std::vector<bool> shared(count, false);
    bool any = false;
    forEachRun(pieces[i].hashes, [&](std::uint64_t hash, std::size_t first, std::size_t last) {
      if (counts.texts(hash) < needed) return;
      any = true;
      // Hash indexes are piece indexes plus one (the start's hash first).
      for (std::size_t at = std::max<std::size_t>(first, 1); at <= std::min(last, count); ++at)
        shared[at - 1] = true;
    });
    if (any) *texts[i] = withoutStretches(*texts[i], pieces[i], shared);
  }
}

}  // namespace theme_search
