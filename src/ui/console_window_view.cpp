// The console window's view: WindowView posts each call of the command thread to the window,
// and the window applies it to its widgets.
#include <QButtonGroup>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QThread>
#include <QTimer>

#include "ui/console_window.h"

namespace tarvel::ui {
namespace {

using console::Grid;
using console::Led;
using console::RowMark;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QColor LedColour(Led led) {
  switch (led) {
    case Led::Busy: return QColor(255, 255, 0);
    case Led::Idle: return QColor(192, 192, 192);
    case Led::Error: return QColor(255, 0, 0);
  }
  return QColor(192, 192, 192);
}

QBrush MarkBrush(RowMark mark) {
  switch (mark) {
    case RowMark::ProgramRange: return QColor(255, 255, 192);
    case RowMark::CurrentStep: return QColor(128, 255, 128);
    case RowMark::LogEntry: return QColor(0, 255, 0);
    case RowMark::None: break;
  }
  return QBrush();
}

void Paint(QWidget* led, const QColor& colour) {
  QPalette palette = led->palette();
  palette.setColor(QPalette::Window, colour);
  led->setPalette(palette);
}

}  // namespace

const char* FieldControlName(console::Field field) {
  switch (field) {
    case console::Field::ControllerType: return "ControllerTypeDisplay";
    case console::Field::ExecutingProfileName: return "ExecutingProfileNameDisplay";
    case console::Field::CurrentStep: return "CurrentStepDisplay";
    case console::Field::CurrentTime: return "CurrentTimeDisplay";
    case console::Field::ProfileSetPoint: return "ProfileSetPointDisplay";
    case console::Field::SetPoint: return "SetPointDisplay";
    case console::Field::ProcessTemperature: return "ProcessTemperatureDisplay";
    case console::Field::Relay1: return "Relay1StateDisplay";
    case console::Field::Relay2: return "Relay2StateDisplay";
    case console::Field::ProgramStepLow: return "ProgramStepLowDisplay";
    case console::Field::ProgramStepHigh: return "ProgramStepHighDisplay";
    case console::Field::SingleSetPoint: return "SingleSetPointDisplay";
    case console::Field::Alarm1Type: return "Alarm1TypeDisplay";
    case console::Field::Alarm2Type: return "Alarm2TypeDisplay";
    case console::Field::TemperatureScale: return "TemperatureScaleDisplay";
    case console::Field::SensorType: return "SensorTypeDisplay";
    case console::Field::StartAddress: return "StartAddressDisplay";
    case console::Field::CompileProfileName: return "CompileProfileNameDisplay";
    case console::Field::CompiledProfileSensor: return "txtCompiledProfileSensor";
    case console::Field::CompiledProfileTemperatureScale: return "txtCompiledProfileTemperatureScale";
    case console::Field::CompiledProfileTimeScale: return "txtCompiledProfileTimeScale";
    case console::Field::DownloadStartStep: return "txtStartStep";
    case console::Field::DownloadStopStep: return "txtStopStep";
  }
  return "";
}

// --- WindowView: any thread in, the window's thread out

template <class F>
void WindowView::Post(F&& apply) {
  QMetaObject::invokeMethod(&window_, std::forward<F>(apply), Qt::QueuedConnection);
}

template <class F>
auto WindowView::Ask(F&& ask) -> decltype(ask()) {
  if (QThread::currentThread() == window_.thread()) return ask();
  decltype(ask()) answer{};
  QMetaObject::invokeMethod(
      &window_, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
  return answer;
}

void WindowView::ShowMessages(const std::string& text) {
  Post([w = &window_, t = Q(text)] { w->ApplyMessages(t); });
}
void WindowView::SetLed(console::Led led) {
  Post([w = &window_, led] { w->ApplyLed(led); });
}
void WindowView::SetField(console::Field field, const std::string& text) {
  Post([w = &window_, field, t = Q(text)] { w->ApplyField(field, t); });
}
void WindowView::SetSelectors(const console::Selectors& selectors) {
  Post([w = &window_, selectors] { w->ApplySelectors(selectors); });
}
void WindowView::SetProgressionChoices(const std::vector<std::string>& choices, int selected) {
  QStringList list;
  for (const auto& c : choices) list << Q(c);
  Post([w = &window_, list, selected] { w->ApplyProgressionChoices(list, selected); });
}
void WindowView::SetProgramMode(int code) {
  Post([w = &window_, code] { w->ApplyProgramMode(code); });
}
void WindowView::SetMonitoring(bool on) {
  Post([w = &window_, on] { w->ApplyMonitoring(on); });
}
void WindowView::SetGridLayout(console::Grid grid, const console::GridLayout& layout) {
  Post([w = &window_, grid, layout] { w->ApplyGridLayout(grid, layout); });
}
void WindowView::SetGridRows(console::Grid grid, const std::vector<std::vector<std::string>>& rows) {
  Post([w = &window_, grid, rows] { w->ApplyGridRows(grid, rows); });
}
void WindowView::SetRowMarks(console::Grid grid, const std::vector<console::RowMark>& marks) {
  Post([w = &window_, grid, marks] { w->ApplyRowMarks(grid, marks); });
}
void WindowView::SetCurrentRow(console::Grid grid, int row) {
  Post([w = &window_, grid, row] { w->ApplyCurrentRow(grid, row); });
}
void WindowView::ScrollTo(console::Grid grid, int topRow) {
  Post([w = &window_, grid, topRow] { w->ApplyScroll(grid, topRow); });
}
void WindowView::SetSizeButton(console::Grid grid, bool wide) {
  Post([w = &window_, grid, wide] { w->ApplySizeButton(grid, wide); });
}
void WindowView::SetProgress(int done, int total) {
  Post([w = &window_, done, total] { w->ApplyProgress(done, total); });
}
void WindowView::ShowWarning(const std::string& title, const std::string& text) {
  if (closing_) return;
  Ask([&] {
    window_.ShowWarningBox(Q(title), Q(text));
    return true;
  });
}
bool WindowView::Confirm(const std::string& title, const std::string& text) {
  if (closing_) return false;
  return Ask([&] { return window_.AskConfirm(Q(title), Q(text)); });
}
bool WindowView::ConfirmRisky(const std::string& title, const std::string& text) {
  if (closing_) return false;
  return Ask([&] { return window_.AskConfirm(Q(title), Q(text), true); });
}

// --- applied on the window's thread

void ConsoleWindow::ApplyMessages(const QString& text) {
  QString shown = text;
  shown.replace("\r\n", "\n");
  prompt_->setPlainText(shown);
  prompt_->verticalScrollBar()->setValue(prompt_->verticalScrollBar()->maximum());
}

void ConsoleWindow::ApplyLed(Led led) { Paint(commLed_, LedColour(led)); }

void ConsoleWindow::ApplyField(console::Field field, const QString& text) {
  if (auto found = fields_.find(field); found != fields_.end()) found->second->setText(text);
}

void ConsoleWindow::ApplySelectors(const console::Selectors& s) {
  auto fill = [](QComboBox* box, const std::vector<std::string>& items, int index) {
    QSignalBlocker block(box);
    box->clear();
    for (const auto& item : items) box->addItem(Q(item));
    box->setCurrentIndex(index);
  };
  fill(channelSelect_, s.channels, s.channelIndex);
  fill(addressSelect_, s.addresses, s.addressIndex);
  fill(nickNameSelect_, s.nickNames, s.nickNameIndex);
}

void ConsoleWindow::ApplyProgressionChoices(const QStringList& choices, int selected) {
  progressionSelect_->clear();
  progressionSelect_->addItems(choices);
  progressionSelect_->setCurrentIndex(selected);
}

void ConsoleWindow::ApplyProgramMode(int code) {
  if (QAbstractButton* option = programMode_->button(code)) {
    option->setChecked(true);
    return;
  }
  programMode_->setExclusive(false);
  for (QAbstractButton* b : programMode_->buttons()) b->setChecked(false);
  programMode_->setExclusive(true);
}

void ConsoleWindow::ApplyMonitoring(bool on) {
  Paint(monitorLed_, on ? QColor(0, 255, 0) : QColor(192, 192, 192));
  if (on)
    profileRunTimer_.start();
  else
    profileRunTimer_.stop();
}

void ConsoleWindow::ApplyGridLayout(Grid grid, const console::GridLayout& layout) {
  QTableWidget* table = GridOf(grid);
  const int columns = static_cast<int>(layout.headers.size());
  table->setColumnCount(columns);
  QStringList headers;
  for (const auto& h : layout.headers) headers << Q(h);
  table->setHorizontalHeaderLabels(headers);
  for (int c = 0; c < columns; ++c) {
    int width = layout.widthsTwips[c] / kTwipsPerPixel;
    table->setColumnHidden(c, width == 0);
    if (width > 0) table->setColumnWidth(c, width);
  }
  if (grid == Grid::CompiledProfile) return;
  // ">" shows more columns: the grid's column widens inside the window, "<" gives the room back.
  QWidget* pane = grid == Grid::ProgramMemory ? rightPane_ : middlePane_;
  const bool wide = (grid == Grid::ProgramMemory ? memorySizeButton_ : logSizeButton_)->text() == "<";
  const int beside = grid == Grid::ProgramMemory ? memorySizeButton_->width() + 6 : 0;  // ">" beside the grid
  if (isVisible())
    WidenPane(pane,
              table->horizontalHeader()->length() + 2 * table->frameWidth() +
                  table->verticalScrollBar()->sizeHint().width() + 30 + beside,
              wide);
}

void ConsoleWindow::ApplyGridRows(Grid grid, const std::vector<std::vector<std::string>>& rows) {
  QTableWidget* table = GridOf(grid);
  table->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < static_cast<int>(rows[r].size()) && c < table->columnCount(); ++c) {
      auto* item = new QTableWidgetItem(Q(rows[r][c]));
      item->setTextAlignment(Qt::AlignCenter);
      table->setItem(r, c, item);
    }
  }
}

void ConsoleWindow::ApplyRowMarks(Grid grid, const std::vector<RowMark>& marks) {
  QTableWidget* table = GridOf(grid);
  for (int r = 0; r < table->rowCount() && r < static_cast<int>(marks.size()); ++r)
    for (int c = 0; c < table->columnCount(); ++c)
      if (QTableWidgetItem* item = table->item(r, c)) item->setBackground(MarkBrush(marks[r]));
}

void ConsoleWindow::ApplyCurrentRow(Grid grid, int row) {
  QTableWidget* table = GridOf(grid);
  if (row >= 1 && row <= table->rowCount()) table->setCurrentCell(row - 1, 2);
}

void ConsoleWindow::ApplyScroll(Grid grid, int topRow) {
  QTableWidget* table = GridOf(grid);
  if (topRow >= 1 && topRow <= table->rowCount())
    table->scrollTo(table->model()->index(topRow - 1, 2), QAbstractItemView::PositionAtTop);
}

void ConsoleWindow::ApplySizeButton(Grid grid, bool wide) {
  (grid == Grid::ProfileLog ? logSizeButton_ : memorySizeButton_)->setText(wide ? "<" : ">");
}

void ConsoleWindow::ApplyProgress(int done, int total) {
  progress_->setMaximum(total > 0 ? total : 1);
  progress_->setValue(done);
}

void ConsoleWindow::ShowWarningBox(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
  box.exec();
}

bool ConsoleWindow::AskConfirm(const QString& title, const QString& text, bool cancelFirst) {
  QString shown = text;
  shown.replace("\r\n", "\n");
  QMessageBox box(QMessageBox::Warning, title, shown, QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setDefaultButton(cancelFirst ? QMessageBox::Cancel : QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

}  // namespace tarvel::ui
