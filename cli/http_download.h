// Downloads over HTTP for `filedist update`. Builds without libcurl have a
// stand-in that refuses every URL.
#ifndef FILEDIST_CLI_HTTP_DOWNLOAD_H
#define FILEDIST_CLI_HTTP_DOWNLOAD_H

#include <cstdint>
#include <functional>
#include <string>

// Told the number of bytes of the current file received so far.
using ByteProgress = std::function<void(uint64_t)>;

// Fetches url into the file dest (created or truncated). An HTTP status of
// 400 or more is a failure. On failure *error says why.
bool HttpDownload(const std::string& url, const std::string& dest, const ByteProgress& progress,
                  std::string* error);

#endif  // FILEDIST_CLI_HTTP_DOWNLOAD_H
