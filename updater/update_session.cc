// The C interface of filedist_update.h over the update engine's steps
// (update/update_engine.h): a session holds the install directory's lock,
// its options, and the engine's steps between check, download and apply.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filedist_update.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "protocol/channel_pointer.h"
#include "protocol/patch_dir_name.h"
#include "update/install_paths.h"
#include "update/install_status.h"
#include "update/release_state.h"
#include "update/update_engine.h"
#include "update/update_reporter.h"
#include "updater/channel_follow.h"
#include "updater/release_source.h"
#include "updater/remembered_source.h"
#include "updater/session_hooks.h"
#include "updater/source_fetcher.h"
#include "util/whole_number.h"

using util::ParseCount;

namespace {

// Keeps the last problem for filedist_update_error and passes everything on
// to the reporter the program attached, if any.
class SessionReporter : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override {
    if (attached_ != nullptr) attached_->Note(line);
  }
  void Problem(const std::string& line) override {
    last_problem_ = line;
    if (attached_ != nullptr) attached_->Problem(line);
  }
  void BeginFetch(uint64_t bytes, int files) override {
    if (attached_ != nullptr) attached_->BeginFetch(bytes, files);
  }
  void StartFile(const std::string& path) override {
    if (attached_ != nullptr) attached_->StartFile(path);
  }
  void GrowFetch(uint64_t bytes) override {
    if (attached_ != nullptr) attached_->GrowFetch(bytes);
  }
  void FileBytes(uint64_t received) override {
    if (attached_ != nullptr) attached_->FileBytes(received);
  }
  void FinishFile(const std::string& path, uint64_t size, bool ok) override {
    if (attached_ != nullptr) attached_->FinishFile(path, size, ok);
  }
  void EndFetch() override {
    if (attached_ != nullptr) attached_->EndFetch();
  }
  void ShowPlan(const update::UpdatePlan& plan, bool prune,
                const update::PlanSizes& sizes) override {
    if (attached_ != nullptr) attached_->ShowPlan(plan, prune, sizes);
  }
  void ShowFetched(size_t files, uint64_t listed_bytes, uint64_t received,
                   const std::string& location, const update::PlanSizes& sizes) override {
    if (attached_ != nullptr) {
      attached_->ShowFetched(files, listed_bytes, received, location, sizes);
    }
  }

  void Attach(update::UpdateReporter* reporter) { attached_ = reporter; }
  const std::string& last_problem() const { return last_problem_; }
  void ClearProblem() { last_problem_.clear(); }

 private:
  update::UpdateReporter* attached_ = nullptr;
  std::string last_problem_;
};

// Where a session is between its steps.
enum class Step { kOpened, kChecked, kDownloaded };

// The reason the calling thread's last filedist_update_open failed.
thread_local std::string open_error;

// The largest release number a Manifest carries.
constexpr uint64_t kLargestSequence = INT64_MAX;

int CodeOf(update::UpdateFailure failure) {
  switch (failure) {
    case update::UpdateFailure::kNone:
    case update::UpdateFailure::kUsage:
      break;
    case update::UpdateFailure::kNetwork:
      return FILEDIST_UPDATE_E_NETWORK;
    case update::UpdateFailure::kRefused:
      return FILEDIST_UPDATE_E_REFUSED;
    case update::UpdateFailure::kDisk:
      return FILEDIST_UPDATE_E_DISK;
    case update::UpdateFailure::kCancelled:
      return FILEDIST_UPDATE_E_CANCELLED;
    case update::UpdateFailure::kLocked:
      return FILEDIST_UPDATE_E_LOCKED;
  }
  return FILEDIST_UPDATE_E_USAGE;
}

// A flag's value: NULL or "1" sets it, "0" clears it.
bool ParseFlag(const char* text, bool* value) {
  std::string flag = text != nullptr ? text : "1";
  if (flag != "1" && flag != "0") return false;
  *value = flag == "1";
  return true;
}

// Copies the fields of full that fit in the caller's plan->size, no more:
// a host built against an older, smaller plan keeps the bytes past it.
void FillPlan(filedist_update_plan full, filedist_update_plan* plan) {
  full.size = plan->size;
  size_t fits = plan->size < sizeof full ? plan->size : sizeof full;
  std::memcpy(static_cast<void*>(plan), &full, fits);
}

// The number of the signed release installed, as the floor records it; 0
// where no signed release was installed or the record cannot be read.
uint64_t InstalledSequence(const std::string& install_dir) {
  uint64_t sequence = 0;
  return update::ReadReleaseState(install_dir, &sequence) == update::ReleaseState::kRead ? sequence
                                                                                         : 0;
}

}  // namespace

struct filedist_update {
  update::UpdateOptions options;
  FetchSettings fetch;
  std::string source_text;
  // "channel": the channel to follow; empty for the one recorded (when the
  // session remembers) or none.
  std::string channel;
  // "remember", set too by an open without a source.
  bool remember = false;
  // What the last check's channel gave: the pointer apply records, or an
  // install held back outside a rollout (nothing to fetch or apply).
  updater::ChannelFollow follow;
  // What the last check runs with: options set later wait for the next.
  update::UpdateOptions checked;
  std::unique_ptr<ReleaseSource> source;
  std::unique_ptr<updater::SourceFetcher> fetcher;
  SessionReporter reporter;
  update::UpdateOutcome own_outcome;
  update::UpdateOutcome* outcome = &own_outcome;
  update::InstallLock lock;
  std::unique_ptr<update::UpdateSteps> steps;
  Step step = Step::kOpened;
  bool source_failed = false;
  // Set while the host's progress function runs: a call on the session from
  // there would free or restart the steps the download is still inside.
  bool in_progress = false;
  std::string error;

  // Follows a channel and records what apply installed, as `filedist
  // update` does.
  bool Follows() const { return remember || !channel.empty(); }

  int Usage(const std::string& text) {
    error = text;
    return FILEDIST_UPDATE_E_USAGE;
  }
  // The refusal of a call made from the progress function, left for
  // filedist_update_error; the download goes on.
  int Reentered(const char* call) {
    return Usage(std::string(call) + " cannot be called from the progress function");
  }
  // The result of an engine step: 0, or the kind of its failure with the
  // problem it reported last.
  int Result(int status) {
    if (status == 0) return FILEDIST_UPDATE_OK;
    error = reporter.last_problem();
    if (error.empty()) error = "the update failed";
    int code = CodeOf(outcome->failure);
    // "Run again" must work after a failed first update too: the folder
    // has no record of a source yet.
    // A source that is not there at all (a mistyped folder) is not kept.
    if (Follows() && !checked.dry_run && !source_failed && code != FILEDIST_UPDATE_E_USAGE &&
        code != FILEDIST_UPDATE_E_LOCKED) {
      updater::RecordTriedSource(options.install_dir, source_text, channel);
    }
    return code;
  }
  // What a successful apply records as the source: a patch directory given
  // stands for its releases folder, so that later updates find the releases
  // that come after it; a patch directory served alone stays as given.
  std::string SourceToRecord() const {
    std::string given = updater::SourceToRemember(source_text);
    if (!IsPatchDirName(updater::PatchNameOf(given))) return given;
    std::string parent = updater::ParentOf(given);
    if (parent.empty() || !ReleaseSource(parent, fetch).HasLatest()) return given;
    return parent;
  }
};

namespace {

// Follows the session's channel (the one recorded in the install folder when
// none was set, stable when none was recorded), against the last pointer
// taken from it. False, with *error and session->follow.failure set.
bool FollowFromRecord(filedist_update* session, std::string* error) {
  const std::string& install_dir = session->checked.install_dir;
  update::InstallRecord record;
  const bool has_record =
      update::ReadInstallRecord(install_dir, &record) == update::RecordState::kRead;
  std::string channel = session->channel;
  update::TriedSource tried;
  if (channel.empty() && !has_record && update::ReadTriedSource(install_dir, &tried)) {
    channel = tried.channel;
  }
  if (channel.empty()) channel = has_record ? record.channel : kDefaultChannel;
  return updater::FollowChannel(session->source.get(), channel, session->checked.trusted_key,
                                has_record && record.channel == channel ? record.pointer : 0,
                                install_dir, has_record ? record.patch : "", &session->follow,
                                error);
}

// Before the apply changes anything: the pointer the check took becomes the
// last one taken from its channel. The apply raises the release floor
// first; were the pointer recorded only after a successful apply, one that
// is stopped or cannot place a file would leave the previous pointer
// binding, and that pointer served again would take the install back to
// its older release. Only the pointer changes: the rest of the record still
// says what was installed last. Where no record of this channel binds
// (a first install, a switch of channel), the floor alone keeps older
// releases out.
bool RecordPointerTaken(filedist_update* session, std::string* error) {
  const updater::ChannelFollow& follow = session->follow;
  if (follow.channel.empty() || follow.pointer == 0) return true;
  const std::string& install_dir = session->checked.install_dir;
  update::InstallRecord record;
  if (update::ReadInstallRecord(install_dir, &record) != update::RecordState::kRead ||
      record.channel != follow.channel || record.pointer >= follow.pointer) {
    return true;
  }
  record.pointer = follow.pointer;
  return update::WriteInstallRecord(install_dir, record, error);
}

}  // namespace

extern "C" {

int filedist_update_open(const char* install_dir, const char* source, filedist_update** out) {
  if (out != nullptr) *out = nullptr;
  if (install_dir == nullptr || out == nullptr || *install_dir == '\0') {
    open_error = "filedist_update_open needs an install directory and a place for the session";
    return FILEDIST_UPDATE_E_USAGE;
  }
  std::unique_ptr<filedist_update> session(new filedist_update);
  session->options.install_dir = install_dir;
  session->options.jobs = 8;
  if (session->lock.Take(install_dir, &session->reporter, session->outcome) != 0) {
    open_error = session->reporter.last_problem();
    return CodeOf(session->outcome->failure);
  }
  if (source != nullptr && *source != '\0') {
    session->source_text = source;
  } else {
    // Read under the lock: an update that ends meanwhile cannot be half seen.
    update::UpdateFailure failure = update::UpdateFailure::kNone;
    if (!updater::RememberedSource(install_dir, &session->source_text, &failure, &open_error)) {
      return CodeOf(failure);
    }
    session->remember = true;
  }
  open_error.clear();
  *out = session.release();
  return FILEDIST_UPDATE_OK;
}

void filedist_update_close(filedist_update* session) {
  // From the progress function the session is still in use: the host closes
  // it once the download has returned.
  if (session != nullptr && session->in_progress) return;
  delete session;
}

int filedist_update_set(filedist_update* session, const char* option, const char* value) {
  if (session == nullptr) return FILEDIST_UPDATE_E_USAGE;
  if (session->in_progress) return session->Reentered("filedist_update_set");
  session->error.clear();
  if (option == nullptr) return session->Usage("no option name given");
  std::string name = option;
  update::UpdateOptions& options = session->options;
  bool flag = false;
  if (name == "trust" || name == "ca") {
    if (value == nullptr) return session->Usage("the option '" + name + "' takes a file");
    // An empty name would leave the session without a key to check
    // releases with, and so take an unsigned one: refused like any other
    // key that cannot be read, only sooner.
    if (name == "trust" && *value == '\0') {
      return session->Usage("trust takes a public key file; an empty name checks no signature");
    }
    (name == "trust" ? options.trusted_key : session->fetch.transport.ca_file) = value;
  } else if (name == "jobs") {
    if (!ParseCount(value, 1, 64, &options.jobs)) {
      return session->Usage("jobs takes a number from 1 to 64");
    }
  } else if (name == "timeout") {
    if (!ParseCount(value, 1, 86400, &session->fetch.transport.timeout_seconds)) {
      return session->Usage("timeout takes a number of seconds from 1 to 86400");
    }
  } else if (name == "retries") {
    if (!ParseCount(value, 0, 100, &session->fetch.retry.retries)) {
      return session->Usage("retries takes a number from 0 to 100");
    }
  } else if (name == "expected-sequence") {
    // A Manifest's sequence is at most 2^63 - 1.
    if (!ParseCount(value, 0, kLargestSequence, &options.expected_sequence)) {
      return session->Usage("expected-sequence takes a release number from 0 to " +
                            std::to_string(kLargestSequence));
    }
  } else if (name == "channel") {
    if (value == nullptr || !IsChannelName(value)) {
      return session->Usage("channel takes a name of letters, digits, '-' and '_'");
    }
    session->channel = value;
  } else if (name == "remember") {
    if (!ParseFlag(value, &flag)) return session->Usage("the option '" + name + "' takes 1 or 0");
    session->remember = flag;
  } else if (name == "no-delta") {
    if (!ParseFlag(value, &flag)) return session->Usage("the option '" + name + "' takes 1 or 0");
    options.delta = !flag;
  } else if (name == "prune" || name == "force" || name == "repair" || name == "dry-run" ||
             name == "allow-downgrade") {
    if (!ParseFlag(value, &flag)) return session->Usage("the option '" + name + "' takes 1 or 0");
    bool* target = name == "prune"     ? &options.prune
                   : name == "force"   ? &options.force
                   : name == "repair"  ? &options.repair
                   : name == "dry-run" ? &options.dry_run
                                       : &options.allow_downgrade;
    *target = flag;
  } else {
    return session->Usage("unknown option '" + name + "'");
  }
  return FILEDIST_UPDATE_OK;
}

int filedist_update_check(filedist_update* session, filedist_update_plan* plan) {
  if (session == nullptr) return FILEDIST_UPDATE_E_USAGE;
  if (session->in_progress) return session->Reentered("filedist_update_check");
  session->error.clear();
  session->reporter.ClearProblem();
  if (plan != nullptr && plan->size < sizeof(uint32_t)) {
    return session->Usage("the plan's size field is not set");
  }
  if (session->options.force && !session->options.prune) {
    return session->Usage("force goes with prune");
  }
  session->steps.reset();
  session->step = Step::kOpened;
  *session->outcome = update::UpdateOutcome();
  session->checked = session->options;
  if (session->checked.trusted_key.empty()) {
    // A key placed in the install directory is trusted without being named.
    // Whatever is at the name (a link that leads nowhere, a folder, a file
    // that cannot be read) counts: the update then fails naming it rather
    // than taking a release unverified.
    std::string placed =
        update::JoinInstallPath(session->checked.install_dir, {update::kTrustedKeyName});
    if (plat::NameIsTaken(placed)) session->checked.trusted_key = placed;
  }
  session->source_failed = false;
  session->fetcher.reset();
  session->source.reset(new ReleaseSource(session->source_text, session->fetch));
  session->follow = updater::ChannelFollow();
  std::string error;
  bool found = session->source->Check(&error);
  if (found && session->Follows()) {
    found = FollowFromRecord(session, &error);
  } else if (found) {
    found = session->source->FollowLatest(&error);
  }
  if (!found) {
    session->source_failed = true;
    session->reporter.Problem(error);
    session->outcome->failure = session->follow.failure != update::UpdateFailure::kNone
                                    ? session->follow.failure
                                    : update::UpdateFailure::kNetwork;
    return session->Result(1);
  }
  if (session->follow.held_back) {
    // Outside the rollout: nothing new here yet, and nothing to finish
    // either; download and apply then have nothing to do.
    session->step = Step::kChecked;
    if (plan != nullptr) {
      filedist_update_plan none;
      std::memset(&none, 0, sizeof none);
      none.held_back = 1;
      none.installed_sequence = InstalledSequence(session->checked.install_dir);
      FillPlan(none, plan);
    }
    return FILEDIST_UPDATE_UP_TO_DATE;
  }
  if (session->follow.expected_sequence != 0) {
    session->checked.expected_sequence = session->follow.expected_sequence;
  }
  session->fetcher.reset(new updater::SourceFetcher(*session->source));
  session->steps.reset(new update::UpdateSteps(session->checked, session->fetcher.get(),
                                               &session->reporter, session->outcome));
  if (int status = session->steps->Check()) return session->Result(status);
  session->step = Step::kChecked;
  const update::UpdateOutcome& outcome = *session->outcome;
  if (plan != nullptr) {
    filedist_update_plan full;
    std::memset(&full, 0, sizeof full);
    full.files_to_fetch = static_cast<uint32_t>(outcome.plan.fetch.size());
    full.bytes_to_fetch = outcome.plan.fetch_bytes;
    full.files_obsolete = static_cast<uint32_t>(outcome.plan.obsolete.size());
    full.verified = outcome.verified ? 1 : 0;
    full.sequence = outcome.has_sequence ? outcome.sequence : 0;
    full.held_back = 0;
    full.files_by_patch = static_cast<uint32_t>(outcome.patch_sizes.size());
    full.bytes_expected = outcome.expected_bytes;
    full.installed_sequence = InstalledSequence(session->checked.install_dir);
    FillPlan(full, plan);
  }
  bool nothing =
      outcome.plan.fetch.empty() && (!session->checked.prune || outcome.plan.obsolete.empty());
  return nothing ? FILEDIST_UPDATE_UP_TO_DATE : FILEDIST_UPDATE_OK;
}

int filedist_update_download(filedist_update* session, filedist_update_progress progress,
                             void* ctx) {
  if (session == nullptr) return FILEDIST_UPDATE_E_USAGE;
  if (session->in_progress) return session->Reentered("filedist_update_download");
  session->error.clear();
  session->reporter.ClearProblem();
  if (session->step == Step::kOpened) return session->Usage("check the release first");
  if (session->checked.dry_run) return session->Usage("a dry run downloads nothing");
  session->outcome->failure = update::UpdateFailure::kNone;
  if (session->follow.held_back) {
    session->step = Step::kDownloaded;
    return FILEDIST_UPDATE_OK;
  }
  update::FetchWatch watch;
  if (progress != nullptr) {
    watch = [session, progress, ctx](uint64_t done, uint64_t total, const std::string& path) {
      session->in_progress = true;
      int stop = progress(ctx, done, total, path.c_str());
      session->in_progress = false;
      return stop != 0;
    };
  }
  int status = session->steps->Stage(watch);
  if (status != 0) return session->Result(status);
  session->step = Step::kDownloaded;
  // A call the progress function made was refused; the download itself
  // succeeded.
  session->error.clear();
  return FILEDIST_UPDATE_OK;
}

int filedist_update_apply(filedist_update* session) {
  if (session == nullptr) return FILEDIST_UPDATE_E_USAGE;
  if (session->in_progress) return session->Reentered("filedist_update_apply");
  session->error.clear();
  session->reporter.ClearProblem();
  if (session->step != Step::kDownloaded) return session->Usage("download the release first");
  session->outcome->failure = update::UpdateFailure::kNone;
  // An apply ends what the check planned, whatever its result.
  session->step = Step::kOpened;
  if (session->follow.held_back) return FILEDIST_UPDATE_UP_TO_DATE;
  std::string taken_error;
  if (!RecordPointerTaken(session, &taken_error)) {
    session->reporter.Problem("cannot record the channel pointer taken: " + taken_error +
                              "; nothing was replaced");
    session->error = session->reporter.last_problem();
    return FILEDIST_UPDATE_E_DISK;
  }
  if (int status = session->steps->Install()) return session->Result(status);
  if (!session->follow.channel.empty()) {
    // The check followed a channel: the next session needs no source, and
    // refuses a pointer older than this one.
    std::string error;
    if (!updater::RecordInstalledRelease(session->checked.install_dir, session->SourceToRecord(),
                                         session->follow.channel, session->follow.pointer,
                                         session->source->location(), *session->outcome, &error)) {
      session->reporter.Problem("the release is installed, but its source could not be recorded: " +
                                error);
      session->error = session->reporter.last_problem();
      return FILEDIST_UPDATE_E_DISK;
    }
  }
  return session->outcome->up_to_date ? FILEDIST_UPDATE_UP_TO_DATE : FILEDIST_UPDATE_OK;
}

int filedist_update_restart(filedist_update* session, uint64_t wait_pid, int timeout_seconds,
                            const char* program, const char* const* args) {
  if (session == nullptr) return FILEDIST_UPDATE_E_USAGE;
  if (session->in_progress) return session->Reentered("filedist_update_restart");
  session->error.clear();
  session->reporter.ClearProblem();
  if (session->step != Step::kDownloaded) return session->Usage("download the release first");
  if (timeout_seconds < 1 || timeout_seconds > 86400) {
    return session->Usage("the time to wait is a number of seconds from 1 to 86400");
  }
  // A larger id names no process; a caller's -1 arrives as one of them.
  if (wait_pid > plat::LargestProcessId()) {
    return session->Usage("wait_pid takes a process id from 1 to " +
                          std::to_string(plat::LargestProcessId()) + ", or 0 for no wait");
  }
  if (wait_pid != 0) {
    switch (plat::WaitForProcessEnd(wait_pid, timeout_seconds)) {
      case plat::ProcessWait::kEnded:
        break;
      case plat::ProcessWait::kTimedOut:
        session->reporter.Problem("process " + std::to_string(wait_pid) + " still runs after " +
                                  std::to_string(timeout_seconds) +
                                  " seconds; nothing was installed");
        session->error = session->reporter.last_problem();
        return FILEDIST_UPDATE_E_TIMEOUT;
      case plat::ProcessWait::kFailed:
        session->reporter.Problem("cannot wait for process " + std::to_string(wait_pid) +
                                  "; nothing was installed");
        session->error = session->reporter.last_problem();
        return FILEDIST_UPDATE_E_TIMEOUT;
    }
  }
  int code = filedist_update_apply(session);
  std::string apply_error = session->error;
  if (program == nullptr) return code;
  std::vector<std::string> argv = {program};
  for (const char* const* arg = args; arg != nullptr && *arg != nullptr; ++arg) {
    argv.push_back(*arg);
  }
  std::string error;
  if (!plat::StartProgram(argv, &error)) {
    session->reporter.Problem(error);
    session->error = code < 0 ? apply_error + "; and " + error : error;
    return code < 0 ? code : FILEDIST_UPDATE_E_START;
  }
  session->error = apply_error;
  return code;
}

const char* filedist_update_error(const filedist_update* session) {
  return session != nullptr ? session->error.c_str() : open_error.c_str();
}

}  // extern "C"

namespace updater {

void AttachReporter(filedist_update* session, update::UpdateReporter* reporter,
                    update::UpdateOutcome* outcome) {
  session->reporter.Attach(reporter);
  if (outcome != nullptr) session->outcome = outcome;
}

const update::UpdateOptions& SessionOptions(const filedist_update* session) {
  return session->options;
}

std::string SourceLocation(const filedist_update* session) {
  return session->source ? session->source->location() : session->source_text;
}

bool SourceFailed(const filedist_update* session) { return session->source_failed; }

const ChannelFollow& FollowedChannel(const filedist_update* session) { return session->follow; }

}  // namespace updater
