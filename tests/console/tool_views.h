#pragma once
// Views of the port set-up and the channel map that record what their windows would show.

#include <deque>
#include <string>
#include <vector>

#include "console/channel_map.h"
#include "console/port_setup.h"

namespace tarvel::console {

struct RecordingPortView : PortSetupView {
  std::string messages;
  int number = 0;
  std::string device;
  void ShowMessages(const std::string& text) override { messages = text; }
  std::vector<PortEntry> ports;
  void ShowPort(int n, const std::string& d) override { number = n, device = d; }
  void ShowPorts(const std::vector<PortEntry>& p) override { ports = p; }
  void SetProgress(int, int) override {}
};

struct RecordingMapView : ChannelMapView {
  std::string messages;
  std::vector<store::ChannelRow> rows;
  std::vector<std::string> boxes;   // title: text
  std::deque<bool> confirmAnswers;  // OK when empty
  int progressDone = 0;
  void ShowMessages(const std::string& text) override { messages = text; }
  void ShowRows(const std::vector<store::ChannelRow>& r) override { rows = r; }
  void SetProgress(int done, int) override { progressDone = done; }
  void ShowWarning(const std::string& title, const std::string& text) override { boxes.push_back(title + ": " + text); }
  bool Confirm(const std::string& title, const std::string& text) override {
    boxes.push_back(title + ": " + text);
    if (confirmAnswers.empty()) return true;
    bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
  }
};

}  // namespace tarvel::console
