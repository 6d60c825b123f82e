// Downloads over HTTP for `filedist update`. Builds without libcurl have a
// stand-in that refuses every URL.
#ifndef FILEDIST_CLI_HTTP_DOWNLOAD_H
#define FILEDIST_CLI_HTTP_DOWNLOAD_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Told the number of bytes of the current file received so far.
using ByteProgress = std::function<void(uint64_t)>;

// Fetches url into the file dest (created or truncated). An HTTP status of
// 400 or more is a failure. On failure *error says why.
bool HttpDownload(const std::string& url, const std::string& dest, const ByteProgress& progress,
                  std::string* error);

// Takes the body's bytes as they arrive; false stops the transfer.
using BodySink = std::function<bool(const char* data, size_t size)>;

// Fetches url into sink. An HTTP status of 400 or more is a failure, and so
// is a stop by sink. On failure *error says why.
bool HttpDownloadTo(const std::string& url, const BodySink& sink, std::string* error);

#endif  // FILEDIST_CLI_HTTP_DOWNLOAD_H
