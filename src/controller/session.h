#pragma once
// controller: what every workflow on a line shares -- the application folder, the store, the
// counted line with its command set, and what was learnt of each controller's frames. No view,
// no message text: the console, the line watch and tarvel-cli each build on one. One command
// uses it at a time, except Cancel, which another thread may call while a command runs.
// Depends on link, store and util.

#include <cstdint>

#include "controller/counting_line.h"
#include "link/capabilities.h"
#include "link/commands.h"
#include "store/config_store.h"
#include "util/app_folder.h"
#include "util/result.h"

namespace tarvel::controller {

struct Session {
  Session(AppFolder appFolder, store::ConfigStore& configStore, link::Line& rawLine)
      : folder(std::move(appFolder)), store(configStore), line(rawLine), commands(line) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Which frames the transfers may use with a controller: what it has shown on the line (kept
  // in the database) and the block-read setting.
  link::FrameUse FramesFor(std::uint8_t address);
  // Keeps what a transfer or reading learnt of the controller. The knowledge is no user data: a
  // refusal of the database is returned for the caller to say, and it is learnt again next time.
  [[nodiscard]] Status KeepLearnt(std::uint8_t address, const link::FrameUse& use);

  AppFolder folder;
  store::ConfigStore& store;
  CountingLine line;
  link::CommandSet commands;
  // Reads of more than two registers where a controller has answered one (the console's
  // setting; tarvel-cli --no-block-reads; the line watch's setting).
  bool blockReads = true;
};

}  // namespace tarvel::controller
