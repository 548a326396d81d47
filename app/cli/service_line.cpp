// tarvel-cli: the line of --port through the home's line service, when one runs and serves that
// port: the service owns the port, and the verb's exchanges go between those of its sweep.
#include "cli/service_line.h"

namespace tarvel::cli {

std::unique_ptr<service::RemoteLine> LineThroughService(Context& ctx, bool& failed) {
  failed = false;
  if (ctx.port.empty()) return nullptr;
  auto found = service::FindService(ctx.folder);
  if (!found) return nullptr;
  const std::string port = service::ServedPort(*found, ctx.port);
  if (port.empty()) return nullptr;  // a port the service does not own: the verb opens it itself
  auto line = std::make_unique<service::RemoteLine>(found->socket, port);
  if (auto refused = line->Open()) {
    ctx.err << ctx.port << ": " << *refused << "\n";
    failed = true;
    return nullptr;
  }
  return line;
}

}  // namespace tarvel::cli
