#pragma once
// ui: the Loads window -- the load records of the home, one a row, filtered by date (the load
// was under way on a day between From and To, UTC), channel, result and order; the report of the
// chosen load written as PDF and opened. watch's ListLoads decides what passes.

#include <QWidget>

#include <functional>
#include <string>

#include "util/app_folder.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace tarvel::ui {

class LoadsWindow : public QWidget {
  Q_OBJECT

 public:
  enum Column { kLoad, kOpened, kClosed, kResult, kChannels, kOrder, kProfile, kSigned, kColumns };
  explicit LoadsWindow(AppFolder folder, QWidget* parent = nullptr);

  // Who opens a written report; the desktop's PDF viewer unless set.
  void SetOpener(std::function<void(const QString& file)> opener) { opener_ = std::move(opener); }

 public slots:
  void Refresh();
  void OpenReport();  // of the selected row

 private:
  AppFolder folder_;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QLineEdit* channel_ = nullptr;
  QComboBox* result_ = nullptr;
  QLineEdit* order_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QLabel* status_ = nullptr;
  std::function<void(const QString&)> opener_;
};

}  // namespace tarvel::ui
