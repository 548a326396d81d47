#pragma once
// web: what our HTTP servers (the web view's, the line service's API) answer -- JSON, refusals
// as {"message": "..."}, and Server-Sent Events. For the .cpp files that serve with httplib.

#include <httplib.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tarvel::web {

inline void Answer(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  // Text that is not UTF-8 (an 8-bit name, a file name in a verb's text) is replaced, never thrown on.
  res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

inline void Refuse(httplib::Response& res, int status, const std::string& message) {
  Answer(res, status, {{"message", message}});
}

// An event stream: next adds what happened since its last call (waiting a while for it), or
// returns false when the stream is to end.
inline void StreamEvents(httplib::Response& res, std::function<bool(std::vector<std::string>&)> next) {
  res.set_header("Cache-Control", "no-cache");
  res.set_chunked_content_provider("text/event-stream", [next = std::move(next)](std::size_t, httplib::DataSink& sink) {
    std::vector<std::string> events;
    if (!next(events)) {
      sink.done();
      return true;
    }
    // A comment now and then: a listener that went away is noticed and its thread freed.
    if (events.empty()) events.push_back(": still here\n\n");
    for (const std::string& event : events)
      if (!sink.write(event.data(), event.size())) return false;
    return true;
  });
}

}  // namespace tarvel::web
