// The registry directory: fixed from QXREG once per process.
#include <gtest/gtest.h>

#include "test_support.h"
#include "zorvan/discovery.h"

namespace {

using testsupport::setEnv;
using testsupport::unsetEnv;

TEST(RegistryDirectory, DefaultsWhenQxregIsUnsetOrEmpty) {
  EXPECT_EQ(qxReg, nullptr);
  unsetEnv("QXREG");
  fixRegistryDir();
  ASSERT_NE(qxReg, nullptr);
  EXPECT_STREQ(qxReg, "/etc/OstravaneRegistry");

  qxReg = nullptr;
  setEnv("QXREG", "");
  fixRegistryDir();
  ASSERT_NE(qxReg, nullptr);
  EXPECT_STREQ(qxReg, "/etc/OstravaneRegistry");
}

TEST(RegistryDirectory, TakesQxregOnceAndKeepsItsTrailingSlash) {
  EXPECT_EQ(qxReg, nullptr);
  setEnv("QXREG", "/srv/registry/");
  fixRegistryDir();
  ASSERT_NE(qxReg, nullptr);
  EXPECT_STREQ(qxReg, "/srv/registry/");

  setEnv("QXREG", "/elsewhere");
  fixRegistryDir();
  EXPECT_STREQ(qxReg, "/srv/registry/");
  unsetEnv("QXREG");
  fixRegistryDir();
  EXPECT_STREQ(qxReg, "/srv/registry/");
}

TEST(RegistryDirectory, LeavesAFixedPathAloneButRefixesAnEmptyOne) {
  setEnv("QXREG", "/from/environment");
  qxReg = "/set/by/host";
  fixRegistryDir();
  EXPECT_STREQ(qxReg, "/set/by/host");

  qxReg = "";
  fixRegistryDir();
  EXPECT_STREQ(qxReg, "/from/environment");
}

}  // namespace
