// Without the Windows Firewall both exports answer 0 whatever they are
// given, and the filedist firewall commands say why instead of failing
// silently.
#include <gtest/gtest.h>

#include <string>

#include "common.h"
#include "filedist_firewall.h"
#include "support/test_support.h"

namespace {

TEST(FirewallAbsent, ExportsReturnZero) {
  EXPECT_FALSE(filedist::HasWindowsFirewall());
  struct PortCall {
    int port;
    int tcp;
    const char* name;
  };
  for (const PortCall& c : {PortCall{80, 1, "web"}, PortCall{53, 0, "dns"}, PortCall{80, 1, ""},
                            PortCall{80, 1, nullptr}}) {
    EXPECT_EQ(AddPort2FW(c.port, c.tcp, c.name), 0) << c.port << " " << c.tcp;
  }
  struct ProgramCall {
    const char* path;
    const char* name;
  };
  for (const ProgramCall& c :
       {ProgramCall{"/bin/sh", "shell"}, ProgramCall{"", "x"}, ProgramCall{nullptr, nullptr}}) {
    EXPECT_EQ(AddProc2FW(c.path, c.name), 0);
  }
}

TEST(FirewallAbsent, CommandsSayTheFirewallIsWindowsOnly) {
  const std::string filedist = testing_support::TestProgramDir() + "/filedist";
  const std::vector<std::vector<std::string>> commands = {
      {filedist, "firewall", "port", "80", "tcp", "web"},
      {filedist, "firewall", "program", "/bin/sh", "shell"}};
  for (const auto& argv : commands) {
    std::string output;
    EXPECT_EQ(testing_support::Run(argv, &output), 1) << argv[2];
    EXPECT_NE(output.find("Windows-only"), std::string::npos) << output;
  }
}

}  // namespace
