// The documents of --json: with it a command writes exactly one JSON
// document on standard output and nothing else there; its errors still go
// to standard error. The shapes are in docs/json.md and keep "format": 1 for
// as long as they only gain fields.
#ifndef FILEDIST_CLI_JSON_OUTPUT_H
#define FILEDIST_CLI_JSON_OUTPUT_H

#include <nlohmann/json.hpp>

#include <string>

// Fields in the order they are set, as docs/json.md shows them.
using Json = nlohmann::ordered_json;

// The fields every document begins with: "format", "command" and "status"
// (set to "ok" here; SetJsonFailure changes it).
Json JsonDocument(const char* command);

// Marks doc as a failed run's: "status" "failed" and "error" the reason, as
// standard error gives it (without "filedist: ").
void SetJsonFailure(Json* doc, const std::string& error);

// Writes doc and a line end to standard output. Texts are passed as they
// are; a byte that is not part of valid UTF-8 (a path in another code page)
// becomes U+FFFD, since a JSON document is UTF-8.
void PrintJson(const Json& doc);

#endif  // FILEDIST_CLI_JSON_OUTPUT_H
