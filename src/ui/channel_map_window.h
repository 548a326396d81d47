#pragma once
// ui: the channel map window "Channel Installation and Management" (ChannelManagementInterface).
// Binds its widgets to console::ChannelMap; every command runs on the shared command runner.

#include <QMainWindow>

#include "console/channel_map.h"
#include "ui/command_runner.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTableWidget;

namespace tarvel::ui {

class ChannelMapWindow : public QMainWindow, public console::ChannelMapView {
  Q_OBJECT

 public:
  // placementFile keeps where the user leaves the window (empty: not kept).
  explicit ChannelMapWindow(CommandRunner& runner, QWidget* parent = nullptr, QString placementFile = {});
  void Bind(console::ChannelMap& map) { map_ = &map; }
  // "Comm Port" opens this window; coming back from it runs the activation again.
  void SetPortSetupWindow(QWidget* window);

  // --- ChannelMapView: any thread
  void ShowMessages(const std::string& text) override;
  void ShowRows(const std::vector<store::ChannelRow>& rows) override;
  void SetProgress(int done, int total) override;
  void ShowWarning(const std::string& title, const std::string& text) override;
  bool Confirm(const std::string& title, const std::string& text) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Command(std::function<void(console::ChannelMap&)> work);
  void Activate();
  void SetBusy(bool busy);
  void OpenEditor(int row, int column);
  void StoreEdit();
  void HideEditor();
  void BuildMenus();
  QWidget* BuildMap();    // the grid and its buttons
  QWidget* BuildTools();  // the scan, the address change and the messages
  void Connect();

  CommandRunner& runner_;
  console::ChannelMap* map_ = nullptr;
  QString placementFile_;
  bool placed_ = false;
  bool activateOnReturn_ = false;
  bool activating_ = false;  // an activation is queued: another one would repeat its message
  QTableWidget* grid_ = nullptr;
  QLineEdit* editor_ = nullptr;  // FloatingTextBox
  int editChannel_ = 0;
  int editColumn_ = 0;
  QPlainTextEdit* prompt_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QCheckBox* addNew_ = nullptr;
  QCheckBox* removeMissing_ = nullptr;
  QLineEdit* currentAddress_ = nullptr;
  QLineEdit* newAddress_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* addRow_ = nullptr;
  QPushButton* deleteRow_ = nullptr;
  QPushButton* clearMap_ = nullptr;
  QPushButton* scan_ = nullptr;
  QPushButton* change_ = nullptr;
  QAction* commPort_ = nullptr;
  QSplitter* split_ = nullptr;            // the map | the tools
  std::vector<QWidget*> commandWidgets_;  // disabled while any command runs
};

}  // namespace tarvel::ui
