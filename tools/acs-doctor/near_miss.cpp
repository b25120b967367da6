#include "near_miss.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace doctor {

namespace {

const char kKey[] = "dZORVANHOME";
const char kBlanks[] = " \t\r\n";

}  // namespace

std::string lower(std::string text) {
  for (char &ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

std::size_t editDistance(const std::string &a, const std::string &b, std::size_t limit) {
  std::size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (gap > limit) return limit + 1;
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return std::min(row[b.size()], limit + 1);
}

bool nearMissKey(const std::string &line, NearMiss &out) {
  std::size_t start = line.find_first_not_of(kBlanks);
  if (start == std::string::npos) return false;
  std::size_t end = line.find_first_of(kBlanks, start);
  std::string token = line.substr(start, end == std::string::npos ? end : end - start);
  std::string value;
  if (end != std::string::npos) {
    std::size_t v = line.find_first_not_of(kBlanks, end);
    if (v != std::string::npos) value = line.substr(v, line.find_first_of(kBlanks, v) - v);
  }
  std::size_t equals = token.find('=');
  if (equals != std::string::npos) {
    std::string key = token.substr(0, equals);
    if (editDistance(lower(key), lower(kKey), 2) > 2) return false;
    out.why = "the key is joined to its value with '=', but only 'dZORVANHOME <home>' (key, "
              "blank, value) is read";
    value = token.substr(equals + 1);
  } else if (token == kKey) {
    return false;
  } else if (lower(token) == lower(kKey)) {
    out.why = "the key's case differs; the library reads only dZORVANHOME, case-sensitively";
  } else if (editDistance(token, kKey, 2) <= 2) {
    out.why = "the key is misspelt; the library reads only dZORVANHOME";
  } else {
    return false;
  }
  out.text = line;
  while (!out.text.empty() && (out.text.back() == '\n' || out.text.back() == '\r'))
    out.text.pop_back();
  out.value = value.empty() ? "<home directory>" : value;
  return true;
}

}  // namespace doctor
