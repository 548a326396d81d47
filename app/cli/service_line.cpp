// tarvel-cli: the line of --port through the home's line service, when one runs and serves that
// port: the service owns the port, and the verb's exchanges go between those of its sweep.
#include "cli/service_line.h"

#include "service/remote_line.h"
#include "service/service.h"

namespace tarvel::cli {

std::unique_ptr<link::Line> LineThroughService(Context& ctx, bool& failed) {
  failed = false;
  if (ctx.port.empty()) return nullptr;
  if (ctx.serviceLine) {
    auto line = ctx.serviceLine(ctx.port);
    if (!line) {
      ctx.err << ctx.port << ": not a port of this service\n";
      failed = true;
    }
    return line;
  }
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

service::WorkflowRunner VerbRunner(AppFolder folder, bool blockReads) {
  return [folder = std::move(folder), blockReads](service::Service& lineService, const service::Workflow& workflow,
                                                  std::ostream& out, std::ostream& err) {
    Context ctx{folder, workflow.port, blockReads, out, err};
    ctx.serviceLine = [&lineService](const std::string& port) -> std::unique_ptr<link::Line> {
      service::PortWorker* worker = lineService.Port(port);
      if (!worker) return nullptr;
      return std::make_unique<service::WorkerLine>(*worker);
    };
    return RunVerb(ctx, service::FilesFrom(workflow.args, workflow.cwd)).value_or(kExitUsage);
  };
}

}  // namespace tarvel::cli
