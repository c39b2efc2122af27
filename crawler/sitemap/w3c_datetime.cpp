// W3C date-times, as sitemaps write their <lastmod>.
#include "crawler/sitemap/w3c_datetime.h"

namespace theme_search {

namespace {

// Reads fixed-width fields off the front of a text.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text(text) {}

  // The next `width` characters as a number, when they are all digits.
  std::optional<int> digits(std::size_t width) {
    if (text.size() < width) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(width);
    return value;
  }
  // Takes the character when it comes next.
  bool take(char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
  }
  bool atEnd() const { return text.empty(); }

 private:
  std::string_view text;
};

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
std::int64_t daysFromCivil(int year, int month, int day) {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The zone's offset from UTC in seconds, or nullopt when none is written
// well. An absent zone is UTC.
std::optional<int> zoneOffset(Cursor& at) {
  if (at.atEnd() || at.take('Z')) return 0;
  const bool ahead = at.take('+');
  if (!ahead && !at.take('-')) return std::nullopt;
  const std::optional<int> hours = at.digits(2);
  if (!hours || !at.take(':')) return std::nullopt;
  const std::optional<int> minutes = at.digits(2);
  if (!minutes || *hours > 23 || *minutes > 59) return std::nullopt;
  const int offset = *hours * 3600 + *minutes * 60;
  return ahead ? offset : -offset;
}

// "Thh:mm[:ss[.fraction]]" and the zone, as seconds from the day's start in
// UTC.
std::optional<std::int64_t> timeOfDay(Cursor& at) {
  const std::optional<int> hours = at.digits(2);
  if (!hours || !at.take(':')) return std::nullopt;
  const std::optional<int> minutes = at.digits(2);
  if (!minutes) return std::nullopt;
  int seconds = 0;
  if (at.take(':')) {
    const std::optional<int> written = at.digits(2);
    if (!written) return std::nullopt;
    seconds = *written;
    if (at.take('.')) {
      if (!at.digits(1)) return std::nullopt;
      while (at.digits(1)) {
      }
    }
  }
  if (*hours > 23 || *minutes > 59 || seconds > 60) return std::nullopt;
  const std::optional<int> offset = zoneOffset(at);
  if (!offset || !at.atEnd()) return std::nullopt;
  return std::int64_t{*hours} * 3600 + *minutes * 60 + seconds - *offset;
}

}  // namespace

std::optional<std::int64_t> w3cDateTime(std::string_view text) {
  Cursor at(text);
  const std::optional<int> year = at.digits(4);
  if (!year) return std::nullopt;
  int month = 1, day = 1;
  bool wholeDay = false;  // a time may follow a whole date only
  if (at.take('-')) {
    const std::optional<int> writtenMonth = at.digits(2);
    if (!writtenMonth || *writtenMonth < 1 || *writtenMonth > 12) return std::nullopt;
    month = *writtenMonth;
    if (at.take('-')) {
      const std::optional<int> writtenDay = at.digits(2);
      if (!writtenDay || *writtenDay < 1 || *writtenDay > daysInMonth(*year, month))
        return std::nullopt;
      day = *writtenDay;
      wholeDay = true;
    }
  }
  const std::int64_t midnight = daysFromCivil(*year, month, day) * 86400;
  if (at.atEnd()) return midnight;
  if (!wholeDay || !at.take('T')) return std::nullopt;
  const std::optional<std::int64_t> time = timeOfDay(at);
  if (!time) return std::nullopt;
  return midnight + *time;
}

}  // namespace theme_search
