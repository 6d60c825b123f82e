#include "cli/json_output.h"

#include <cstdio>

Json JsonDocument(const char* command) {
  Json doc;
  doc["format"] = 1;
  doc["command"] = command;
  doc["status"] = "ok";
  return doc;
}

void SetJsonFailure(Json* doc, const std::string& error) {
  (*doc)["status"] = "failed";
  (*doc)["error"] = error;
}

void PrintJson(const Json& doc) {
  std::string text = doc.dump(2, ' ', false, Json::error_handler_t::replace);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}
