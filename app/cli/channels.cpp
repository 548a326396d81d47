#include <iomanip>

#include "cli/args.h"
#include "cli/cli.h"
#include "store/config_store.h"

namespace tarvel::cli {
namespace {

int ListChannels(Context& ctx, store::ConfigStore& db) {
  auto channels = db.Channels();
  if (!channels) {
    ctx.err << channels.status().message() << "\n";
    return kExitFailed;
  }
  ctx.out << std::left << std::setw(8) << "Channel" << std::setw(9) << "Address" << std::setw(24) << "NickName"
          << std::setw(10) << "Type"
          << "Port\n";
  for (const auto& c : *channels) {
    ctx.out << std::left << std::setw(8) << c.softwareChannel << std::setw(9) << c.modbusAddress << std::setw(24)
            << c.nickName;
    // No trailing blanks on a line without a port: scripts compare whole lines.
    if (c.port.empty())
      ctx.out << c.controllerType << "\n";
    else
      ctx.out << std::setw(10) << c.controllerType << c.port << "\n";
  }
  ctx.out << channels->size() << (channels->size() == 1 ? " channel\n" : " channels\n");
  return kExitOk;
}

}  // namespace

int ChannelVerbs(Context& ctx, const Args& args) {
  ArgReader in(ctx.err,
               "usage: tarvel-cli [--home DIR] channels [--database FILE] | channel add CHANNEL ADDRESS NICKNAME"
               " [TYPE] [--port DEVICE] | channel remove CHANNEL\n",
               args, 0, {}, {"--database", "--port"});
  const std::size_t n = in.Count();
  const bool list = n == 1 && in.Word(0) == "channels";
  const bool add = n >= 2 && in.Word(0) == "channel" && in.Word(1) == "add" && (n == 5 || n == 6);
  const bool remove = n == 3 && in.Word(0) == "channel" && in.Word(1) == "remove";
  if (!in.ok() || !(list || add || remove) || (!list && in.Option("--database")) || (!add && in.Option("--port")))
    return in.Usage();
  std::optional<int> channel, address;
  if (add || remove) channel = in.Whole(2, kChannelArg);
  if (add) address = in.Whole(3, kAddressArg);
  if (add && in.Word(4).empty()) in.Refuse("NICKNAME must not be empty");
  if (!in.ok()) return in.Usage();

  // Another configuration database (one copied from another PC, an old backup) is only looked at.
  if (auto other = in.Option("--database")) {
    store::ConfigStore shown(*other, store::kDefaultBusyTimeout, store::ConfigStore::Access::ReadOnly);
    if (!shown.OpenStatus().ok()) {
      ctx.err << shown.OpenStatus().message() << "\n";
      return kExitFailed;
    }
    return ListChannels(ctx, shown);
  }
  store::ConfigStore db(ctx.folder.ConfigDatabase());
  if (list) return ListChannels(ctx, db);

  if (add) {
    // The line the controller is on: --port after the verb, or tarvel-cli's own --port; else the stored port.
    store::ChannelRow row{*channel, *address, in.Word(4), n == 6 ? in.Word(5) : "set64rs",
                          in.Option("--port").value_or(ctx.port)};
    if (auto added = db.AddChannel(row); !added) {
      ctx.err << added.message() << "\n";
      return kExitFailed;
    }
    auto stored = db.ChannelByNumber(row.softwareChannel);
    const std::string port = stored.ok() && stored->has_value() ? (*stored)->port : row.port;
    ctx.out << "Channel " << row.softwareChannel << " added: address " << row.modbusAddress << ", \"" << row.nickName
            << "\", " << row.controllerType << (port.empty() ? ", no port" : ", port " + port) << "\n";
    return kExitOk;
  }

  if (auto removed = db.DeleteChannel(*channel); !removed) {
    ctx.err << removed.message() << "\n";
    return kExitFailed;
  }
  ctx.out << "Channel " << *channel << " removed\n";
  return kExitOk;
}

}  // namespace tarvel::cli
