// The packer directory of `filedist build`: where Filters.ini is read and the
// plain VerComp.dat, Ver, BuildVer.log and BuildVer.lock go. By default the
// folder the program lies in, as it always was; `--packer DIR` names another,
// so that an installed program (/usr/bin/filedist) can build too.
#ifndef FILEDIST_CLI_PACKER_DIR_H
#define FILEDIST_CLI_PACKER_DIR_H

#include <string>

// named is the --packer value, or null for the program's folder. A named
// folder is made if missing. Either must take a new file, tried before
// anything is built, so that a build never runs for hours to fail at its
// last step. False, with *error a sentence for the user (naming --packer
// where the program's folder is what failed).
bool ChoosePackerDir(const char* named, std::string* dir, std::string* error);

#endif  // FILEDIST_CLI_PACKER_DIR_H
