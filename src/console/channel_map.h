#pragma once
// console: the channel map window "Channel Installation and Management" -- the editable
// channel map, the line scan for controllers and the change of a controller's address.
// Qt-free: it speaks to a ChannelMapView. Depends on link, store and util.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/message_lines.h"
#include "controller/address_change.h"
#include "link/line_scan.h"
#include "link/modbus_rtu_line.h"
#include "store/config_store.h"
#include "util/app_folder.h"

namespace tarvel::console {

inline constexpr int kScanFirst = 1;
inline constexpr int kScanLast = 64;
inline constexpr int kLastMappedAddress = 64;  // the addresses the map holds: 1..64
inline constexpr int kLastChannel = 32767;     // a channel is any 16-bit number of the user's from 1
inline constexpr int kLastAddress = 247;       // the highest a unit can answer at before it is moved

class ChannelMapView {
 public:
  virtual ~ChannelMapView() = default;
  virtual void ShowMessages(const std::string& text) = 0;                 // DBInterfaceDisplay, the whole text
  virtual void ShowRows(const std::vector<store::ChannelRow>& rows) = 0;  // fgChannelMap, ordered by channel
  virtual void SetProgress(int done, int total) = 0;
  virtual void ShowWarning(const std::string& title, const std::string& text) = 0;  // OK only
  virtual bool Confirm(const std::string& title, const std::string& text) = 0;      // OK / Cancel
};

// What the floating editor does after Enter.
enum class EditOutcome { Saved, Refused, KeepEditing };

struct ScanChoice {
  bool addNew = false;         // "Add New": map the units found that the map lacks
  bool removeMissing = false;  // "Remove Missing": unmap the mapped addresses where nothing answers
};

class ChannelMap {
 public:
  ChannelMap(AppFolder folder, store::ConfigStore& store, link::ModbusRtuLine& line, ChannelMapView& view);

  MessageLines& Messages() { return messages_; }

  // Each time the window becomes active: the grid, then the port check.
  void Activate();
  void RefreshChannelMapGrid();

  // A click on a cell; then Enter in the editor stores its text in that field of the row
  // of softwareChannel.
  void BeginEdit();
  EditOutcome StoreEdit(int softwareChannel, store::ChannelField field, const std::string& text);
  void DeleteRow(int softwareChannel);  // asks first
  void ClearMap();                      // asks first
  // "Add Row": the next free channel at the lowest free address, "Default" nickname, set64rs,
  // with its memory rows and log folder. False when all 64 addresses are mapped.
  bool AddRow();

  // "Scan Addresses": probes 1..64 and reports each.
  link::ScanResult ScanAddresses(ScanChoice choice);
  // Scans and address changes go through served and probe (the line service that owns the
  // port, with its short window) instead of the own line.
  void Through(link::Line& served, controller::ProbeAt probe) {
    served_ = &served;
    probe_ = std::move(probe);
  }
  // From any thread: the scan stops before its next address.
  void CancelScan() { cancel_ = true; }
  // Adds channel -> address with its memory rows and its LogFiles/Channel-NN folder.
  bool AddChannelMapEntry(int channel, int address);

  // "Change Address": the texts of CurrentAddressDisplay and NewAddressDisplay. The change is
  // recorded before the unit is asked; the database follows once the unit answers at the new
  // address. True when the unit and the database both took it.
  bool ChangeAddress(const std::string& currentText, const std::string& newText);
  // Settles the address changes recorded and not resolved by asking both addresses (also at
  // each activation while the line is open).
  void ResolvePendingAddressChanges();

  // "Open Menu File": the grid shows the channel map of the configuration database file, which
  // is only read; every other command keeps to the console's own database. The own file shows
  // the own map again.
  void OpenChannelMapDatabase(const std::filesystem::path& file);
  const AppFolder& Folder() const { return folder_; }

 private:
  void Display(const std::string& text) { messages_.Display(text); }
  bool IsAddressInChannelMap(int address);
  bool EnsureLineOpen();
  // A channel for a new row: the highest + 1 while that is a channel, else the lowest free one.
  std::optional<int> NextFreeChannel();

  AppFolder folder_;
  store::ConfigStore& store_;
  link::ModbusRtuLine& line_;
  ChannelMapView& view_;
  MessageLines messages_;
  std::atomic<bool> cancel_{false};
  link::Line* served_ = nullptr;
  controller::ProbeAt probe_;
  std::unique_ptr<store::ConfigStore> shown_;  // the database the grid shows, when not the own
};

}  // namespace tarvel::console
