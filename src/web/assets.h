#pragma once
// web: the pages' files, compiled into the program (no install path to find them at run time).

#include <map>
#include <string>
#include <string_view>

namespace tarvel::web {

// File name ("app.js") -> its bytes.
const std::map<std::string, std::string_view>& Assets();

}  // namespace tarvel::web
