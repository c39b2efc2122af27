// The JSON view of a search.
#include "searchcgi/json_view.h"

#include <algorithm>
#include <cstdio>

#include "searchcgi/json_text.h"

namespace theme_search {

namespace {

const char* const kJsonType = "Content-Type: application/json; charset=utf-8\n\n";

std::string resultJson(const ShownResult& result) {
  std::string json = "{\"url\":";
  appendJsonString(json, result.url);
  json += ",\"title\":";
  appendJsonString(json, result.title);
  json += ",\"excerpt\":" + excerptJson(result.excerpt);
  if (result.score) {
    char score[32];
    std::snprintf(score, sizeof score, "%.6g", *result.score);
    json += std::string(",\"score\":") + score;
  }
  return json + "}";
}

// {"word":["suggestion",...],...}: each word once, with the answer to its
// first occurrence.
std::string suggestionsJson(const ResultList& list) {
  const std::vector<std::string> all = allKeywords(list.words);
  std::vector<std::string> seen;
  std::string json = "{";
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (std::find(seen.begin(), seen.end(), all[i]) != seen.end()) continue;
    seen.push_back(all[i]);
    if (json.size() > 1) json += ',';
    appendJsonStringOfUtf8(json, all[i]);
    json += ":[";
    const std::vector<std::string> suggestions =
        suggestionList(i < list.suggestions.size() ? list.suggestions[i] : "");
    for (std::size_t s = 0; s < suggestions.size(); ++s) {
      if (s > 0) json += ',';
      appendJsonString(json, suggestions[s]);
    }
    json += ']';
  }
  return json + "}";
}

}  // namespace

std::string jsonReply(const ResultList& list) {
  if (!list.searched)
    return jsonErrorReply(400, "Bad Request", "Erreur de param\xe8tres : aucun mot \xe0 chercher");
  std::string json = "{\"query\":";
  appendJsonStringOfUtf8(json, typedQuery(list.words));
  json += ",\"total\":" + std::to_string(list.total) +
          ",\"page\":" + std::to_string(list.query.pageNumber) + ",\"results\":[";
  for (std::size_t i = 0; i < list.results.size(); ++i) {
    if (i > 0) json += ',';
    json += resultJson(list.results[i]);
  }
  json += ']';
  if (list.query.spellCheck) json += ",\"suggestions\":" + suggestionsJson(list);
  return kJsonType + json + "}\n";
}

std::string jsonErrorReply(int status, const std::string& reason, const std::string& message) {
  return "Status: " + std::to_string(status) + " " + reason + "\n" + kJsonType +
         "{\"status\":" + std::to_string(status) + ",\"error\":" + jsonString(message) + "}\n";
}

}  // namespace theme_search
