// Runs acs-doctor as a child process against installations laid out in
// the test's private /tmp, each one right or wrong in a single way.
#ifndef ZORVAN_TEST_DOCTOR_FIXTURE_H
#define ZORVAN_TEST_DOCTOR_FIXTURE_H

#include <sys/types.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "installation.h"

#define EXPECT_CONTAINS(haystack, needle) \
  EXPECT_NE((haystack).find(needle), std::string::npos) << "missing: " << (needle) << "\n" << (haystack)

namespace doctortest {

// acs-doctor's exit statuses: checking a host, and with --trace.
constexpr int kBinds = 0;
constexpr int kDoesNotBind = 1;
constexpr int kUsage = 2;
constexpr int kNoFailure = 0;
constexpr int kFailed = 1;
constexpr int kUnreadable = 2;

struct DoctorResult {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out;
  std::string err;
  long maxResidentKiB = 0;  // the most memory it held at once
  // The first screen: the first 24 lines of stdout.
  std::string firstScreen() const;
  // The first problem's first fix ("" when none).
  std::string firstFix() const;
  // Every problem's fixes, in order, without "fix: ", from the screen or
  // from a --json run's report.
  std::vector<std::string> fixes() const;
  // The ids of a --json run's problems, in order.
  std::vector<std::string> ids() const;
  // What a --json run printed; an empty object, and a failure, when it
  // printed no JSON.
  nlohmann::json report() const;
};

// "As root" or "As <user>": the person a fix for the installation's files
// names, who is whoever runs the suite, since its files are theirs.
std::string asOwner();

// The ids of a report's problems, in order.
std::vector<std::string> problemIds(const nlohmann::json &report);

// Runs one of the build's programs with args in the current environment,
// optionally as another user (uid/gid switched in the child before exec)
// and in another working directory.
DoctorResult runProgram(const char *program, const std::vector<std::string> &args, uid_t uid = 0,
                        gid_t gid = 0, const std::string &cwd = "");
// The same for acs-doctor.
DoctorResult runDoctor(const std::vector<std::string> &args, uid_t uid = 0, gid_t gid = 0);
// acs-doctor checking as an unprivileged user, as DB2 runs: root's doctor
// loads no back end as root, so as root it runs as nobody; an ordinary
// user's run runs it as that user.
DoctorResult runDoctorUnprivileged(const std::vector<std::string> &args);

// The suite's one installation layout.
using testsupport::HealthyInstallation;
using testsupport::Installation;
#ifdef GOOD_BACKEND
// ... with the reference back end.
struct Healthy : HealthyInstallation {
  Healthy() : HealthyInstallation(GOOD_BACKEND) {}
};
#endif

// A process started as another user with an environment of its own, the
// way a DB2 agent runs; killed when the object goes.
class ProcessAs {
 public:
  ProcessAs(uid_t uid, gid_t gid, const std::vector<std::string> &environment,
            const std::string &cwd);
  ~ProcessAs();
  ProcessAs(const ProcessAs &) = delete;
  ProcessAs &operator=(const ProcessAs &) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A login account made for one test (useradd), with a home directory, the
// given login shell and ~/<file> (~/.profile by default); removed again
// (userdel) when the object goes.
class TemporaryUser {
 public:
  explicit TemporaryUser(const std::string &profile, const std::string &shell = "/bin/sh",
                         const std::string &file = ".profile");
  std::string home() const;
  ~TemporaryUser();
  TemporaryUser(const TemporaryUser &) = delete;
  TemporaryUser &operator=(const TemporaryUser &) = delete;
  bool created() const { return uid_ != 0; }
  const std::string &name() const { return name_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }

 private:
  std::string name_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

}  // namespace doctortest

#endif
