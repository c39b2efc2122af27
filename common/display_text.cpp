// Display text: the byte and character rules of DisplayTextBuilder.
#include "common/display_text.h"

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

}  // namespace theme_search
