// Fuzz target: a line service API request body as a client may send it (an exchange or a
// workflow), and an answer as a RemoteLine may get it. A parsed exchange survives its own JSON
// unchanged; a workflow is a verb and words with no global option among them; an answer never
// gives an outcome outside the link's kinds or a value beyond 16 bits.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <variant>

#include "fuzz_check.h"
#include "service/exchange.h"
#include "service/workflow.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const nlohmann::json request = nlohmann::json::parse(text, nullptr, false);
  if (request.is_discarded()) return 0;
  const auto parsed = tarvel::service::ParseExchange(request);
  if (const auto* exchange = std::get_if<tarvel::service::Exchange>(&parsed)) {
    const auto again = tarvel::service::ParseExchange(tarvel::service::ExchangeJson(*exchange));
    const auto* same = std::get_if<tarvel::service::Exchange>(&again);
    FUZZ_CHECK(same && same->op == exchange->op && same->address == exchange->address && same->reg == exchange->reg &&
               same->count == exchange->count && same->value == exchange->value && same->next == exchange->next &&
               same->on == exchange->on);
  } else {
    FUZZ_CHECK(!std::get<std::string>(parsed).empty());
  }
  const auto workflow = tarvel::service::ParseWorkflow(request);
  if (const auto* w = std::get_if<tarvel::service::Workflow>(&workflow)) {
    FUZZ_CHECK(!w->args.empty() && w->args.size() <= 64);
    for (const std::string& word : w->args) FUZZ_CHECK(word != "--home" && word != "--port" && word.size() <= 4096);
  } else {
    FUZZ_CHECK(!std::get<std::string>(workflow).empty());
  }
  const tarvel::service::ExchangeResult result = tarvel::service::ParseResult(request);
  FUZZ_CHECK(static_cast<int>(result.outcome) <= static_cast<int>(tarvel::link::Outcome::Cancelled));
  return 0;
}
