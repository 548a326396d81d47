#pragma once
// tarvel-cli: a verb's line through the home's line service, and the verbs as the service's
// workflows (see service_line.cpp).

#include <memory>

#include "cli/cli.h"
#include "link/line.h"
#include "service/workflow.h"

namespace tarvel::cli {

// Nothing when no service of the home serves --port (failed false: open the port as before), or
// when the service refused the session (failed true: the reason is printed). Within the service
// (a workflow request) the line is a session of the port's worker.
std::unique_ptr<link::Line> LineThroughService(Context& ctx, bool& failed);

// What runs a workflow request: the verb, in-process, on the service's own port workers.
service::WorkflowRunner VerbRunner(AppFolder folder, bool blockReads);

}  // namespace tarvel::cli
