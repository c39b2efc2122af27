// Any bytes as engineconfig.cfg (and, through the name it gives, whatever
// file that is): reading must end without fault. The file lives in a private
// working directory so the names it gives stay inside it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "crawler/config/config_reader.h"

namespace {

// A scratch directory made once per fuzzing process.
const std::string& scratchDirectory() {
  static const std::string path = [] {
    char name[] = "/tmp/config_reader_fuzzXXXXXX";
    const char* made = ::mkdtemp(name);
    if (made == nullptr || ::chdir(made) != 0) std::abort();
    return std::string(made);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static_cast<void>(scratchDirectory());
  std::ofstream("engineconfig.cfg", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  // The same bytes as a theme-word file under a name the configuration may give.
  std::ofstream("themes.txt", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  const theme_search::ConfigReading reading = theme_search::readEngineConfig("engineconfig.cfg");
  if (reading.config.acceptedTypes.size() > size) __builtin_trap();
  return 0;
}
