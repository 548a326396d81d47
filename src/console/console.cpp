#include "console/console.h"

#include "console/address_change.h"

#include "util/text.h"

namespace tarvel::console {
namespace {
constexpr const char* kBugReportAddress = "bugs@tarvel.example";  // set by the release
}  // namespace

Console::Console(AppFolder folder, store::ConfigStore& store, link::Line& line, ConsoleView& view, LineInfo lineInfo)
    : context_(std::move(folder), store, line, view, lineInfo),
      selection_(
          context_, [this] { SelectChannel(); }, [this] { memory_.OfferDownload(); }),
      memory_(context_, selection_),
      log_(context_, selection_, memory_),
      monitor_(context_, selection_, memory_, log_),
      settings_(context_, selection_),
      program_(context_, selection_, memory_),
      upload_(context_, selection_, memory_, log_, program_),
      run_(context_, selection_, memory_, log_, monitor_, settings_) {
  monitor_.OnReading([this](std::uint8_t address, const RunStateReading& reading) {
    if (!reading.complete()) return recorder_.Lost();
    const int channel = static_cast<int>(ToWholeNumber(selection_.CurrentChannelText(), 0, 1 << 30).value_or(0));
    recorder_.OnReading(channel, address, reading, monitor_.RecordsRuns());
  });
  recorder_.OnEvent([this](const controller::RecordingEvent& event) { context_.Display(RecordingMessage(event)); });
}

std::string RecordingMessage(const controller::RecordingEvent& event) {
  if (event.kind == controller::RecordingEvent::Kind::Opened) return "Recording run to " + event.file.string();
  return "Run recording: " + event.problem;
}

void Console::Load() {
  selection_.SetStartupComplete(false);
  ConsoleView& view = context_.view;
  view.SetGridLayout(Grid::CompiledProfile, CompiledProfileLayout(4 * 1200));
  view.SetGridRows(Grid::CompiledProfile, {});
  context_.ShowField(Field::StartAddress, "1");
  view.SetSizeButton(Grid::ProgramMemory, memory_.Wide());
  view.SetSizeButton(Grid::ProfileLog, log_.Wide());
  memory_.FormatGrid();
  view.SetMonitoring(false);
  view.SetLed(Led::Idle);
}

void Console::Activate() {
  store::ConfigStore& store = context_.store;
  // An address change whose outcome was never stored is settled before the map is used; what
  // became of it is told last, below what the start-up reads.
  std::vector<std::string> later;
  if (auto pending = store.PendingAddressChanges(); !pending || !pending->empty()) {
    Exchanges exchanges(context_, 2 * static_cast<int>(pending.value_or({}).size()));
    ResolvePendingAddressChanges(store, context_.line, [&later](const std::string& line) { later.push_back(line); });
  }
  selection_.LoadChannelLists();

  if (!context_.lineInfo.configured) {
    int port = store.GetCommPortNumber();
    if (port == -1) {
      commPortNumber_ = 1;
      context_.Display("Click on COMM PORT in the menu and set up a communications port");
      context_.view.ShowWarning("WARNING: No comm port configured",
                                "You need to configure a serial comm port first\r\n"
                                "Use Communications Port Setup before scanning for units");
    } else {
      commPortNumber_ = port;
    }
  }

  // An unreadable database has been reported already; it is not an empty map.
  if (store.ChannelMapIsEmpty().value_or(false)) {
    context_.Display("Click on SETUP > CHANNEL MAP in the menu and set up your controller addresses");
    context_.view.ShowWarning("WARNING: No controller addresses configured",
                              "You need to configure controller addresses first\r\n"
                              "Use Channel Map Setup to scan for units");
  }

  std::string channel;
  if (int stored = store.GetCurrentChannel(); stored == -1) {
    context_.Display("No previous channel selection found. Using default channel = 1");
    context_.Display("Click on CHANNEL MAP in the menu and add a controller");
    channel = "1";
  } else {
    channel = Text(stored);
  }

  // The channel is loaded once, by SelectChannel below; restoring the selection itself
  // loads nothing and stores nothing.
  selection_.SelectIndex(selection_.Current().channels.empty() ? -1 : 0);
  if (int index = selection_.GetItemIndex(Selector::Channel, channel); index != -1) selection_.SelectIndex(index);

  log_.FormatGrid();
  SelectChannel();
  if (Status purged = store.PurgeInvalidRows(); !purged)
    later.push_back("ERROR: Rows without a valid address could not be purged: " + purged.message());
  monitor_.ReadControllerRunMode();
  context_.view.SetProgressionChoices({"SV", "PV"}, 0);
  selection_.SetStartupComplete(true);
  for (const auto& line : later) context_.Display(line);
  memory_.OfferDownload();
}

void Console::SelectChannel() {
  const std::string channel = selection_.CurrentChannelText();
  auto address = selection_.GetModbusAddressOfChannel(channel);
  if (auto number = ToInt16(channel)) {
    if (auto row = context_.store.ChannelByNumber(*number); row.ok() && row->has_value()) {
      selection_.SelectIndex(selection_.GetItemIndex(Selector::Channel, Text((*row)->softwareChannel)));
      context_.ShowField(Field::ControllerType, (*row)->controllerType);
    }
  }
  const int shown = address ? *address : 0;
  // The marks belong to the channel shown before: none of them may survive the change.
  memory_.Show(shown);
  memory_.FormatGrid();
  log_.Show(shown);
  log_.ClearMarks();
  log_.ShowExecutingProfile(shown);
  if (!address) return;  // nothing is sent for a channel that does not resolve
  log_.MarkLogEntryOfProgramLimits();
  monitor_.ReadRunState();
}

void Console::ReadControllerState() {
  Exchanges exchanges(context_, 4 + 9 + 1);
  settings_.ReadControllerSettings();
  monitor_.ReadRunState();
  monitor_.ReadControllerRunMode();
}

void Console::ShowInfo() {
  context_.ClearDisplay();
  context_.Display("Tarvel Version 1.00");
  context_.Display("Contact us to write a version for your temperature controller");
}

void Console::ShowBugReportInfo() {
  context_.ClearDisplay();
  context_.Display("This software is complex and thus we need your help to eliminate errors.");
  context_.Display(std::string("Please send an e-mail with a description of the error to ") + kBugReportAddress);
  context_.Display("It helps if you include a good description of how to recreate the error condition");
}

}  // namespace tarvel::console
