#include "chart_window.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <iostream>

#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "ui/edit_chart.h"
#include "util/text.h"

namespace tarvel::app {

int RunChartWindow(const AppFolder& folder, const QString& profileFile, const QString& logFile,
                   const QString& screenshot) {
  QMainWindow window;
  window.setObjectName("ProfileChart");
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  auto* chart = new ui::EditChart(folder);
  auto* prompt = new QPlainTextEdit;
  prompt->setObjectName("User_Prompt");
  prompt->setReadOnly(true);
  prompt->setMaximumHeight(90);
  layout->addWidget(chart, 1);
  layout->addWidget(prompt);
  window.setCentralWidget(central);
  QMenu* file = window.menuBar()->addMenu("File");
  file->addAction(chart->LoadLogFileAction());
  QObject::connect(chart, &ui::EditChart::clearMessages, prompt, &QPlainTextEdit::clear);
  QObject::connect(chart, &ui::EditChart::message, prompt, [prompt](QString text) {
    prompt->appendPlainText(text.replace("\r\n", "\n"));
  });
  QObject::connect(chart, &ui::EditChart::rowMarked, prompt,
                   [prompt](int row) { prompt->appendPlainText(QString("Segment %1 marked").arg(row)); });

  const std::string path = profileFile.toStdString();
  window.setWindowTitle("Profile Chart - " + QString::fromStdString(FileNameFromPath(path)));
  if (auto text = profile::LoadProfileFile(path); text.ok()) {
    prompt->appendPlainText("Profile is valid");
    chart->SetProfile(profile::ParseProfileText(text.value()), profile::SettingsOfText(text.value()));
  } else {
    prompt->appendPlainText("Error: Unable to load profile");
    prompt->appendPlainText(QString::fromStdString(text.status().message()));
  }
  if (!logFile.isEmpty()) chart->LoadLogFile(logFile);
  window.resize(1100, 700);
  window.show();

  if (!screenshot.isEmpty()) {
    QTimer::singleShot(300, &window, [&window, screenshot] {
      const bool saved = window.grab().save(screenshot, "PNG");
      std::cerr << (saved ? "saved " : "could not save ") << screenshot.toStdString() << "\n";
      QApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}

}  // namespace tarvel::app
