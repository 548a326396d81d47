#pragma once
// Message boxes and file dialogs answered from a timer, so that none can hang a window test.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <vector>

namespace tarvel::ui {

// Answers every message box with OK (or the answers queued with Answer) and remembers title,
// text and whether Cancel was the default; a file dialog picks the file set with Pick, or is
// cancelled.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen_.push_back({box->windowTitle(), box->text()});
        cancelFirst_.push_back(box->defaultButton() && box->defaultButton() == box->button(QMessageBox::Cancel));
        QMessageBox::StandardButton answer = QMessageBox::Ok;
        if (!answers_.empty()) answer = answers_.front(), answers_.pop_front();
        box->button(answer)->click();
      } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        seen_.push_back({dialog->windowTitle(), dialog->directory().absolutePath()});
        if (pick_.isEmpty()) return dialog->reject();
        dialog->selectFile(pick_);
        QMetaObject::invokeMethod(dialog, "accept");
      }
    });
    timer_.start(10);
  }
  const std::vector<std::pair<QString, QString>>& Seen() const { return seen_; }
  bool LastDefaultWasCancel() const { return !cancelFirst_.empty() && cancelFirst_.back(); }
  void Pick(const QString& file) { pick_ = file; }
  void Answer(QMessageBox::StandardButton answer) { answers_.push_back(answer); }

 private:
  QTimer timer_;
  QString pick_;
  std::vector<std::pair<QString, QString>> seen_;
  std::vector<bool> cancelFirst_;
  std::deque<QMessageBox::StandardButton> answers_;
};

}  // namespace tarvel::ui
