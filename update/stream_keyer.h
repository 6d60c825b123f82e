// Keys the bytes of a file as they are written, for a download that is
// decoded as it arrives. For a large file the MD5 work goes to a thread of
// its own, so that it runs beside receiving, decoding and writing instead of
// after them: on two cores that nearly halves the time such a file takes.
#ifndef FILEDIST_UPDATE_STREAM_KEYER_H
#define FILEDIST_UPDATE_STREAM_KEYER_H

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fileio/md5.h"

namespace update {

class StreamKeyer {
 public:
  // aside: key on a helper thread (worth it for large files only).
  explicit StreamKeyer(bool aside);
  ~StreamKeyer();
  StreamKeyer(const StreamKeyer&) = delete;
  StreamKeyer& operator=(const StreamKeyer&) = delete;

  // The next bytes of the file.
  void Add(const void* data, size_t size);
  // The key of every byte added; call once.
  std::string Finish();

 private:
  void Hash();     // the helper thread
  void Handoff();  // passes the filling buffer to the helper

  Md5State state_;
  bool aside_;
  // With aside: buffers go round from the filling side to the helper and
  // back, so that memory stays bounded whatever the file's size.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<unsigned char[]>> free_;
  std::vector<std::pair<std::unique_ptr<unsigned char[]>, size_t>> full_;  // in order
  bool ended_ = false;
  std::unique_ptr<unsigned char[]> filling_;
  size_t filled_ = 0;
  std::thread helper_;
};

}  // namespace update

#endif  // FILEDIST_UPDATE_STREAM_KEYER_H
