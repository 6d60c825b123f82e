// The commands of the filedist host program. Each takes the arguments after
// its own name (argv[-1] is that name, as getopt_long wants it; see
// CommandLine) and returns the process exit status.
#ifndef FILEDIST_CLI_CLI_COMMANDS_H
#define FILEDIST_CLI_CLI_COMMANDS_H

struct CliCommand {
  const char* name;
  int (*run)(int argc, char** argv);
};

int RunBuildCommand(int argc, char** argv);
int RunGzipCommand(int argc, char** argv);
int RunGunzipCommand(int argc, char** argv);
int RunKeyCommand(int argc, char** argv);
int RunKeygenCommand(int argc, char** argv);
int RunListCommand(int argc, char** argv);
int RunUpdateCommand(int argc, char** argv);
int RunVerifyCommand(int argc, char** argv);
int RunStatusCommand(int argc, char** argv);
int RunPromoteCommand(int argc, char** argv);
int RunPruneReleasesCommand(int argc, char** argv);
int RunFirewallCommand(int argc, char** argv);

#endif  // FILEDIST_CLI_CLI_COMMANDS_H
