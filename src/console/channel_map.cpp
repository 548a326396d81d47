#include "console/channel_map.h"

#include <cmath>
#include <filesystem>

#include "console/address_change.h"
#include "link/commands.h"
#include "util/text.h"

namespace tarvel::console {
namespace {

using link::Outcome;

const std::string kRangeError =
    "Error: Modbus address must be in the range from 1 and " + std::to_string(kLastMappedAddress);

// Why a channel or address text is not a whole number from 1 to last; nothing when it is one.
std::optional<std::string> NumberProblem(const std::string& text, const std::string& what, int last,
                                         const std::string& range) {
  auto number = ParseNumber(text);
  if (!number) return "Error: " + what + " must be a number";
  if (*number != std::floor(*number)) return "Error: " + what + " must be a whole number";
  if (*number < 1 || *number > last) return range;
  return std::nullopt;
}

std::optional<std::string> AddressProblem(const std::string& text) {
  return NumberProblem(text, "ModBus address", kLastMappedAddress, kRangeError);
}

// A channel is a number the user chooses: any 16-bit one from 1.
std::optional<std::string> ChannelProblem(const std::string& text) {
  return NumberProblem(text, "SoftwareChannel", kLastChannel,
                       "Error: SoftwareChannel must be in the range from 1 and " + std::to_string(kLastChannel));
}

}  // namespace

ChannelMap::ChannelMap(AppFolder folder, store::ConfigStore& store, link::ModbusRtuLine& line, ChannelMapView& view)
    : folder_(std::move(folder)), store_(store), line_(line), view_(view), messages_([&view](const std::string& text) {
        view.ShowMessages(text);
      }) {}

void ChannelMap::OpenChannelMapDatabase(const std::filesystem::path& file) {
  if (file.empty()) return;  // the dialog was cancelled
  messages_.ClearDisplay();
  Display("Opening Channel Map database");
  std::error_code ec;
  if (std::filesystem::equivalent(file, store_.File(), ec)) {
    shown_.reset();
  } else {
    shown_ =
        std::make_unique<store::ConfigStore>(file, store::kDefaultBusyTimeout, store::ConfigStore::Access::ReadOnly);
    if (!shown_->OpenStatus().ok()) Display(shown_->OpenStatus().message());
  }
  RefreshChannelMapGrid();
}

void ChannelMap::RefreshChannelMapGrid() {
  auto rows = (shown_ ? *shown_ : store_).Channels();
  if (!rows) Display(rows.status().message());
  view_.ShowRows(rows.value_or({}));
}

void ChannelMap::ResolvePendingAddressChanges() {
  auto pending = store_.PendingAddressChanges();
  if (pending.ok() && pending->empty()) return;
  console::ResolvePendingAddressChanges(store_, served_ ? *served_ : line_,
                                        [this](const std::string& text) { Display(text); });
  RefreshChannelMapGrid();
}

void ChannelMap::Activate() {
  RefreshChannelMapGrid();
  if (served_ || line_.IsOpen()) ResolvePendingAddressChanges();
  if (store_.GetCommPortNumber() != -1) {
    Display("Serial Port configuration retrieved from database");
  } else if (line_.IsOpen()) {
    // A line given on the command line (or the simulated one) needs no stored port.
    Display("Serial link on " + line_.DevicePath());
  } else {
    view_.ShowWarning("WARNING: No comm port configured",
                      "You need to configure a serial comm port first\r\n"
                      "Use Communications Port Setup before scanning for units");
    Display("Click on COMM PORT in the menu and set up a communications port");
  }
}

bool ChannelMap::IsAddressInChannelMap(int address) {
  auto row = store_.ChannelByAddress(address);
  return row.ok() && row->has_value();
}

void ChannelMap::BeginEdit() {
  messages_.ClearDisplay();
  Display("Hit ENTER to update field");
}

EditOutcome ChannelMap::StoreEdit(int softwareChannel, store::ChannelField field, const std::string& text) {
  // A blank port is the console's own port: the one field that may be left empty.
  if (text.empty() && field != store::ChannelField::Port) {
    Display("Do not leave fields blank");
    return EditOutcome::Refused;
  }
  // A channel or address outside 1..64, or not whole, would be stored as another number or leave
  // a channel no scan finds: the editor stays open with the reason.
  std::optional<std::string> problem;
  if (field == store::ChannelField::ModBusAddress) problem = AddressProblem(text);
  if (field == store::ChannelField::SoftwareChannel) problem = ChannelProblem(text);
  if (problem) {
    Display(*problem);
    return EditOutcome::KeepEditing;
  }
  Status saved = store_.SetChannelField(softwareChannel, field, text);
  switch (saved.code()) {
    case Status::Code::Ok: RefreshChannelMapGrid(); return EditOutcome::Saved;
    case Status::Code::Invalid: Display(saved.message()); return EditOutcome::KeepEditing;
    case Status::Code::Duplicate: Display("Duplicate entries not allowed in the channel map"); break;
    default:
      Display(saved.message());
      RefreshChannelMapGrid();
      break;
  }
  return EditOutcome::Refused;
}

void ChannelMap::DeleteRow(int softwareChannel) {
  auto row = store_.ChannelByNumber(softwareChannel);
  if (row.ok() && row->has_value()) {
    const store::ChannelRow& r = **row;
    if (!view_.Confirm("Delete Row", "Delete channel " + std::to_string(r.softwareChannel) +
                                         " (ModBusAddress=" + std::to_string(r.modbusAddress) + ", " + r.nickName +
                                         ") from the channel map?"))
      return;
  }
  if (Status deleted = store_.DeleteChannel(softwareChannel); !deleted && deleted.code() != Status::Code::NotFound)
    Display(deleted.message());
  RefreshChannelMapGrid();
}

void ChannelMap::ClearMap() {
  if (!view_.Confirm("Clear Channel Map", "WARNING: This will wipe out all entries. Proceed?")) return;
  if (!store_.ClearChannelMap()) Display("RecordSet error");
  RefreshChannelMapGrid();
}

std::optional<int> ChannelMap::NextFreeChannel() {
  const int highest = store_.HighestSoftwareChannel().value_or(0);
  if (highest < kLastChannel) return highest + 1;
  for (int channel = 1; channel <= kLastChannel; ++channel) {
    auto row = store_.ChannelByNumber(channel);
    if (row.ok() && !row->has_value()) return channel;
  }
  return std::nullopt;
}

bool ChannelMap::AddRow() {
  int address = 1;
  while (address <= kLastMappedAddress && IsAddressInChannelMap(address)) ++address;
  auto channel = NextFreeChannel();
  if (address > kLastMappedAddress || !channel) {
    Display("Every ModBus address from 1 to " + std::to_string(kLastMappedAddress) +
            " is in the channel map: no row added");
    return false;
  }
  if (!AddChannelMapEntry(*channel, address)) return false;
  RefreshChannelMapGrid();
  Display("Channel " + std::to_string(*channel) + " added at ModBusAddress=" + std::to_string(address) +
          ": edit its cells to match your controller");
  return true;
}

bool ChannelMap::AddChannelMapEntry(int channel, int address) {
  store::ChannelRow row{channel, address, "Default" + std::to_string(channel), "set64rs"};
  if (Status added = store_.AddScannedChannel(row); !added) {
    Display(added.message());
    return false;
  }
  if (Status purged = store_.PurgeInvalidRows(); !purged)
    Display("Error: rows without a valid address could not be purged: " + purged.message());
  const std::filesystem::path folder = folder_.ChannelLogFolder(channel);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) Display("Error: the folder " + folder.string() + " could not be created: " + ec.message());
  return true;
}

bool ChannelMap::EnsureLineOpen() {
  if (line_.IsOpen()) return true;
  Display("No serial port is open: click on COMM PORT in the menu and choose one");
  return false;
}

link::ScanResult ChannelMap::ScanAddresses(ScanChoice choice) {
  cancel_ = false;
  messages_.ClearDisplay();
  if (!probe_ && !EnsureLineOpen()) return {};
  int found = 0;
  std::string list;
  const int total = kScanLast - kScanFirst + 1;
  view_.SetProgress(0, total);

  auto onProbe = [&](const link::Probe& probe) {
    const int address = probe.address;
    const std::string unit = "Unit #" + std::to_string(address);
    if (!probe.present()) {
      // Something answered, garbled: a technician wants that told apart from silence, and
      // such a unit is not removed from the map.
      if (probe.outcome != Outcome::NoReply) {
        Display(unit + " Not Found (" + std::string(link::Describe(probe.outcome)) + ")");
      } else {
        Display(unit + " Not Found");
        if (choice.removeMissing && IsAddressInChannelMap(address)) {
          if (Status removed = store_.DeleteChannelByAddress(address); !removed)
            Display("Error: ModBus address " + std::to_string(address) +
                    " could not be removed from the Channel Map: " + removed.message());
          RefreshChannelMapGrid();
        }
      }
    } else {
      ++found;
      list += " " + std::to_string(address);
      std::string note;
      if (IsAddressInChannelMap(address)) {
        note = "Modbus address already in the Channel Map";
      } else if (choice.addNew) {
        auto channel = NextFreeChannel();
        note = channel && AddChannelMapEntry(*channel, address)
                   ? "ModBus address added to Channel Map"
                   : "ModBus address could not be added to the Channel Map";
        RefreshChannelMapGrid();
      } else {
        note = "Modbus address not in the Channel Map";
      }
      Display(unit + " Detected : " + note);
    }
    view_.SetProgress(address - kScanFirst + 1, total);
  };

  link::ScanResult result = probe_ ? link::ScanLine(probe_, kScanFirst, kScanLast, onProbe, &cancel_)
                                   : link::ScanLine(line_, kScanFirst, kScanLast, onProbe, &cancel_);
  if (result.portFailure != Outcome::Ok) {
    Display("Scan stopped at unit #" + std::to_string(kScanFirst + result.probes.size()) + ": " +
            std::string(link::Describe(result.portFailure)));
  } else {
    Display(result.cancelled ? "Scan cancelled" : "Scan finished");
  }
  Display(std::to_string(found) + " Found");
  Display("Following ModBus Addresses Detected: " + list);
  return result;
}

bool ChannelMap::ChangeAddress(const std::string& currentText, const std::string& newText) {
  if (!IsNumber(currentText)) {
    Display("Error: Controller address targeted for change is not a valid number");
    return false;
  }
  if (!IsNumber(newText)) {
    Display("Error: ModBus address must be a number");
    return false;
  }
  // Address 0 is every unit at once and above 247 is no unit: neither is ever sent. A new address
  // past 64 would leave the unit where no scan finds it.
  if (auto problem = AddressProblem(newText)) {
    Display(*problem);
    return false;
  }
  if (!ToWholeNumber(currentText, 1, kLastAddress) ||
      *ParseNumber(currentText) != std::floor(*ParseNumber(currentText))) {
    Display("Error: Controller address targeted for change must be in the range from 1 and " +
            std::to_string(kLastAddress));
    return false;
  }
  const int current = *ToInt16(currentText);
  const int next = *ToInt16(newText);
  if (IsAddressInChannelMap(next)) {
    Display("Target address is already in the channel map");
    Display("Choose a different target address or delete entry with ModBusAddress=" + std::to_string(next));
    return false;
  }
  if (!probe_ && !EnsureLineOpen()) return false;

  const controller::AddressChange change = probe_ ? controller::ChangeAddress(store_, *served_, probe_, current, next)
                                                  : controller::ChangeAddress(store_, line_, current, next);
  switch (change.stop) {
    case controller::ChangeStop::LineCannotTell:
      Display("Error: " + std::string(link::Describe(change.probe)));
      return false;
    case controller::ChangeStop::TargetTaken:
      Display("Target address is already used by a unit on the line");
      Display("Choose a different target address");
      return false;
    case controller::ChangeStop::NotRecorded:
      Display("Error: the address change could not be recorded: " + change.refusal);
      Display("Nothing was sent to the unit");
      return false;
    case controller::ChangeStop::None: break;
  }
  Display(change.Taken() ? "Unit at " + currentText + " set to new address at " + newText
                         : "Error: Cound not set unit at " + currentText + " to new address " + newText);
  SayResolution(change.resolution, current, next, [this](const std::string& text) { Display(text); });
  RefreshChannelMapGrid();
  return change.resolution.fate == controller::AddressFate::Moved;
}

}  // namespace tarvel::console
