// --json on `filedist build`, `update`, `list` and `verify`, as a script
// reads it: the real program run from scratch directories, its standard
// output alone handed to python3's json module, and every value checked
// against what python finds on the disk itself (file sizes, MD5 digests,
// the release's own gzip list), not against the program's other output.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e/two_versions.h"
#include "platform/platform.h"
#include "support/json_oracle.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CheckJson;
using testing_support::CopyProgramInto;
using testing_support::MakeDirs;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;
using Strings = std::vector<std::string>;
using two_versions::Tree;

using two_versions::kVersion1;
using two_versions::kVersion2;

// Python helpers every check may use: a release path as a path below a
// folder, a version list's records (plain, or gzip as in a patch
// directory), the MD5 of a file.
const char kHelpers[] = R"(
def below(root, listed):
    assert listed.startswith('.\\'), listed
    return os.path.join(root, *listed[2:].split('\\'))
def records(path):
    raw = open(path, 'rb').read()
    if raw[:2] == b'\x1f\x8b':
        raw = gzip.decompress(raw)
    rows = [line.split(',') for line in raw.decode('utf-8').split('\r\n') if line]
    return [(p, k, int(s)) for p, k, s in rows]
def md5(path):
    return hashlib.md5(open(path, 'rb').read()).hexdigest()
def last_name(path):
    return path.replace('\\', '/').rstrip('/').split('/')[-1]
)";

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

class JsonOutput : public ::testing::Test {
 protected:
  JsonOutput() {
    MakeDirs(Sub("packer"));
    packer_ = CopyProgramInto("filedist", Sub("packer"));
    WriteFileBytes(Sub("packer/Filters.ini"), "[Ext]\r\n.pdb;.bak\r\n");
  }

  void SetUp() override {
    if (!testing_support::CanRunPython()) GTEST_SKIP() << "python3 cannot be started here";
  }

  std::string Sub(const std::string& relative) const { return scratch_.Sub(relative); }

  static void WriteTree(const std::string& root, const Tree& tree) {
    for (const auto& [relative, bytes] : tree) {
      fs::path path = fs::path(root) / fs::path(relative);
      fs::create_directories(path.parent_path());
      WriteFileBytes(path.string(), bytes);
    }
  }

  Ran RunProgram(const std::string& program, const Strings& args) {
    Strings argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    Ran ran;
    ran.status = testing_support::RunApart(argv, &ran.out, &ran.err);
    return ran;
  }

  Ran Filedist(const Strings& args) { return RunProgram(packer_, args); }

  // A client directory holding nothing but its own filedist.
  std::string NewClient(const std::string& name) {
    MakeDirs(Sub(name));
    client_program_ = CopyProgramInto("filedist", Sub(name));
    return Sub(name);
  }

  // Builds tree into the releases folder rel (human output) and gives the
  // patch directory.
  std::string Release(const Tree& tree, const std::string& name) {
    WriteTree(Sub(name), tree);
    std::string output;
    EXPECT_EQ(
        testing_support::Run({packer_, "build", Sub(name), "--releases", Sub("rel")}, &output), 0)
        << output;
    Strings lines = testing_support::SplitLines(output);
    return lines.empty() ? std::string() : lines.back();
  }

  // checks run on the run's standard output. A run that went well says
  // nothing on standard error; one that failed says why there (a check that
  // only found files that differ has no error to say).
  void ExpectJson(const std::string& name, const Ran& ran, int status, const std::string& checks,
                  const Strings& args, bool error_on_stderr = true) {
    EXPECT_EQ(ran.status, status) << name << "\n" << ran.out << ran.err;
    if (status == 0 || !error_on_stderr) {
      EXPECT_EQ(ran.err, "") << name;
    } else {
      EXPECT_NE(ran.err.find("filedist: "), std::string::npos) << name;
    }
    EXPECT_EQ(CheckJson(ran.out, std::string(kHelpers) + checks, args), "") << name;
  }

  ScratchDir scratch_;
  std::string packer_;
  std::string client_program_;
};

TEST_F(JsonOutput, BuildGivesItsSummary) {
  Tree source = kVersion1;
  source["bin/app.pdb"] = "symbols, left out";
  source["docs/old.bak"] = "a backup, left out";
  WriteTree(Sub("src"), source);
  WriteFileBytes(Sub("signer.pub"), "not a private key\n");
  // The released files' sizes and the patch directory's compressed files,
  // as python finds them; LATEST names the document's patch directory.
  const std::string built = R"(
src, rel = sys.argv[2], sys.argv[3]
assert d['format'] == 1 and d['command'] == 'build' and d['status'] == 'ok', d
assert 'error' not in d and d['problems'] == []
sizes = [os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(src) for f in fs
         if not f.endswith(('.pdb', '.bak'))]
assert d['released'] == len(sizes) == 4, d['released']
assert d['excluded'] == 2, d['excluded']
assert d['bytes'] == sum(sizes), (d['bytes'], sum(sizes))
latest = open(os.path.join(rel, 'LATEST')).read().strip()
assert last_name(d['patch_dir']) == latest, (d['patch_dir'], latest)
patch = os.path.join(rel, latest)
listed = records(os.path.join(patch, 'VerComp.dat'))
assert d['compressed_bytes'] == sum(s for _, _, s in listed), d['compressed_bytes']
assert d['compressed_bytes'] == sum(os.path.getsize(below(patch, p)) for p, _, _ in listed)
assert d['latest'] is True and d['signed'] is False
assert isinstance(d['seconds'], float) and d['seconds'] >= 0
)";
  struct Case {
    const char* name;
    Strings args;
    int status;
    std::string checks;
  };
  const Case cases[] = {
      {"first build", {}, 0, built + "assert d['unchanged'] == 0\n"},
      {"rebuild of the same tree", {}, 0, built + "assert d['unchanged'] == 4\n"},
      {"missing source", {"--releases", Sub("rel")}, 1, R"(
assert d['status'] == 'failed' and 'does not exist' in d['error'], d
assert d['patch_dir'] is None and d['latest'] is False and d['released'] == 0
)"},
      {"unusable signing key", {"--sign", Sub("signer.pub")}, 1, R"(
assert d['status'] == 'failed' and 'not a readable private key' in d['error'], d
assert d['patch_dir'] is None and d['signed'] is False
)"},
  };
  for (const Case& c : cases) {
    std::string source_dir = std::string(c.name) == "missing source" ? Sub("nowhere") : Sub("src");
    Strings args = {"build", source_dir, "--releases", Sub("rel"), "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ExpectJson(c.name, Filedist(args), c.status, c.checks, {Sub("src"), Sub("rel")});
  }
}

TEST_F(JsonOutput, ListGivesEveryRecord) {
  std::string patch = Release(kVersion1, "v1");
  WriteFileBytes(Sub("binary.dat"), std::string("\x01\x02 no list\x00\xff", 13));
  // Records as python reads the file itself, and keys that are the MD5 of
  // the source files.
  const std::string listed = R"(
list_path, src = sys.argv[2], sys.argv[3]
assert d['format'] == 1 and d['command'] == 'list' and d['status'] == 'ok', d
expected = records(list_path)
got = [(f['path'], f['key'], f['size']) for f in d['files']]
assert got == expected, (got, expected)
assert d['count'] == len(expected) == 4 and d['bytes'] == sum(s for _, _, s in expected)
for f in d['files']:
    assert set(f) == {'path', 'key', 'size'}, f
    assert f['key'] == md5(below(src, f['path'])), f
assert '.\\data\\a.txt' in [f['path'] for f in d['files']]
)";
  const std::string failed = R"(
assert d['status'] == 'failed' and 'files' not in d, d
assert d['list'] == sys.argv[2] or last_name(d['list']) == last_name(sys.argv[2]), d
)";
  struct Case {
    const char* name;
    std::string list;
    int status;
    std::string checks;
  };
  const Case cases[] = {
      {"the packer's plain list", Sub("packer/VerComp.dat"), 0, listed},
      {"a patch directory's gzip list", patch + testing_support::Sep() + "VerComp.dat", 0, listed},
      {"not a version list", Sub("binary.dat"), 1,
       failed + "assert 'not a version list: line 1' in d['error'], d['error']\n"},
      {"missing", Sub("no such list"), 1,
       failed + "assert 'cannot be read' in d['error'], d['error']\n"},
  };
  for (const Case& c : cases) {
    ExpectJson(c.name, Filedist({"list", "--json", c.list}), c.status, c.checks,
               {c.list, Sub("v1")});
  }
}

TEST_F(JsonOutput, UpdateGivesItsPlanAndWhatItDid) {
  std::string patch1 = Release(kVersion1, "v1");
  std::string client = NewClient("client");
  // The plan against the release's own list: every fetched file with the
  // key and size it lists there.
  const std::string plan = R"(
patch, client = sys.argv[2], sys.argv[3]
assert d['format'] == 1 and d['command'] == 'update', d
release = {p: (k, s) for p, k, s in records(os.path.join(patch, 'VerComp.dat'))}
fetch = d['plan']['fetch']
for f in fetch:
    assert (f['key'], f['size']) == release[f['path']], f
assert d['plan']['fetch_bytes'] == sum(f['size'] for f in fetch)
assert last_name(d['source']) == last_name(patch), d['source']
sequence = open(os.path.join(patch, 'Manifest')).read().split('\n')[1]
assert d['verified'] is False and sequence == 'sequence %d' % d['release'], (d, sequence)
changes = {f['path']: f['change'] for f in fetch}
obsolete = sorted(f['path'] for f in d['plan']['obsolete'])
)";
  // After a run: every placed file has the key the plan gave it.
  const std::string placed = R"(
assert d['status'] == 'ok' and d['dry_run'] is False and d['result']['failed'] == [], d
for f in fetch:
    assert md5(below(client, f['path'])) == f['key'], f
assert sorted(d['result']['placed']) == sorted(changes), d['result']
assert d['result']['received_bytes'] == 0
)";
  struct Case {
    const char* name;
    const char* release;  // "v1", "v2" (made after the v1 cases) or "none"
    Strings args;
    int status;
    std::string checks;
  };
  std::string patch2;
  const Case cases[] = {
      {"dry run of the first install", "v1", {"--dry-run"}, 0, plan + R"(
assert d['dry_run'] is True and d['result'] is None and d['status'] == 'ok', d
assert changes == {'.\\bin\\app.exe': 'new', '.\\data\\a.txt': 'new', '.\\old.txt': 'new',
                   '.\\readme.txt': 'new'}, changes
assert obsolete == []
assert all(n.startswith(('filedist', '.filedist-')) for n in os.listdir(client)), os.listdir(client)
)"},
      {"first install", "v1", {}, 0, plan + placed + R"(
assert len(changes) == 4 and d['result']['kept'] == [] and d['result']['removed'] == []
)"},
      {"dry run of the second release, pruning", "v2", {"--dry-run", "--prune"}, 0, plan + R"(
assert d['prune'] is True and d['result'] is None, d
assert changes == {'.\\data\\a.txt': 'changed', '.\\new folder\\sub\\n.bin': 'new'}, changes
assert obsolete == ['.\\old.txt'], obsolete
assert os.path.exists(os.path.join(client, 'old.txt'))
)"},
      {"second release without --prune", "v2", {}, 0, plan + placed + R"(
assert d['result']['kept'] == ['.\\old.txt'] and d['result']['removed'] == [], d['result']
)"},
      {"second release with --prune", "v2", {"--prune"}, 0, plan + R"(
assert d['status'] == 'ok' and changes == {} and d['result']['placed'] == [], d
assert d['result']['removed'] == ['.\\old.txt'] and d['result']['kept'] == [], d['result']
assert not os.path.exists(os.path.join(client, 'old.txt'))
)"},
      {"a release folder that is not there", "none", {}, 1, R"(
assert d['status'] == 'failed' and 'does not exist' in d['error'], d
assert d['plan'] is None and d['result'] is None
)"},
  };
  for (const Case& c : cases) {
    const std::string release = c.release;
    if (release == "v2" && patch2.empty()) {
      patch2 = Release(kVersion2, "v2");
      // A changed file goes missing from the second release: that run
      // fails, names it, and places nothing.
      std::string gone =
          patch2 + testing_support::Sep() + "data" + testing_support::Sep() + "a.txt";
      std::string kept = Sub("a.kept");
      fs::rename(gone, kept);
      Ran ran = RunProgram(client_program_, {"update", patch2, "--json"});
      ExpectJson("a file missing from the release", ran, 1, plan + R"(
assert d['status'] == 'failed' and d['result']['failed'] == ['.\\data\\a.txt'], d
assert d['result']['placed'] == [] and 'files failed' in d['error'], d
assert d['problems'][-1] == d['error'] and len(d['problems']) == 2, d['problems']
)",
                 {patch2, client});
      fs::rename(kept, gone);
    }
    std::string source = release == "v1"   ? patch1
                         : release == "v2" ? patch2
                                           : Sub("no such release");
    Strings args = {"update", source, "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ExpectJson(c.name, RunProgram(client_program_, args), c.status, c.checks, {source, client});
  }
}

TEST_F(JsonOutput, VerifyNamesWhatDiffers) {
  std::string patch = Release(kVersion1, "v1");
  std::string client = NewClient("client");
  Ran installed = RunProgram(client_program_, {"update", patch});
  ASSERT_EQ(installed.status, 0) << installed.out << installed.err;
  MakeDirs(Sub("empty"));
  struct Case {
    const char* name;
    std::string dir;
    int status;
    std::string checks;
  };
  const Case cases[] = {
      {"all in place", client, 0, R"(
assert d['format'] == 1 and d['command'] == 'verify' and d['status'] == 'ok', d
assert d['checked'] == 4 and d['missing'] == [] and d['changed'] == [], d
assert d['interrupted'] is False and 'error' not in d
)"},
      {"one missing, one changed", client, 1, R"(
assert d['status'] == 'failed' and d['checked'] == 4, d
assert d['missing'] == ['.\\old.txt'] and d['changed'] == ['.\\data\\a.txt'], d
assert '1 missing, 1 changed' in d['error'], d['error']
)"},
      {"no version list", Sub("empty"), 1, R"(
assert d['status'] == 'failed' and d['checked'] == 0 and 'has no version list' in d['error'], d
)"},
  };
  for (const Case& c : cases) {
    if (std::string(c.name) == "one missing, one changed") {
      fs::remove(Sub("client/old.txt"));
      WriteFileBytes(Sub("client/data/a.txt"), "changed by hand");
    }
    ExpectJson(c.name, RunProgram(client_program_, {"verify", "--dir", c.dir, "--json"}), c.status,
               c.checks, {}, c.dir != client);
  }
}

}  // namespace
