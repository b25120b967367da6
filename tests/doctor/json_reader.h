// A strict reader for one JSON document, enough to check acs-doctor's
// --json output: it refuses anything that is not valid JSON.
#ifndef ZORVAN_TEST_DOCTOR_JSON_READER_H
#define ZORVAN_TEST_DOCTOR_JSON_READER_H

#include <map>
#include <string>
#include <vector>

namespace doctortest {

struct JsonValue {
  enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  // Member of an object; throws when absent.
  const JsonValue &at(const std::string &name) const;
};

// Throws std::runtime_error naming the offset of the first error.
JsonValue parseJson(const std::string &document);

}  // namespace doctortest

#endif
