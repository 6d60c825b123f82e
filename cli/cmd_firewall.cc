// filedist firewall port PORT tcp|udp NAME
// filedist firewall program PATH NAME
// Opens a port or authorises a program in the Windows Firewall through the
// library's AddPort2FW and AddProc2FW.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "common.h"
#include "filedist_firewall.h"

namespace {

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "filedist firewall: %s\n", problem);
  std::fputs(FormatUsage(*FindCommandHelp("firewall")).c_str(), stderr);
  std::fputs("'filedist firewall --help' describes the command.\n", stderr);
  return 2;
}

int Report(bool done, const std::string& what) {
  if (done) {
    std::printf("%s: in place\n", what.c_str());
    return 0;
  }
  std::fprintf(stderr,
               "filedist: the Windows Firewall refused %s (administrator rights may be needed)\n",
               what.c_str());
  return 1;
}

int NoFirewall() {
  std::fprintf(stderr,
               "filedist: the firewall commands are Windows-only; there is no Windows "
               "Firewall on this system\n");
  return 1;
}

int RunPort(int argc, char** argv) {
  if (argc != 3) return Usage("port takes PORT, tcp or udp, and NAME");
  int port = 0;
  if (!ParseCount(argv[0], 1, 65535, &port)) return Usage("PORT must be a number from 1 to 65535");
  const bool tcp = std::strcmp(argv[1], "tcp") == 0;
  if (!tcp && std::strcmp(argv[1], "udp") != 0) return Usage("the protocol is tcp or udp");
  if (argv[2][0] == '\0') return Usage("NAME must not be empty");
  if (!filedist::HasWindowsFirewall()) return NoFirewall();
  const std::string what = "port " + std::to_string(port) + "/" + argv[1] + " \"" + argv[2] + "\"";
  return Report(AddPort2FW(port, tcp ? 1 : 0, argv[2]) == 1, what);
}

int RunProgram(int argc, char** argv) {
  if (argc != 2) return Usage("program takes PATH and NAME");
  if (argv[0][0] == '\0') return Usage("PATH must not be empty");
  if (argv[1][0] == '\0') return Usage("NAME must not be empty");
  if (!filedist::HasWindowsFirewall()) return NoFirewall();
  const std::string what = std::string("program ") + argv[0] + " \"" + argv[1] + "\"";
  return Report(AddProc2FW(argv[0], argv[1]) == 1, what);
}

}  // namespace

int RunFirewallCommand(int argc, char** argv) {
  CommandLine line("firewall");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  std::vector<char*> operands;
  for (const std::string& operand : line.operands())
    operands.push_back(const_cast<char*>(operand.c_str()));
  if (operands.empty()) return Usage(nullptr);
  const int count = static_cast<int>(operands.size()) - 1;
  if (std::strcmp(operands[0], "port") == 0) return RunPort(count, operands.data() + 1);
  if (std::strcmp(operands[0], "program") == 0) return RunProgram(count, operands.data() + 1);
  return Usage("the first argument is port or program");
}
