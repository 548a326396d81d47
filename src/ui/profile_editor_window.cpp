#include "ui/profile_editor_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>

#include <fstream>
#include <utility>

#include "console/sensor_range.h"
#include "profile/worksheet_csv.h"
#include "store/config_store.h"
#include "ui/edit_chart.h"
#include "ui/profile_editor_grid.h"
#include "ui/profile_editor_model.h"
#include "ui/profile_editor_settings.h"
#include "ui/window_placement.h"

namespace tarvel::ui {
namespace {

constexpr const char* kTitle = "Profile Editor";
constexpr const char* kExitQuestion = "Verify profile saved?";
constexpr std::size_t kMaxCsvBytes = 1 << 20;  // a worksheet is a few kilobytes

std::vector<profile::SensorEntry> SensorEntries(store::SensorMenu& menu) {
  std::vector<profile::SensorEntry> entries;
  if (auto rows = menu.All(); rows.ok())
    for (const auto& row : *rows) entries.push_back({row.index, row.caption});
  return entries;
}

QString DefaultChooser(FileDialogKind kind, const QString& folder) {
  const bool csv = kind == FileDialogKind::ImportCsv || kind == FileDialogKind::ExportCsv;
  const bool save = kind == FileDialogKind::SaveProfile || kind == FileDialogKind::ExportCsv;
  QFileDialog dialog(QApplication::activeWindow(), save ? "Save" : "Open", folder,
                     csv ? "Worksheet CSV (*.csv)" : "Temperature Profile  (*.txt)");
  dialog.setObjectName("CommonDialogEditor");
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(csv ? "csv" : "txt");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

std::string Latin1(const QString& text) { return CellBytes(text); }

}  // namespace

void PromptArea::Clear() {
  text_.Clear();
  Show();
}

void PromptArea::Display(std::string_view text) {
  text_.Display(text);
  Show();
}

void PromptArea::ClearAndDisplay(std::string_view text) {
  text_.ClearAndDisplay(text);
  Show();
}

void PromptArea::Show() {
  if (!widget_) return;
  QString shown = CellText(text_.Text());
  shown.replace("\r\n", "\n");
  widget_->setPlainText(shown);
  widget_->verticalScrollBar()->setValue(widget_->verticalScrollBar()->maximum());
}

ProfileEditorWindow::ProfileEditorWindow(const AppFolder& folder, QWidget* parent)
    : QMainWindow(parent), folder_(folder), chooser_(DefaultChooser) {
  setObjectName("Profile_Editor");
  setAttribute(Qt::WA_DeleteOnClose, false);
  sensorMenu_ = std::make_unique<store::SensorMenu>(folder_.SensorMenuDatabase());
  auto lookup = [menu = sensorMenu_.get()](std::string_view caption, profile::TemperatureScale scale) {
    return console::SensorRange(*menu, caption, scale);
  };
  session_ = std::make_unique<profile::EditorSession>(SensorEntries(*sensorMenu_), lookup, prompt_);
  model_ = new WorksheetModel(*session_, prompt_, undo_, this);
  BuildLayout();
  BuildMenus();

  connect(delegate_, &CellDelegate::beep, this, [this] {
    QApplication::beep();
    emit beeped();
  });
  connect(delegate_, &CellDelegate::keyAccepted, this, [this] { prompt_.Clear(); });
  connect(delegate_, &CellDelegate::moveRequested, grid_, &WorksheetView::MoveBy);
  connect(grid_, &WorksheetView::notEditable, this,
          [this](const QString& message) { prompt_.Display(Latin1(message)); });
  connect(&undo_, &QUndoStack::cleanChanged, this, &ProfileEditorWindow::UpdateTitle);
  // Every redraw of the grid (edit, undo, redo, paste, import, open, new) redraws the chart.
  connect(model_, &QAbstractItemModel::dataChanged, this, &ProfileEditorWindow::RefreshChart);
  connect(model_, &QAbstractItemModel::modelReset, this, &ProfileEditorWindow::RefreshChart);
  connect(chart_, &EditChart::message, this, [this](const QString& text) { prompt_.Display(Latin1(text)); });
  connect(chart_, &EditChart::clearMessages, this, [this] { prompt_.Clear(); });
  connect(chart_, &EditChart::rowMarked, this, &ProfileEditorWindow::MarkRow);
  connect(chart_, &EditChart::cellInTheWay, this, &ProfileEditorWindow::SelectCell);
  // An edit whose computation stopped at a cell that is not a number: that cell is shown.
  connect(model_, &QAbstractItemModel::dataChanged, this, [this] {
    if (auto cell = session_->Sheet().UnreadableCell()) SelectCell(cell->row, cell->column);
  });

  ApplySettings(ReadEditorSettings(folder_.EditorSettings()));
  grid_->setFocus();
}

void ProfileEditorWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (placed_) return;
  placed_ = true;
  const QString file = PlacementFile(QString::fromStdString(folder_.Setup().string()));
  RestorePlacement(this, file, QSize(1500, 860));
  KeepOnScreen(this);
  layout()->activate();
  QTimer::singleShot(250, this, [this] { KeepOnScreen(this); });
  ShareOutSplitters();
  RestoreSplitter(sheetAndChart_, file);
  RestoreSplitter(sheetAndPrompt_, file);
}

void ProfileEditorWindow::SelectCell(int row, int column) {
  // After the edit that caused it has closed its box: the selection must not end that edit.
  QMetaObject::invokeMethod(
      this,
      [this, row, column] {
        grid_->CommitPendingEdit();
        grid_->setCurrentIndex(model_->IndexOf(row, column));
        grid_->scrollTo(grid_->currentIndex());
      },
      Qt::QueuedConnection);
}

ProfileEditorWindow::~ProfileEditorWindow() = default;

void ProfileEditorWindow::ApplySettings(const profile::EditorSettings& settings) {
  chart_->SetPlotSelection({settings.designProfilePlotSelect != 0, settings.designProfileLimitsPlotSelect != 0,
                            settings.recordedProfilePlotSelect != 0, settings.recordedTempDataPlotSelect != 0});
  session_->ApplySettings(settings);
  AfterReplace();
}

profile::EditorSettings ProfileEditorWindow::PlotSelects() const {
  const auto [design, limits, recorded, temp] = chart_->PlotSelection();
  profile::EditorSettings settings;
  settings.designProfilePlotSelect = design ? 1 : 0;
  settings.designProfileLimitsPlotSelect = limits ? 1 : 0;
  settings.recordedProfilePlotSelect = recorded ? 1 : 0;
  settings.recordedTempDataPlotSelect = temp ? 1 : 0;
  return settings;
}

void ProfileEditorWindow::RefreshChart() { chart_->SetProfile(session_->Sheet().Table(), session_->Settings()); }

void ProfileEditorWindow::MarkRow(int row) {
  grid_->CommitPendingEdit();
  const int column = std::max(grid_->currentIndex().column(), 1);
  grid_->setCurrentIndex(model_->IndexOf(row, column));
  grid_->SetMarkedRow(row);
}

bool ProfileEditorWindow::IsModified() const { return !undo_.isClean() || changedOutsideUndo_; }

QString ProfileEditorWindow::ProfilesFolder() const { return QString::fromStdString(folder_.Profiles().string()); }

QString ProfileEditorWindow::Choose(FileDialogKind kind) { return chooser_(kind, ProfilesFolder() + "/"); }

void ProfileEditorWindow::AfterReplace() {
  model_->Reload();
  grid_->setCurrentIndex(model_->IndexOf(1, profile::kEndTemp));
  undo_.clear();
  changedOutsideUndo_ = false;
  UpdateMenus();
  UpdateTitle();
}

void ProfileEditorWindow::MarkChanged() {
  changedOutsideUndo_ = true;
  RefreshChart();  // the axes carry the scales
  UpdateMenus();
  UpdateTitle();
}

void ProfileEditorWindow::UpdateMenus() {
  const profile::ProfileSettings& settings = session_->Settings();
  fahrenheit_->setChecked(settings.temperatureScale == profile::TemperatureScale::Fahrenheit);
  celcius_->setChecked(settings.temperatureScale == profile::TemperatureScale::Celsius);
  seconds_->setChecked(settings.timeScale == profile::TimeScale::Seconds);
  minutes_->setChecked(settings.timeScale == profile::TimeScale::Minutes);
  hours_->setChecked(settings.timeScale == profile::TimeScale::Hours);
  for (QAction* entry : sensorGroup_->actions())
    entry->setChecked(session_->CheckedSensor() &&
                      entry->objectName() == QString("mnuSensorType_%1").arg(*session_->CheckedSensor()));
  profileName_->setText(QString::fromStdString(session_->ProfileName()));
}

void ProfileEditorWindow::UpdateTitle() {
  const QString name = QString::fromStdString(session_->ProfileName());
  setWindowTitle(QString("%1%2 - %3").arg(name.isEmpty() ? "New profile" : name, IsModified() ? "*" : "", kTitle));
  chart_->SetProfileName(name.isEmpty() ? QString("New profile") : "Profile " + name);
}

bool ProfileEditorWindow::ConfirmDiscard(const QString& question) {
  if (!IsModified()) return true;
  const QString text = "The profile has changes that are not saved. Save them first?";
  auto answer = QMessageBox::warning(this, kTitle, question.isEmpty() ? text : question + "\n" + text,
                                     QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
  if (answer == QMessageBox::Save) return Save();
  return answer == QMessageBox::Discard;
}

bool ProfileEditorWindow::ConfirmCut() {
  const std::vector<profile::CutCell> cut = session_->CellsCutAtSave();
  if (cut.empty()) return true;
  const QString text = CellText(profile::CutWarning(cut)).replace("\r\n", "\n") + "\n\nSave anyway?";
  if (QMessageBox::warning(this, kTitle, text, QMessageBox::Save | QMessageBox::Cancel) == QMessageBox::Save)
    return true;
  prompt_.Display("Not saved: " + profile::CellName(cut.front().cell) + " is longer than a profile file keeps");
  SelectCell(cut.front().cell.row, cut.front().cell.column);
  return false;
}

void ProfileEditorWindow::New() {
  grid_->CommitPendingEdit();
  if (!ConfirmDiscard()) return;
  session_->New();
  AfterReplace();
}

void ProfileEditorWindow::OpenProfile() {
  grid_->CommitPendingEdit();
  if (!ConfirmDiscard()) return;
  prompt_.Clear();
  const QString file = Choose(FileDialogKind::OpenProfile);
  if (!file.isEmpty()) OpenProfileFile(file);
}

void ProfileEditorWindow::OpenProfileFile(const QString& file) {
  if (session_->OpenProfile(file.toStdString())) AfterReplace();
}

bool ProfileEditorWindow::Save() {
  if (session_->ProfilePath().empty()) return SaveAs();
  grid_->CommitPendingEdit();
  auto text = session_->VerifyForSave();
  if (!text || !ConfirmCut()) return false;
  return WriteProfile(session_->ProfilePath(), *text);
}

bool ProfileEditorWindow::SaveAs() {
  grid_->CommitPendingEdit();
  auto text = session_->VerifyForSave();
  if (!text || !ConfirmCut()) return false;
  const QString file = Choose(FileDialogKind::SaveProfile);
  if (file.isEmpty()) return false;  // the profile keeps its name; nothing is written
  return WriteProfile(file.toStdString(), *text);
}

bool ProfileEditorWindow::WriteProfile(const std::filesystem::path& file, const std::string& text) {
  if (!session_->SaveTo(file, text)) return false;
  undo_.setClean();
  changedOutsideUndo_ = false;
  UpdateMenus();
  UpdateTitle();
  return true;
}

void ProfileEditorWindow::ImportCsv() {
  grid_->CommitPendingEdit();
  const QString file = Choose(FileDialogKind::ImportCsv);
  if (file.isEmpty()) return;
  prompt_.Clear();
  std::ifstream in(file.toStdString(), std::ios::binary);
  std::string bytes(kMaxCsvBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (!in.eof() || bytes.size() > kMaxCsvBytes) {
    prompt_.Display("CSV import error: cannot read " + file.toStdString() + " as a worksheet");
    return;
  }
  auto table = profile::TableFromCsv(bytes);
  if (!table) {
    prompt_.Display("CSV import error: " + table.status().message());
    return;
  }
  // Every cell gets the per-cell check of a typed entry, as `profile build` does.
  bool refused = false;
  profile::ProfileTable checked = *table;
  for (int row = 1; row <= profile::kLastSegmentRow; ++row)
    for (int column = profile::kDuration; column < profile::kTableColumns; ++column)
      if (const std::string cell = checked.at(row, column); !cell.empty())
        refused |= !profile::ValidateCellEntry(checked, row, column, cell, prompt_);
  if (refused) {
    prompt_.Display("Worksheet not imported: cells above are refused");
    return;
  }
  model_->ReplaceTable(*table);
  prompt_.Display("Worksheet imported from " + file.toStdString());
}

void ProfileEditorWindow::ExportCsv() {
  grid_->CommitPendingEdit();
  const QString file = Choose(FileDialogKind::ExportCsv);
  if (file.isEmpty()) return;
  std::ofstream out(file.toStdString(), std::ios::binary | std::ios::trunc);
  out << profile::TableToCsv(session_->Sheet().Table());
  prompt_.Display(out.flush() ? "Worksheet exported to " + file.toStdString()
                              : "CSV export error: cannot write " + file.toStdString());
}

void ProfileEditorWindow::Copy() {
  QModelIndexList cells = grid_->selectionModel()->selectedIndexes();
  if (cells.isEmpty() && grid_->currentIndex().isValid()) cells << grid_->currentIndex();
  if (cells.isEmpty()) return;
  int top = model_->rowCount(), bottom = -1, left = profile::kTableColumns, right = -1;
  for (const QModelIndex& i : cells) {
    top = std::min(top, i.row());
    bottom = std::max(bottom, i.row());
    left = std::min(left, i.column());
    right = std::max(right, i.column());
  }
  QString text;
  for (int row = top; row <= bottom; ++row) {
    for (int column = left; column <= right; ++column)
      text += (column > left ? "\t" : "") + model_->index(row, column).data().toString();
    text += "\n";
  }
  QApplication::clipboard()->setText(text);
}

void ProfileEditorWindow::Paste() {
  grid_->CommitPendingEdit();
  QString text = QApplication::clipboard()->text();
  text.replace("\r\n", "\n");
  if (text.endsWith('\n')) text.chop(1);
  if (text.isEmpty()) return;
  std::vector<std::vector<std::string>> cells;
  for (const QString& line : text.split('\n')) {
    std::vector<std::string> row;
    for (const QString& cell : line.split('\t')) row.push_back(Latin1(cell.trimmed()));
    cells.push_back(std::move(row));
  }
  QModelIndexList selected = grid_->selectionModel()->selectedIndexes();
  QModelIndex at = grid_->currentIndex();
  for (const QModelIndex& i : selected)
    if (i.row() < at.row() || (i.row() == at.row() && i.column() < at.column())) at = i;
  prompt_.Clear();
  model_->TypeBlock(at, cells);
}

// One question, whatever the way out: with changes it offers to save them, without it asks
// the described question.
void ProfileEditorWindow::ExitEditor() {
  grid_->CommitPendingEdit();
  if (IsModified()) {
    if (!ConfirmDiscard(kExitQuestion)) return;
  } else if (QMessageBox::warning(this, kTitle, kExitQuestion, QMessageBox::Ok | QMessageBox::Cancel) !=
             QMessageBox::Ok) {
    return;
  }
  exitConfirmed_ = true;
  close();
}

void ProfileEditorWindow::closeEvent(QCloseEvent* event) {
  grid_->CommitPendingEdit();
  const bool confirmed = std::exchange(exitConfirmed_, false);
  if (!confirmed && !ConfirmDiscard()) {
    event->ignore();
    return;
  }
  const QString places = PlacementFile(QString::fromStdString(folder_.Setup().string()));
  SavePlacement(this, places);
  SaveSplitter(sheetAndChart_, places);
  SaveSplitter(sheetAndPrompt_, places);
  const QString failure = WriteEditorSettings(folder_.EditorSettings(), session_->SettingsToWrite(PlotSelects()));
  if (!failure.isEmpty()) QMessageBox::warning(this, kTitle, failure);
  event->accept();
}

}  // namespace tarvel::ui
