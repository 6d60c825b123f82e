// Names a version list cannot carry stop a release before anything is
// compressed, each named in an error line.
#include "e2e/build_release_fixture.h"

namespace {

using namespace build_e2e;

class BuildNames : public BuildVerHost {
 protected:
  struct Refused {
    std::string relative;  // below the source tree, '/' separated
    std::string words;     // what the error line says
  };

  std::vector<Refused> Cases() const {
    std::vector<Refused> cases = {
        {"a,b.txt", "comma"},
        {"sub,dir/c.txt", "comma"},
        {"VerComp.dat", "leave it out with Filters.ini"},
        {"ver", "leave it out with Filters.ini"},
        // A copy an update moved aside: every client would refuse the release.
        {"bin/.~OLD-0123abcd-app.exe", "moved aside"},
    };
    if (Sep() == '/') {
      // Names Windows does not allow, and a path past the library's 1023
      // characters.
      cases.push_back({"line\nbreak.txt", "line break"});
      cases.push_back({"cr\rname.txt", "line break"});
      std::string deep;
      while (source_.size() + deep.size() < 1100) deep += std::string(200, 'd') + "/";
      cases.push_back({deep + "f.txt", "too long"});
      // Windows devices, with or without an extension, in any component:
      // no Windows client could ever install them.
      for (const char* device : {"aux.txt", "logs/com1.log", "CON", "nul", "in/conin$/x.txt",
                                 "LPT0.tar.gz", "prn .txt"}) {
        cases.push_back({device, "Windows device"});
      }
    }
    return cases;
  }

  void MakeCases() {
    for (const Refused& c : Cases()) {
      std::string path = Source(c.relative);
      MakeDirs(path.substr(0, path.find_last_of(Sep())));
      WriteFileBytes(path, "refused");
    }
    // Deeper down, the list's names are ordinary files.
    WriteFileBytes(Source("docs/VerComp.dat"), "fine");
    WriteFileBytes(Source("docs/Ver"), "fine");
  }

  // The log read whole: a name with a line break spans two lines of it.
  void ExpectRefused(const std::string& log) {
    size_t errors = 0;
    for (size_t at = log.find("[ERROR] : "); at != std::string::npos;
         at = log.find("[ERROR] : ", at + 1)) {
      ++errors;
    }
    EXPECT_EQ(errors, Cases().size()) << log;
    for (const Refused& c : Cases()) {
      std::string named = Source(c.relative);
      // The log stores a line feed as carriage return and line feed; a
      // path too long to handle is named as far as it could be followed.
      size_t lf = 0;
      while ((lf = named.find('\n', lf)) != std::string::npos) {
        named.insert(lf, "\r");
        lf += 2;
      }
      if (c.words == "too long") named = named.substr(0, 1000);
      size_t at = log.find("[" + named);
      ASSERT_NE(at, std::string::npos) << c.relative << "\n" << log;
      size_t end = log.find("[ERROR]", at);
      EXPECT_NE(log.substr(at, end - at).find(c.words), std::string::npos) << c.relative;
    }
    // Nothing was compressed, and the last list stays.
    EXPECT_FALSE(FileExists(Packer("__CompressTemp__")));
    EXPECT_EQ(ReadFileBytes(Packer("VerComp.dat")), "earlier list");
    EXPECT_EQ(testing_support::NamesIn(Packer("releases")), Strings{"Release.lock"});
  }
};

TEST_F(BuildNames, FiledistBuildRefusesThemAndNamesEach) {
  MakeCases();
  WriteFileBytes(Packer("VerComp.dat"), "earlier list");
  std::string output;
  EXPECT_EQ(Build({}, &output), 1) << output;
  ExpectRefused(ReadFileBytes(Packer("BuildVer.log")));
  EXPECT_NE(output.find("error: Path [" + Source("a,b.txt") + "]"), std::string::npos) << output;

  // Left out with Filters.ini, as the error lines say, they stop nothing.
  for (const Refused& c : Cases()) {
    if (c.relative != "a,b.txt" && c.relative != "VerComp.dat") {
      fs::remove_all(Source(c.relative.substr(0, c.relative.find('/'))));
    }
  }
  WriteFileBytes(Packer("Filters.ini"), "[File]\r\nvercomp.dat;a,b\r\n");
  std::string patch = BuildOk({});
  std::string list = ReadFileBytes(Packer("VerComp.dat"));
  EXPECT_NE(list.find(".\\a.txt,"), std::string::npos) << list;
  EXPECT_NE(list.find(".\\docs\\Ver,"), std::string::npos) << list;
  EXPECT_EQ(list.find("a,b"), std::string::npos) << list;
  EXPECT_EQ(GunzipFile(patch + Sep() + "VerComp.dat"), list);
}

// Names Windows takes for one file, or changes, can be built on Linux: the
// build goes on (other clients take the release) but says that Windows
// clients will refuse it.
TEST_F(BuildNames, NamesThatAreOneFileOnWindowsAreWarnedAbout) {
  if (Sep() != '/') GTEST_SKIP() << "Windows cannot hold these names side by side";
  struct Case {
    std::vector<std::string> files;
    std::string words;
  };
  const std::vector<Case> cases = {
      {{"a.txt", "A.txt"}, "one file on Windows"},
      {{"Docs/x.txt", "docs/X.TXT"}, "one file on Windows"},
      {{"b.txt."}, "ends in a dot or a space"},
      {{"c.txt "}, "ends in a dot or a space"},
      {{"what?.txt"}, "'?'"},
      {{"_FIL~CRR"}, "short (8.3) name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.files.front());
    fs::remove_all(source_);
    for (const std::string& file : c.files) {
      std::string path = Source(file);
      MakeDirs(path.substr(0, path.find_last_of(Sep())));
      WriteFileBytes(path, file);
    }
    std::string output;
    EXPECT_EQ(Build({}, &output), 0) << output;
    size_t at = output.find("warning: ");
    ASSERT_NE(at, std::string::npos) << output;
    std::string line = output.substr(at, output.find('\n', at) - at);
    EXPECT_NE(line.find(c.words), std::string::npos) << line;
    EXPECT_NE(line.find("[" + Source(c.files.back()) + "]"), std::string::npos) << line;
  }
}

TEST_F(BuildNames, BuildVerRefusesThemToo) {
  MakeCases();
  WriteFileBytes(Packer("VerComp.dat"), "earlier list");
  EXPECT_EQ(BuildVerInPacker(1, source_, "out", "releases"), "BUILD=0 ");
  ExpectRefused(ReadFileBytes(Packer("BuildVer.log")));
}

}  // namespace
