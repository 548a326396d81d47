#pragma once
// tarvel-cli: a verb's line through a running line service (see service_line.cpp).

#include <memory>

#include "cli/cli.h"
#include "service/remote_line.h"

namespace tarvel::cli {

// Nothing when no service of the home serves --port (failed false: open the port as before), or
// when the service refused the session (failed true: the reason is printed).
std::unique_ptr<service::RemoteLine> LineThroughService(Context& ctx, bool& failed);

}  // namespace tarvel::cli
