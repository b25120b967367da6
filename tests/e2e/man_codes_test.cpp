// acs-host(1) lists DB2's published codes: exactly those of the one table
// (tools/common/acs_return_codes.h), in order, none typed differently.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "acs_return_codes.h"

namespace {

TEST(ManualPages, AcsHostListsThePublishedCodesOfTheTable) {
  std::ifstream page(ACS_HOST_MAN_PAGE);
  ASSERT_TRUE(page) << ACS_HOST_MAN_PAGE;
  std::vector<std::string> listed, expected;
  std::string line;
  while (std::getline(page, line)) {
    int code = -1;
    char name[64] = "";
    if (std::sscanf(line.c_str(), ".B %d %63s", &code, name) == 2)
      listed.push_back(std::to_string(code) + " " + name);
  }
#define ACS_RC_EXPECTED(Value, Name) expected.push_back(#Value " " + std::string(acsReturnCodeName(Value)));
  ACS_RETURN_CODES(ACS_RC_EXPECTED)
#undef ACS_RC_EXPECTED
  EXPECT_EQ(listed, expected);
}

}  // namespace
