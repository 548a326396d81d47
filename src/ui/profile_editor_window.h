#pragma once
// ui: the profile editor window Profile_Editor. It binds the worksheet grid, menus and message
// area to profile::EditorSession, and shows the worksheet's chart EditChart beside the grid;
// the rules live there, in profile::Worksheet and in profile::ChartModel.

#include <QMainWindow>
#include <QUndoStack>

#include <functional>
#include <memory>

#include "profile/editor_session.h"
#include "util/app_folder.h"

class QAction;
class QActionGroup;
class QLineEdit;
class QPlainTextEdit;
class QSplitter;

namespace tarvel::store {
class SensorMenu;
}

namespace tarvel::ui {

class CellDelegate;
class EditChart;
class WorksheetModel;
class WorksheetView;

// The message area User_Prompt with the worksheet's 1000-character rule.
class PromptArea : public profile::MessageSink {
 public:
  void Attach(QPlainTextEdit* widget) { widget_ = widget; }
  void Clear() override;
  void Display(std::string_view text) override;
  void ClearAndDisplay(std::string_view text);

 private:
  void Show();
  profile::PromptText text_;
  QPlainTextEdit* widget_ = nullptr;
};

enum class FileDialogKind { OpenProfile, SaveProfile, ImportCsv, ExportCsv };
// Asks for a file in a folder; empty when the user cancels. Tests answer without a dialog.
using FileChooser = std::function<QString(FileDialogKind kind, const QString& folder)>;

class ProfileEditorWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit ProfileEditorWindow(const AppFolder& folder, QWidget* parent = nullptr);
  ~ProfileEditorWindow() override;

  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  // The chart of the worksheet, with its log file and plot check boxes.
  EditChart& Chart() { return *chart_; }
  // The worksheet the grid shows; its model signals every change of a cell.
  WorksheetModel& Model() { return *model_; }
  const profile::Worksheet& Sheet() const { return session_->Sheet(); }
  bool IsModified() const;

  // The commands of the menus, callable by the console or a test.
  void New();
  void OpenProfile();
  // Open Profile with a file chosen beforehand (the command line).
  void OpenProfileFile(const QString& file);
  // Save (Ctrl+S): to the profile's own file; SaveAs when it has none yet.
  bool Save();
  bool SaveAs();
  void ImportCsv();
  void ExportCsv();
  void Copy();
  void Paste();
  void ExitEditor();

 signals:
  void beeped();  // a refused key

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildMenus();
  void BuildLayout();
  void BuildSensorMenu(QMenu* menu);
  void ApplySettings(const profile::EditorSettings& settings);
  profile::EditorSettings PlotSelects() const;
  // The chart follows every change of the worksheet and of its scales.
  void RefreshChart();
  // A point picked on the chart: its segment's row becomes current and stands out.
  void MarkRow(int row);
  // Asks to save unsaved changes; false when the user cancels. question leads the box's text.
  bool ConfirmDiscard(const QString& question = {});
  // Before a save that would cut cells to a file's 20 characters: names them, asks; false to stop.
  bool ConfirmCut();
  bool WriteProfile(const std::filesystem::path& file, const std::string& text);
  // A cell a message is about becomes the current one, so the user sees what to mend.
  void SelectCell(int row, int column);
  void ShareOutSplitters();
  void AfterReplace();  // New / Open: a fresh worksheet without undo history
  void UpdateMenus();
  void UpdateTitle();
  void MarkChanged();
  QString ProfilesFolder() const;
  QString Choose(FileDialogKind kind);

  AppFolder folder_;
  PromptArea prompt_;
  std::unique_ptr<store::SensorMenu> sensorMenu_;
  std::unique_ptr<profile::EditorSession> session_;
  QUndoStack undo_;
  bool changedOutsideUndo_ = false;  // scales and sensor travel with the profile
  bool exitConfirmed_ = false;       // Exit Editor asked already: closing asks nothing more
  bool placed_ = false;
  FileChooser chooser_;

  WorksheetModel* model_ = nullptr;
  WorksheetView* grid_ = nullptr;
  CellDelegate* delegate_ = nullptr;
  QLineEdit* profileName_ = nullptr;
  QPlainTextEdit* promptWidget_ = nullptr;
  QSplitter* sheetAndChart_ = nullptr;
  QSplitter* sheetAndPrompt_ = nullptr;
  EditChart* chart_ = nullptr;
  QActionGroup* sensorGroup_ = nullptr;
  QAction* fahrenheit_ = nullptr;
  QAction* celcius_ = nullptr;
  QAction* seconds_ = nullptr;
  QAction* minutes_ = nullptr;
  QAction* hours_ = nullptr;
};

}  // namespace tarvel::ui
