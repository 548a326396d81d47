#include "console/console.h"

#include "util/text.h"

namespace tarvel::console {
namespace {

using link::Outcome;
using link::Worst;

constexpr const char* kBugReportAddress = "bugs@tarvel.example";  // set by the release

std::string Text(int value) { return std::to_string(value); }

// A read-out after a read: the value, or blank when the exchange failed, so a failure is
// never shown as a plausible 0.
template <class T>
std::string Shown(const link::Reply<T>& reply) {
  return reply.ok() ? std::to_string(reply.value) : std::string();
}

}  // namespace

const char* ObjectName(Field field) {
  switch (field) {
    case Field::ControllerType: return "ControllerTypeDisplay";
    case Field::ExecutingProfileName: return "ExecutingProfileNameDisplay";
    case Field::CurrentStep: return "CurrentStepDisplay";
    case Field::CurrentTime: return "CurrentTimeDisplay";
    case Field::ProfileSetPoint: return "ProfileSetPointDisplay";
    case Field::SetPoint: return "SetPointDisplay";
    case Field::ProcessTemperature: return "ProcessTemperatureDisplay";
    case Field::Relay1: return "Relay1StateDisplay";
    case Field::Relay2: return "Relay2StateDisplay";
    case Field::ProgramStepLow: return "ProgramStepLowDisplay";
    case Field::ProgramStepHigh: return "ProgramStepHighDisplay";
    case Field::SingleSetPoint: return "SingleSetPointDisplay";
    case Field::Alarm1Type: return "Alarm1TypeDisplay";
    case Field::Alarm2Type: return "Alarm2TypeDisplay";
    case Field::TemperatureScale: return "TemperatureScaleDisplay";
    case Field::SensorType: return "SensorTypeDisplay";
    case Field::StartAddress: return "StartAddressDisplay";
  }
  return "";
}

// Moves the progress bar with every exchange of one command; nested workflows share the
// outermost command's count.
class Console::Exchanges {
 public:
  Exchanges(Console& console, int expected) : console_(console) {
    if (console_.exchangeDepth_++ > 0) return;
    ConsoleView& view = console_.view_;
    view.SetProgress(0, expected);
    console_.line_.Begin(expected, [&view](int done, int total) { view.SetProgress(done, total); });
  }
  ~Exchanges() {
    if (--console_.exchangeDepth_ == 0) console_.line_.End();
  }
  Exchanges(const Exchanges&) = delete;
  Exchanges& operator=(const Exchanges&) = delete;

 private:
  Console& console_;
};

Console::Console(AppFolder folder, store::ConfigStore& store, link::Line& line, ConsoleView& view, LineInfo lineInfo)
    : folder_(std::move(folder)),
      store_(store),
      line_(line),
      commands_(line_),
      view_(view),
      lineInfo_(lineInfo),
      messages_(view) {}

void Console::FinishExchanges(Outcome outcome, const char* failureMessage) {
  if (outcome == Outcome::Ok) {
    view_.SetLed(Led::Idle);
  } else {
    view_.SetLed(Led::Error);
    Display(failureMessage);
  }
}

// --- start-up, activation and channel selection

void Console::Load() {
  startupComplete_ = false;
  view_.SetGridLayout(Grid::CompiledProfile, CompiledProfileLayout(4 * 1200));
  view_.SetGridRows(Grid::CompiledProfile, {});
  ShowField(Field::StartAddress, "1");
  view_.SetSizeButton(Grid::ProgramMemory, memoryWide_);
  view_.SetSizeButton(Grid::ProfileLog, logWide_);
  FormatProgramMemoryGrid();
  view_.SetMonitoring(false);
  view_.SetLed(Led::Idle);
}

void Console::Activate() {
  LoadChannelLists();

  if (!lineInfo_.configured) {
    int port = store_.GetCommPortNumber();
    if (port == -1) {
      commPortNumber_ = 1;
      Display("Click on COMM PORT in the menu and set up a communications port");
      view_.ShowWarning("WARNING: No comm port configured",
                        "You need to configure a serial comm port first\r\n"
                        "Use Communications Port Setup before scanning for units");
    } else {
      commPortNumber_ = port;
    }
  }

  // An unreadable database has been reported already; it is not an empty map.
  if (store_.ChannelMapIsEmpty().value_or(false)) {
    Display("Click on SETUP > CHANNEL MAP in the menu and set up your controller addresses");
    view_.ShowWarning("WARNING: No controller addresses configured",
                      "You need to configure controller addresses first\r\n"
                      "Use Channel Map Setup to scan for units");
  }

  std::string channel;
  if (int stored = store_.GetCurrentChannel(); stored == -1) {
    Display("No previous channel selection found. Using default channel = 1");
    Display("Click on CHANNEL MAP in the menu and add a controller");
    channel = "1";
  } else {
    channel = Text(stored);
  }

  // The channel is loaded once, by SelectChannel below; restoring the selection itself
  // loads nothing and stores nothing.
  SelectIndex(selectors_.channels.empty() ? -1 : 0);
  if (int index = GetItemIndex(Selector::Channel, channel); index != -1) SelectIndex(index);

  FormatProfileLogGrid();
  SelectChannel();
  store_.PurgeInvalidRows();
  ReadControllerRunMode();
  view_.SetProgressionChoices({"SV", "PV"}, 0);
  startupComplete_ = true;
}

void Console::LoadChannelLists() {
  selectors_ = Selectors{};
  for (const auto& row : store_.Channels().value_or({})) {
    selectors_.channels.push_back(Text(row.softwareChannel));
    selectors_.addresses.push_back(Text(row.modbusAddress));
    selectors_.nickNames.push_back(row.nickName);
  }
  view_.SetSelectors(selectors_);
}

void Console::SelectIndex(int index) {
  if (index >= static_cast<int>(selectors_.channels.size())) index = -1;
  selectors_.channelIndex = selectors_.addressIndex = selectors_.nickNameIndex = index;
  view_.SetSelectors(selectors_);
}

std::string Console::CurrentChannelText() const {
  int i = selectors_.channelIndex;
  return i >= 0 && i < static_cast<int>(selectors_.channels.size()) ? selectors_.channels[i] : std::string();
}

int Console::GetItemIndex(Selector selector, const std::string& item) const {
  const auto& [list, index] =
      selector == Selector::Channel   ? std::pair{&selectors_.channels, selectors_.channelIndex}
      : selector == Selector::Address ? std::pair{&selectors_.addresses, selectors_.addressIndex}
                                      : std::pair{&selectors_.nickNames, selectors_.nickNameIndex};
  if (index < 0 || index >= static_cast<int>(list->size()) || (*list)[index].empty()) return -1;
  for (std::size_t i = 0; i < list->size(); ++i)
    if ((*list)[i] == item) return static_cast<int>(i);
  return 0;
}

std::optional<std::uint8_t> Console::GetModbusAddressOfChannel(const std::string& channelText) {
  if (auto channel = ToInt16(channelText)) {
    auto row = store_.ChannelByNumber(*channel);
    // Address 0 is broadcast and above 247 is no slave: such a row resolves to nothing.
    if (row.ok() && row->has_value() && (*row)->modbusAddress >= 1 && (*row)->modbusAddress <= 247)
      return static_cast<std::uint8_t>((*row)->modbusAddress);
  }
  Display(kAddressLookupError);
  return std::nullopt;
}

std::optional<std::uint8_t> Console::CurrentAddress() { return GetModbusAddressOfChannel(CurrentChannelText()); }

void Console::SelectChannel() {
  const std::string channel = CurrentChannelText();
  auto address = GetModbusAddressOfChannel(channel);
  if (auto number = ToInt16(channel)) {
    if (auto row = store_.ChannelByNumber(*number); row.ok() && row->has_value()) {
      SelectIndex(GetItemIndex(Selector::Channel, Text((*row)->softwareChannel)));
      ShowField(Field::ControllerType, (*row)->controllerType);
    }
  }
  const int shown = address ? *address : 0;
  ShowProgramMemory(shown);
  FormatProgramMemoryGrid();
  ShowProfileLog(shown);
  ShowExecutingProfile(shown);
  if (!address) return;  // nothing is sent for a channel that does not resolve
  MarkLogEntryOfProgramLimits();
  ReadRunState();
}

void Console::ChooseChannel(int index) {
  SelectIndex(index);
  if (!startupComplete_) return;
  SelectChannel();
  const std::string channel = CurrentChannelText();
  if (auto number = ToInt16(channel)) store_.SaveCurrentChannel(*number);
  ClearDisplay();
  Display("Software channel set = " + channel);
}

void Console::ChooseAddress(int index) {
  if (index < 0 || index >= static_cast<int>(selectors_.addresses.size())) return;
  selectors_.addressIndex = index;
  auto address = ToInt16(selectors_.addresses[index]);
  auto row = address ? store_.ChannelByAddress(*address) : Result<std::optional<store::ChannelRow>>(std::nullopt);
  if (!row.ok() || !row->has_value()) return;
  ShowField(Field::ControllerType, (*row)->controllerType);
  int i = GetItemIndex(Selector::Address, Text((*row)->modbusAddress));
  if (i != selectors_.channelIndex)
    ChooseChannel(i);
  else
    SelectIndex(i);
}

void Console::ChooseNickName(int index) {
  if (index < 0 || index >= static_cast<int>(selectors_.nickNames.size())) return;
  selectors_.nickNameIndex = index;
  auto row = store_.ChannelByNickName(selectors_.nickNames[index]);
  if (!row.ok() || !row->has_value()) return;
  ShowField(Field::ControllerType, (*row)->controllerType);
  int i = GetItemIndex(Selector::NickName, (*row)->nickName);
  if (i != selectors_.channelIndex)
    ChooseChannel(i);
  else
    SelectIndex(i);
}

// --- program memory grid and profile log grid

void Console::ShowProgramMemory(int address) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& m : store_.Memory(address).value_or({}))
    rows.push_back({"", Text(m.modbusAddress), Text(m.segment), Text(m.duration), Text(m.temperature),
                    Text(m.pidSet), Text(m.modified)});
  view_.SetGridRows(Grid::ProgramMemory, rows);
  memoryMarks_.Resize(static_cast<int>(rows.size()));
  PushMarks(Grid::ProgramMemory);
}

void Console::ShowProfileLog(int address) {
  logRows_ = store_.Log(address).value_or({});
  std::vector<std::vector<std::string>> rows;
  for (const auto& l : logRows_)
    rows.push_back({"", Text(l.modbusAddress), l.profileName, Text(l.start), Text(l.stop), l.sensorType,
                    l.temperatureScaleType, l.timeScaleType, l.progressionType});
  view_.SetGridRows(Grid::ProfileLog, rows);
  if (logMarks_.Rows() != static_cast<int>(rows.size())) logMarks_.Resize(static_cast<int>(rows.size()));
  PushMarks(Grid::ProfileLog);
}

void Console::ShowExecutingProfile(int address) {
  auto row = store_.ControllerConfig(address);
  ShowField(Field::ExecutingProfileName,
            row.ok() && row->has_value() ? (*row)->profileNameExecuting : std::string());
}

void Console::PushMarks(Grid grid) { view_.SetRowMarks(grid, Marks(grid).All()); }

void Console::FormatProgramMemoryGrid() { view_.SetGridLayout(Grid::ProgramMemory, ProgramMemoryLayout(memoryWide_)); }

void Console::FormatProfileLogGrid() {
  if (!logRows_.empty()) ShowProfileLog(logRows_.front().modbusAddress);
  view_.SetGridLayout(Grid::ProfileLog, ProfileLogLayout(logWide_));
}

void Console::ToggleProgramMemorySize() {
  memoryWide_ = !memoryWide_;
  view_.SetSizeButton(Grid::ProgramMemory, memoryWide_);
  FormatProgramMemoryGrid();
}

void Console::ToggleProfileLogSize() {
  logWide_ = !logWide_;
  view_.SetSizeButton(Grid::ProfileLog, logWide_);
  FormatProfileLogGrid();
}

void Console::HighlightGridRows(Grid grid, int first, int count, RowMark mark, bool clearFirst) {
  (grid == Grid::ProfileLog ? logMarks_ : memoryMarks_).Highlight(first, count, mark, clearFirst);
  PushMarks(grid);
}

void Console::HighlightProgramRange(int startStep, int stepCount) {
  HighlightGridRows(Grid::ProgramMemory, startStep, stepCount, RowMark::ProgramRange, true);
}

void Console::HighlightCurrentStep(int step) {
  HighlightGridRows(Grid::ProgramMemory, step, 1, RowMark::CurrentStep, true);
}

bool Console::MarkLogEntryOfProgramLimits() {
  auto address = CurrentAddress();
  if (!address) return false;
  auto rows = store_.Log(*address).value_or({});
  if (rows.empty()) return false;

  Exchanges exchanges(*this, 2);
  view_.SetLed(Led::Busy);
  auto low = commands_.ReadProgramLowStep(*address);
  auto high = commands_.ReadProgramHighStep(*address);
  if (!low.ok() || !high.ok()) {
    // Unknown limits match nothing; saying so beats a mismatch warning about limits never read.
    FinishExchanges(Worst(low.outcome, high.outcome), kCommsError);
    return false;
  }
  view_.SetLed(Led::Idle);
  programLowStep_ = low.value;
  programHighStep_ = high.value;
  ShowField(Field::ProgramStepLow, Text(programLowStep_));
  ShowField(Field::ProgramStepHigh, Text(programHighStep_));

  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].start == programLowStep_ && rows[i].stop == programHighStep_) {
      const int row = static_cast<int>(i) + 1;
      HighlightGridRows(Grid::ProfileLog, row, 1, RowMark::LogEntry, true);
      view_.SetCurrentRow(Grid::ProfileLog, row);
      SaveRunSelection(*address, rows[i].profileName, rows[i].start, rows[i].stop);
      return true;
    }
  }
  std::string text = "Program Limits: " + Text(programLowStep_) + " - " + Text(programHighStep_);
  if (programLowStep_ == 0 && programHighStep_ == 0) text += " indicate communications problem";
  view_.ShowWarning("Physical settings do not match any in the Profile Log", text);
  Display("WARNING: Controller physical settings do not match any in Profile Log");
  Display("Use SELECT PROFILE button to select a profile and change physical settings in Controller");
  return false;
}

void Console::SelectLogRow(int row) {
  if (row < 1 || row > static_cast<int>(logRows_.size())) return;
  HighlightGridRows(Grid::ProfileLog, row, 1, RowMark::LogEntry, true);
  const auto& entry = logRows_[row - 1];
  HighlightProgramRange(entry.start, entry.stop - entry.start + 1);
  view_.ScrollTo(Grid::ProgramMemory, entry.start);
}

void Console::SaveRunSelection(std::uint8_t address, const std::string& profileName, int lowStep, int highStep) {
  store_.SaveRunSelection(address, profileName, lowStep, highStep);
  ShowExecutingProfile(address);
}

// --- run-state monitoring

void Console::ReadRunState() {
  auto address = CurrentAddress();
  if (!address) return;
  ClearDisplay();
  Exchanges exchanges(*this, 9);
  view_.SetLed(Led::Busy);

  auto low = commands_.ReadProgramLowStep(*address);
  if (low.ok()) programLowStep_ = low.value;
  ShowField(Field::ProgramStepLow, Shown(low));
  auto high = commands_.ReadProgramHighStep(*address);
  if (high.ok()) programHighStep_ = high.value;
  ShowField(Field::ProgramStepHigh, Shown(high));
  auto step = commands_.ReadCurrentStep(*address);
  ShowField(Field::CurrentStep, Shown(step));
  if (low.ok() && high.ok()) HighlightProgramRange(programLowStep_, programHighStep_ - programLowStep_ + 1);

  // Reads the run mode (emptying the message area first, as a reading of its own would).
  ClearDisplay();
  view_.SetLed(Led::Busy);
  auto mode = commands_.ReadRunMode(*address);
  if (mode.ok()) SetSelectedRunMode(mode.value);

  auto stepTime = commands_.ReadStepTime(*address);
  ShowField(Field::CurrentTime, Shown(stepTime));
  auto profileSetPoint = commands_.ReadProfileSetPoint(*address);
  ShowField(Field::ProfileSetPoint, Shown(profileSetPoint));
  auto processValue = commands_.ReadProcessValue(*address);
  if (*address <= link::kProcessValueTableSize) {
    auto entry = commands_.ProcessValue(*address);
    ShowField(Field::ProcessTemperature, processValue.ok() && entry ? Text(*entry) : std::string());
  }
  auto singleSetPoint = commands_.ReadSingleSetPoint(*address);
  ShowField(Field::SingleSetPoint, Shown(singleSetPoint));
  auto relays = commands_.ReadRelayStates(*address);
  ShowField(Field::Relay1, relays.ok() ? (relays.value.relay1 == 1 ? "on" : "off") : "");
  ShowField(Field::Relay2, relays.ok() ? (relays.value.relay2 == 1 ? "on" : "off") : "");

  ShowField(Field::SetPoint, selectedRunMode_ == 0 ? Shown(singleSetPoint) : Shown(profileSetPoint));
  if (selectedRunMode_ != 0 && step.ok()) HighlightCurrentStep(step.value);

  Outcome all = Outcome::Ok;
  for (Outcome o : {low.outcome, high.outcome, step.outcome, mode.outcome, stepTime.outcome, profileSetPoint.outcome,
                    processValue.outcome, singleSetPoint.outcome, relays.outcome})
    all = Worst(all, o);
  // A reading with a failed exchange is no restart point: the stored run state stays as it was.
  if (all == Outcome::Ok) {
    store_.SaveRunState(*address, selectedRunMode_, step.value, stepTime.value);
    ShowExecutingProfile(*address);
  }
  FinishExchanges(all, kCommsError);
}

void Console::ReadControllerRunMode() {
  auto address = CurrentAddress();
  if (!address) return;
  ClearDisplay();
  Exchanges exchanges(*this, 1);
  view_.SetLed(Led::Busy);
  auto mode = commands_.ReadRunMode(*address);
  if (mode.ok()) SetSelectedRunMode(mode.value);
  FinishExchanges(mode.outcome, kCommsError);
}

void Console::ReadControllerState() {
  Exchanges exchanges(*this, 4 + 9 + 1);
  ReadControllerSettings();
  ReadRunState();
  ReadControllerRunMode();
}

void Console::SetSelectedRunMode(int code) {
  selectedRunMode_ = code;
  view_.SetProgramMode(code >= 0 && code <= 4 ? code : -1);
}

void Console::SetMonitoring(bool on) {
  monitoring_ = on;
  view_.SetMonitoring(on);
  if (on)
    ReadRunState();
  else
    HighlightProgramRange(programLowStep_, programHighStep_ - programLowStep_ + 1);
}

// --- controller settings, single set point, auto-tune

void Console::ReadControllerSettings() {
  auto address = CurrentAddress();
  if (!address) return;
  ClearDisplay();
  Exchanges exchanges(*this, 4);
  view_.SetLed(Led::Busy);
  auto input = commands_.ReadInputType(*address);
  ShowField(Field::SensorType, input.ok() ? GetSensorCaption(input.value) : std::string());
  auto alarm1 = commands_.ReadAlarm1Type(*address);
  ShowField(Field::Alarm1Type, Shown(alarm1));
  auto alarm2 = commands_.ReadAlarm2Type(*address);
  ShowField(Field::Alarm2Type, Shown(alarm2));
  auto scale = commands_.ReadTemperatureScale(*address);
  ShowField(Field::TemperatureScale, scale.ok() ? std::string(1, scale.value) : std::string());
  FinishExchanges(Worst(Worst(input.outcome, alarm1.outcome), Worst(alarm2.outcome, scale.outcome)), kCommsError);
}

void Console::WriteSettings(const SettingsInput& input) {
  auto address = CurrentAddress();
  if (!address) return;
  ClearDisplay();
  // Both alarm types are checked before anything is sent: a half-written setting helps no one.
  auto alarm1 = ToWholeNumber(input.alarm1Type, 0, 255);
  auto alarm2 = ToWholeNumber(input.alarm2Type, 0, 255);
  if (!alarm1 || !alarm2) {
    Display(std::string("ERROR: Alarm ") + (!alarm1 ? "1" : "2") + " type must be a whole number from 0 to 255");
    return;
  }
  Exchanges exchanges(*this, 3);
  view_.SetLed(Led::Busy);
  Outcome all = Outcome::Ok;
  if (input.temperatureScale == "C") all = Worst(all, commands_.WriteTemperatureScale(*address, 0));
  if (input.temperatureScale == "F") all = Worst(all, commands_.WriteTemperatureScale(*address, 1));
  all = Worst(all, commands_.WriteAlarmType(*address, 1, static_cast<std::uint8_t>(*alarm1)));
  all = Worst(all, commands_.WriteAlarmType(*address, 2, static_cast<std::uint8_t>(*alarm2)));
  FinishExchanges(all, kCommsError);
}

void Console::WriteSingleSetPoint(const std::string& text) {
  if (!IsNumber(text)) {
    Display("ERROR:Set point entered is not a number");
    return;
  }
  auto value = ToInt16(text);
  if (!value) {
    Display("ERROR:Set point entered is out of range");
    return;
  }
  auto address = CurrentAddress();
  if (!address) return;
  Exchanges exchanges(*this, 2);
  view_.SetLed(Led::Busy);
  if (commands_.WriteSetValue(*address, *value) == Outcome::Ok) {
    view_.SetLed(Led::Idle);
    Display("Thermostat mode set. Single set point temperature entered");
  } else {
    view_.SetLed(Led::Error);
    Display(kCommError);
  }
}

void Console::AutoTune(bool on) {
  auto address = CurrentAddress();
  if (!address) return;
  ClearDisplay();
  Display(on ? "Turning Auto Tune on" : "Turning Auto Tune off");
  Exchanges exchanges(*this, 1);
  view_.SetLed(Led::Busy);
  FinishExchanges(on ? commands_.AutoTuneOn(*address) : commands_.AutoTuneOff(*address), kCommsError);
}

std::string Console::GetSensorCaption(int index) {
  store::SensorMenu menu(folder_.SensorMenuDatabase());
  auto row = menu.ByIndex(index);
  return row.ok() && row->has_value() ? (*row)->caption : Text(index);
}

int Console::GetSensorIndex(const std::string& caption) {
  store::SensorMenu menu(folder_.SensorMenuDatabase());
  auto row = menu.ByCaption(caption);
  return row.ok() && row->has_value() ? (*row)->index : -1;
}

// --- about

void Console::ShowInfo() {
  ClearDisplay();
  Display("Tarvel Version 1.00");
  Display("Contact us to write a version for your temperature controller");
}

void Console::ShowBugReportInfo() {
  ClearDisplay();
  Display("This software is complex and thus we need your help to eliminate errors.");
  Display(std::string("Please send an e-mail with a description of the error to ") + kBugReportAddress);
  Display("It helps if you include a good description of how to recreate the error condition");
}

}  // namespace tarvel::console
