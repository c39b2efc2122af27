// The configuration record built from the configuration files, and its
// lookups of accepted types and theme-word weights.
#include "engine_config.h"

#include <iostream>

#include "config_file.h"

EngineConfig::EngineConfig(const std::string& fileName) : EngineConfig(fileName, std::cout) {}

EngineConfig::EngineConfig(const std::string& fileName, std::ostream& messages) {
  ConfigFile file(fileName, messages);
  maxDepth = file.maxDepth;
  reservedValue = file.reservedValue;
  siteHost = hostPart(file.siteUrl);
  sitePath = pathPart(file.siteUrl);
  themeWords = file.themeWords;
  acceptedTypes = file.acceptedTypes;
}

bool EngineConfig::isAcceptedType(const std::string& type) const {
  for (const std::string& accepted : acceptedTypes)
    if (accepted == type) return true;
  return false;
}

std::uint32_t EngineConfig::themeWeight(const std::string& word) const {
  auto found = themeWords.find(word);
  return found == themeWords.end() ? 0 : found->second;
}
