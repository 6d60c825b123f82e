// The names of the entries in the staging folder (.filedist-staging), all in
// one place: what a stopped run leaves there is read back by the next run,
// so the writer and the reader must agree on every name.
//
//   KEY                    a checked file: it decoded to the key KEY (a
//                          small file is held in memory and written here
//                          at once when its key is right; a copy torn by
//                          a stop fails the check every later run makes)
//   KEY.part               the file being decoded, before it is checked
//   KEY.download           compressed bytes kept after a resume point
//   KEY.resume             the resume record (update/resume_record.h)
//   KEY.earlier            a KEY.part being taken up again by a new transfer
//   patch.KEY.part         a binary patch that makes KEY, as it arrives; one
//                          cut off is kept, and its length is where the
//                          next run goes on from (patch.KEY.earlier while
//                          it is taken up)
//   KEY.patched            the installed file with that patch applied,
//                          before it is checked against KEY
//   release-list           the release's version list, while it is read
//   release-ver            its key file (Ver), while it is compared
//   release-manifest       the release's Manifest, while it is checked
//   release-manifest-sig   its signature, while it is checked
//   release-patches        the release's patch index, while it is read
//   release-patches-sig    its signature, while it is checked
//   list.new, journal.new, state.new, aside.new
//                          the next client list, journal, release number and
//                          aside list, each renamed over the real one
//   copy.new               a second copy of a checked file that several
//                          paths share
//   probe                  made and removed to find that files can be made
//
// KEY is a file key: 32 lowercase hexadecimal digits.
#ifndef FILEDIST_UPDATE_STAGING_NAMES_H
#define FILEDIST_UPDATE_STAGING_NAMES_H

#include <string>

namespace update {
namespace staging_names {

constexpr const char kReleaseList[] = "release-list";
constexpr const char kReleaseKey[] = "release-ver";
constexpr const char kManifest[] = "release-manifest";
constexpr const char kSignature[] = "release-manifest-sig";
constexpr const char kPatchIndex[] = "release-patches";
constexpr const char kPatchIndexSignature[] = "release-patches-sig";
constexpr const char kNewList[] = "list.new";
constexpr const char kNewJournal[] = "journal.new";
constexpr const char kNewState[] = "state.new";
constexpr const char kNewAsideList[] = "aside.new";
constexpr const char kCopy[] = "copy.new";
constexpr const char kProbe[] = "probe";

// The entries of one transfer of the file with the key (or name) base.
inline std::string PartName(const std::string& base) { return base + ".part"; }
inline std::string DownloadName(const std::string& base) { return base + ".download"; }
inline std::string ResumeName(const std::string& base) { return base + ".resume"; }
inline std::string EarlierName(const std::string& base) { return base + ".earlier"; }

// The transfer base of the binary patch that makes the file with the key,
// and the name of what applying it writes.
inline std::string PatchName(const std::string& key) { return "patch." + key; }
inline std::string PatchedName(const std::string& key) { return key + ".patched"; }

}  // namespace staging_names
}  // namespace update

#endif  // FILEDIST_UPDATE_STAGING_NAMES_H
