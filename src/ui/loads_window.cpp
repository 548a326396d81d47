#include "ui/loads_window.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "report/load_report.h"
#include "util/text.h"
#include "watch/load_book.h"
#include "watch/load_checks.h"

namespace tarvel::ui {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A day as its first or last second, or a time as written; nullopt for an empty or bad text.
std::optional<watch::SystemClock::time_point> DayOf(const QString& text, bool end) {
  const std::string t = text.trimmed().toStdString();
  if (auto exact = watch::ParseUtcTime(t)) return exact;
  auto day = watch::ParseUtcTime(t + "T00:00:00Z");
  if (!day) return std::nullopt;
  return end ? *day + std::chrono::hours(24) - std::chrono::seconds(1) : *day;
}

}  // namespace

LoadsWindow::LoadsWindow(AppFolder folder, QWidget* parent) : QWidget(parent), folder_(std::move(folder)) {
  setObjectName("LoadsWindow");
  setWindowTitle("Loads");
  auto* layout = new QVBoxLayout(this);
  auto* filters = new QHBoxLayout;
  auto field = [&](const char* label, const char* name, QLineEdit*& edit, const char* hint) {
    edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setPlaceholderText(hint);
    filters->addWidget(new QLabel(label));
    filters->addWidget(edit);
    connect(edit, &QLineEdit::returnPressed, this, &LoadsWindow::Refresh);
  };
  field("From", "LoadsFrom", from_, "YYYY-MM-DD");
  field("To", "LoadsTo", to_, "YYYY-MM-DD");
  field("Channel", "LoadsChannel", channel_, "any");
  filters->addWidget(new QLabel("Result"));
  result_ = new QComboBox;
  result_->setObjectName("LoadsResult");
  result_->addItems({"Any", "PASS", "FAIL", "CANCELLED"});
  filters->addWidget(result_);
  field("Order", "LoadsOrder", order_, "any");
  auto* apply = new QPushButton("Show");
  apply->setObjectName("LoadsShowButton");
  filters->addWidget(apply);
  layout->addLayout(filters);

  grid_ = new QTableWidget(0, kColumns);
  grid_->setObjectName("LoadsGrid");
  grid_->setHorizontalHeaderLabels(
      {"Load", "Opened (UTC)", "Closed (UTC)", "Result", "Channels", "Order", "Profile", "Signatures"});
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(grid_);

  auto* bottom = new QHBoxLayout;
  status_ = new QLabel;
  status_->setObjectName("LoadsStatus");
  bottom->addWidget(status_, 1);
  auto* report = new QPushButton("Open Report");
  report->setObjectName("LoadsReportButton");
  bottom->addWidget(report);
  layout->addLayout(bottom);

  connect(apply, &QPushButton::clicked, this, &LoadsWindow::Refresh);
  connect(result_, &QComboBox::currentIndexChanged, this, &LoadsWindow::Refresh);
  connect(report, &QPushButton::clicked, this, &LoadsWindow::OpenReport);
  connect(grid_, &QTableWidget::cellDoubleClicked, this, &LoadsWindow::OpenReport);
  opener_ = [](const QString& file) { QDesktopServices::openUrl(QUrl::fromLocalFile(file)); };
  resize(900, 420);
  Refresh();
}

void LoadsWindow::Refresh() {
  watch::LoadFilter filter;
  QStringList problems;
  if (!from_->text().trimmed().isEmpty() && !(filter.from = DayOf(from_->text(), false))) problems << "From is no date";
  if (!to_->text().trimmed().isEmpty() && !(filter.to = DayOf(to_->text(), true))) problems << "To is no date";
  if (!channel_->text().trimmed().isEmpty()) {
    if (auto channel = ToWholeNumber(channel_->text().trimmed().toStdString(), 1, 32767))
      filter.channel = static_cast<int>(*channel);
    else
      problems << "Channel is no channel number";
  }
  if (result_->currentIndex() > 0) watch::FilterResult(filter, result_->currentText().toStdString());
  if (!order_->text().trimmed().isEmpty()) filter.order = order_->text().trimmed().toStdString();

  std::vector<std::string> skipped;
  const auto loads =
      problems.isEmpty() ? watch::ListLoads(folder_, filter, &skipped) : std::vector<watch::LoadSummary>{};
  grid_->setRowCount(0);
  for (const watch::LoadSummary& load : loads) {
    const watch::LoadHeader& h = load.header;
    std::string channels, order;
    for (const watch::LoadController& c : h.controllers)
      channels += (channels.empty() ? "" : ",") + std::to_string(c.channel);
    for (const watch::ShopField& f : h.fields)
      if (QString::fromStdString(f.name).compare("Order", Qt::CaseInsensitive) == 0) order = f.value;
    const QStringList cells{Q(h.loadId),
                            Q(watch::UtcTime(h.opened)),
                            load.close ? Q(watch::UtcTime(load.close->at)) : "under way",
                            load.close ? watch::ResultWord(*load.close) : "",
                            Q(channels) + (h.furnace.empty() ? "" : " (" + Q(h.furnace) + ")"),
                            Q(order),
                            Q(h.profileName),
                            load.signatures ? QString::number(load.signatures) : ""};
    const int row = grid_->rowCount();
    grid_->insertRow(row);
    for (int c = 0; c < kColumns; ++c) grid_->setItem(row, c, new QTableWidgetItem(cells[c]));
  }
  if (!skipped.empty()) problems << QString("%1 records could not be read").arg(skipped.size());
  status_->setText(problems.isEmpty() ? QString("%1 loads").arg(loads.size()) : problems.join("; "));
}

void LoadsWindow::OpenReport() {
  const int row = grid_->currentRow();
  if (row < 0) {
    status_->setText("Choose a load first");
    return;
  }
  const std::string id = grid_->item(row, kLoad)->text().toStdString();
  auto record = watch::ReadLoadRecord(watch::LoadFile(folder_, id));
  if (!record.ok()) {
    status_->setText(Q(record.status().message()));
    return;
  }
  const auto file = std::filesystem::path(QDir::tempPath().toStdString()) / (id + ".pdf");
  if (Status written = report::WriteLoadPdf(*record, watch::ResultOf(*record, watch::SystemClock::now()), file);
      !written.ok()) {
    status_->setText(Q(written.message()));
    return;
  }
  status_->setText(Q("Report of " + id + " written to " + file.string()));
  opener_(Q(file.string()));
}

}  // namespace tarvel::ui
