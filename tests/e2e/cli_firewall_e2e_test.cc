// filedist firewall refuses malformed arguments before anything reaches the
// firewall, on every system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

TEST(CliFirewall, MalformedArgumentsAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"door"},
      {"port", "80", "tcp"},
      {"port", "80", "tcp", "web", "extra"},
      {"port", "0", "tcp", "web"},
      {"port", "65536", "tcp", "web"},
      {"port", "123456", "tcp", "web"},
      {"port", "-1", "tcp", "web"},
      {"port", "+80", "tcp", "web"},
      {"port", "8o", "tcp", "web"},
      {"port", "", "tcp", "web"},
      {"port", "80", "sctp", "web"},
      {"port", "80", "tcp", ""},
      {"program", "app.exe"},
      {"program", "", "App"},
      {"program", "app.exe", ""},
  };
  testing_support::ScratchDir scratch;
  const std::string filedist = testing_support::CopyProgramInto("filedist", scratch.path());
  for (const auto& args : cases) {
    std::vector<std::string> argv = {filedist, "firewall"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output;
    std::string shown;
    for (const std::string& arg : args) shown += "[" + arg + "]";
    EXPECT_EQ(testing_support::Run(argv, &output), 2) << shown;
    EXPECT_NE(output.find("usage: filedist firewall"), std::string::npos) << shown << output;
  }
}

}  // namespace
