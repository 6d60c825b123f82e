// What an HTTP status says about trying again, the same for every back end.
#ifndef FILEDIST_TRANSPORT_HTTP_STATUS_H
#define FILEDIST_TRANSPORT_HTTP_STATUS_H

// True for an answer that may pass when asked again later: 408 (the server
// gave up waiting), 429 (too many requests) and every 5xx (trouble on the
// server's side). Any other failing status will answer the same again.
bool IsTransientHttpStatus(long status);

#endif  // FILEDIST_TRANSPORT_HTTP_STATUS_H
