#include <iomanip>

#include "cli/cli.h"
#include "store/config_store.h"
#include "util/text.h"

namespace tarvel::cli {
namespace {

int ListChannels(Context& ctx, store::ConfigStore& db) {
  auto channels = db.Channels();
  if (!channels) {
    ctx.err << channels.status().message() << "\n";
    return kExitFailed;
  }
  ctx.out << std::left << std::setw(8) << "Channel" << std::setw(9) << "Address" << std::setw(24) << "NickName"
          << "Type\n";
  for (const auto& c : *channels)
    ctx.out << std::left << std::setw(8) << c.softwareChannel << std::setw(9) << c.modbusAddress << std::setw(24)
            << c.nickName << c.controllerType << "\n";
  ctx.out << channels->size() << (channels->size() == 1 ? " channel\n" : " channels\n");
  return kExitOk;
}

}  // namespace

int ChannelVerbs(Context& ctx, const Args& args) {
  const char* usage =
      "usage: tarvel-cli [--home DIR] channels | channel add CHANNEL ADDRESS NICKNAME [TYPE] | channel remove CHANNEL\n";
  store::ConfigStore db(ctx.folder.ConfigDatabase());

  if (args.size() == 1 && args[0] == "channels") return ListChannels(ctx, db);

  if (args.size() >= 2 && args[0] == "channel" && args[1] == "add" && (args.size() == 5 || args.size() == 6)) {
    auto channel = ToInt16(args[2]);
    auto address = ToWholeNumber(args[3], 1, 247);
    if (!channel || !address || args[4].empty()) {
      ctx.err << "CHANNEL must be a whole number and ADDRESS a Modbus address 1..247; NICKNAME must not be empty\n"
              << usage;
      return kExitUsage;
    }
    store::ChannelRow row{*channel, static_cast<int>(*address), args[4], args.size() == 6 ? args[5] : "set64rs"};
    if (auto added = db.AddChannel(row); !added) {
      ctx.err << added.message() << "\n";
      return kExitFailed;
    }
    ctx.out << "Channel " << row.softwareChannel << " added: address " << row.modbusAddress << ", \"" << row.nickName
            << "\", " << row.controllerType << "\n";
    return kExitOk;
  }

  if (args.size() == 3 && args[0] == "channel" && args[1] == "remove") {
    auto channel = ToInt16(args[2]);
    if (!channel) {
      ctx.err << usage;
      return kExitUsage;
    }
    if (auto removed = db.DeleteChannel(*channel); !removed) {
      ctx.err << removed.message() << "\n";
      return kExitFailed;
    }
    ctx.out << "Channel " << *channel << " removed\n";
    return kExitOk;
  }

  ctx.err << usage;
  return kExitUsage;
}

}  // namespace tarvel::cli
