#pragma once
// ui: the profile editor's chart `EditChart` with its frames "Log File" (LogFileNameDisplay,
// "Load Log File") and "Plot Trace Selection" (the four plot check boxes). It draws what
// profile::ChartModel holds and passes clicks on points to it; no rule lives here.
//
// The editor embeds it as one widget: after every redraw of its worksheet it calls SetProfile;
// it shows message() lines in User_Prompt (clearMessages() empties the area first); it marks
// the worksheet row of rowMarked() and selects the cell of cellInTheWay(); it puts the actions
// (Load Log File, Remove Log, Save Chart Image..., Print...) in its File menu; it keeps
// PlotSelection() in its settings file. The chart zooms, pans and reads out (ChartView).

#include <QWidget>

#include <array>

#include "profile/chart_data.h"
#include "util/app_folder.h"

class QAction;
class QCheckBox;
class QChart;
class QGroupBox;
class QLineEdit;
class QLineSeries;
class QValueAxis;

namespace tarvel::ui {

class ChartView;

class EditChart : public QWidget {
  Q_OBJECT

 public:
  explicit EditChart(AppFolder folder, QWidget* parent = nullptr);

  // PlotDesignProfile: redraws from the worksheet's table; the settings name the axes.
  void SetProfile(const profile::ProfileTable& table, const profile::ProfileSettings& settings);
  // "Load Log File" with a chosen file (the dialog's, or one given on the command line).
  void LoadLogFile(const QString& path);

  // "Remove Log": the chart without the log file, back to the design alone.
  void RemoveLog();
  // What the chart's pictures and pages are titled, with the log's name when one is shown.
  void SetProfileName(const QString& name);

  // mnuLoadLogFile "Load Log File": opens the log dialog in LogFiles/; then "Remove Log",
  // "Save Chart Image..." and "Print...".
  QAction* LoadLogFileAction() const { return loadLogFileAction_; }
  QList<QAction*> ChartActions() const { return chartActions_; }

  // Design Profile, Alarm Limits, Recorded Profile, Temp Record: the check boxes as the
  // editor settings keep them.
  std::array<bool, 4> PlotSelection() const;
  void SetPlotSelection(const std::array<bool, 4>& selection);

  const profile::ChartModel& Model() const { return model_; }
  QChart* Chart() const;
  ChartView* View() const { return view_; }
  QLineSeries* Series(int series) const { return series_[series - 1]; }  // 1..5

 signals:
  void clearMessages();
  void message(const QString& text);       // one line (or several, CR LF) for the message area
  void rowMarked(int row);                 // the worksheet row a selected point falls in (1..255)
  void cellInTheWay(int row, int column);  // the cell a failed plot could not read

 public slots:
  void ChooseLogFile();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QGroupBox* LogFileFrame();        // the log's name, Load Log File and Remove Log
  QGroupBox* PlotSelectionFrame();  // the four plot check boxes
  QGroupBox* ChartFrame();          // the chart view and its tool row
  void AddSeries();                 // the axes and the five series, with their clicks and legend
  void BuildActions();              // the actions the editor puts in its File menu
  // The legend below the plot while its texts fit there whole, else beside it.
  void FitLegend();
  void Redraw();
  void ApplyPlotSelection();
  void Clicked(int series, int index, bool activated);
  void UpdateCaption();

  AppFolder folder_;
  profile::ChartModel model_;
  QAction* loadLogFileAction_ = nullptr;
  QList<QAction*> chartActions_;
  QLineEdit* logFileName_ = nullptr;
  std::array<QCheckBox*, 4> plotSelect_{};
  ChartView* view_ = nullptr;
  std::array<QLineSeries*, profile::kChartSeriesCount> series_{};
  QValueAxis* timeAxis_ = nullptr;
  QValueAxis* temperatureAxis_ = nullptr;
  QString profileName_;
};

}  // namespace tarvel::ui
