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
// Navigation is looked for among a text's first and last this many pieces:
// a site's header, footer and side menus, read in a bounded time.
constexpr std::size_t kEndPieces = 200;
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
// before them and the end's after them. A long text keeps only its first and
// last kEndPieces pieces, with an empty place (its hash never compared) for
// the gap between them.
struct Pieces {
  std::vector<Range> places;
  std::vector<std::uint64_t> hashes;  // places.size() + 2
  std::size_t gap = 0;                // the gap's hash index, 0 for none
};

void addPiece(Pieces& pieces, std::string_view text, Range place) {
  pieces.places.push_back(place);
  pieces.hashes.push_back(bytesHash(text.substr(place.begin, place.end - place.begin)));
}

Pieces piecesOf(std::string_view text) {
  Pieces pieces;
  pieces.places.reserve(2 * kEndPieces + 1);
  pieces.hashes.reserve(2 * kEndPieces + 3);
  pieces.hashes.push_back(kTextStart);
  std::size_t at = 0;
  while (at < text.size() && pieces.places.size() < kEndPieces) {
    std::size_t end = text.find(' ', at);
    if (end == std::string_view::npos) end = text.size();
    if (end > at) addPiece(pieces, text, {at, end});
    at = end + 1;
  }
  // The last pieces, read backwards, then put in text order.
  std::vector<Range> tail;
  tail.reserve(kEndPieces);
  std::size_t stop = text.size();
  while (stop > at && tail.size() < kEndPieces) {
    std::size_t begin = stop;
    while (begin > at && text[begin - 1] != ' ') --begin;
    if (stop > begin) tail.push_back({begin, stop});
    stop = begin > 0 ? begin - 1 : 0;
  }
  if (stop > at) {
    pieces.gap = pieces.hashes.size();
    pieces.places.push_back({at, at});
    pieces.hashes.push_back(0);
  }
  for (auto place = tail.rbegin(); place != tail.rend(); ++place) addPiece(pieces, text, *place);
  pieces.hashes.push_back(kTextEnd);
  return pieces;
}

// Calls visit(hash, first, last) for each run compared: every run of
// kShingleLength hashes, and the shorter runs (three hashes at least) that
// begin with the start or end with the end; first and last index hashes.
// No run holds the gap.
template <typename Visit>
void forEachRun(const Pieces& pieces, Visit visit) {
  const std::vector<std::uint64_t>& hashes = pieces.hashes;
  const std::size_t count = hashes.size();
  const auto runHash = [&](std::size_t first, std::size_t length) {
    std::uint64_t hash = length;
    for (std::size_t i = first; i < first + length; ++i) hash = combine(hash, hashes[i]);
    return hash;
  };
  const auto holdsGap = [&](std::size_t first, std::size_t last) {
    return pieces.gap != 0 && first <= pieces.gap && pieces.gap <= last;
  };
  for (std::size_t length = 3; length < kShingleLength && length <= count; ++length) {
    if (!holdsGap(0, length - 1)) visit(runHash(0, length), 0, length - 1);
    if (!holdsGap(count - length, count - 1))
      visit(runHash(count - length, length), count - length, count - 1);
  }
  for (std::size_t first = 0; first + kShingleLength <= count; ++first)
    if (!holdsGap(first, first + kShingleLength - 1))
      visit(runHash(first, kShingleLength), first, first + kShingleLength - 1);
}

// Counts, for each run's hash, the texts that hold it: open addressing in a
// table of a power of two entries, at most half full. The table is the
// thread's, kept from one result page to the next (a page's entries are
// told apart by its generation), so no page allocates or clears one.
class RunCounts {
 public:
  explicit RunCounts(std::size_t runs) : entries(table()) {
    std::size_t size = 16;
    for (; size < 2 * runs; size *= 2) --shift;
    if (entries.size() < size) entries.assign(size, Entry());
    mask = size - 1;
    if (++generation() == 0) {  // the counter wrapped: forget every entry
      std::fill(entries.begin(), entries.end(), Entry());
      generation() = 1;
    }
  }

  void add(std::uint64_t hash, std::uint16_t text) {
    Entry& entry = find(hash);
    if (entry.lastText != text + 1) {
      entry.lastText = static_cast<std::uint16_t>(text + 1);
      ++entry.texts;
    }
  }

  std::uint16_t texts(std::uint64_t hash) { return find(hash).texts; }

 private:
  struct Entry {
    std::uint64_t hash = 0;
    std::uint32_t generation = 0;
    std::uint16_t texts = 0;
    std::uint16_t lastText = 0;
  };

  static std::vector<Entry>& table() {
    static thread_local std::vector<Entry> entries;
    return entries;
  }
  static std::uint32_t& generation() {
    static thread_local std::uint32_t current = 0;
    return current;
  }

  // The entry of a hash, taken (emptied) when the hash has none yet.
  Entry& find(std::uint64_t hash) {
    // The high bits of a multiplied hash spread best.
    std::size_t at = static_cast<std::size_t>((hash * 0x9e3779b97f4a7c15u) >> shift);
    const std::uint32_t current = generation();
    while (entries[at].generation == current && entries[at].hash != hash) at = (at + 1) & mask;
    Entry& entry = entries[at];
    if (entry.generation != current) entry = Entry{hash, current, 0, 0};
    return entry;
  }

  std::vector<Entry>& entries;
  std::size_t mask = 15;
  int shift = 60;  // 64 less the size's power of two
};

// Replaces, in place, the text's navigation stretches (runs of pieces marked
// shared that touch either end or are long) by one kStretchBreak each: the
// text only shrinks, so it is compacted in its own buffer.
void takeOutStretches(std::string& text, const Pieces& pieces, const std::vector<bool>& shared) {
  std::size_t write = 0, read = 0;
  const std::size_t count = pieces.places.size();
  for (std::size_t first = 0; first < count;) {
    if (!shared[first]) {
      ++first;
      continue;
    }
    std::size_t last = first;
    while (last + 1 < count && shared[last + 1]) ++last;
    if (first == 0 || last + 1 == count || last - first + 1 >= kInnerStretchLength) {
      const std::size_t begin = pieces.places[first].begin;
      std::copy(text.begin() + read, text.begin() + begin, text.begin() + write);
      write += begin - read;
      text[write++] = kStretchBreak;
      read = pieces.places[last].end;
    }
    first = last + 1;
  }
  if (read == 0) return;
  std::copy(text.begin() + read, text.end(), text.begin() + write);
  text.resize(write + text.size() - read);
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
  // Texts are counted in 16 bits; a result page holds far fewer.
  if (nonEmpty < needed || texts.size() >= 0xFFFF) return;
  RunCounts counts(runs);
  for (std::size_t i = 0; i < texts.size(); ++i)
    forEachRun(pieces[i], [&](std::uint64_t hash, std::size_t, std::size_t) {
      counts.add(hash, static_cast<std::uint16_t>(i));
    });
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::size_t count = pieces[i].places.size();
    std::vector<bool> shared(count, false);
    bool any = false;
    forEachRun(pieces[i], [&](std::uint64_t hash, std::size_t first, std::size_t last) {
      if (counts.texts(hash) < needed) return;
      any = true;
      // Hash indexes are piece indexes plus one (the start's hash first).
      for (std::size_t at = std::max<std::size_t>(first, 1); at <= std::min(last, count); ++at)
        shared[at - 1] = true;
    });
    if (any) takeOutStretches(*texts[i], pieces[i], shared);
  }
}

}  // namespace theme_search
