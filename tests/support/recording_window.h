// A WindowOperations that keeps the window's state in memory and records every call, so
// tests can check both the final state and the order of what a run did.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "catalogue/window_ops.h"
#include "text/text.h"

namespace ombrik::testing {

struct RecordedMessage {
  std::string text;  // UTF-8, for readable assertions
  std::string title;
  MessageIcon icon;
};

class RecordingWindow : public WindowOperations {
 public:
  Text EditText(Control box) override { return edits[box]; }
  void SetEditText(Control box, const Text& text) override { edits[box] = text; }
  void SetListCaption(const Text& caption) override { this->caption = caption; }
  void DeleteAllRows() override { rows.clear(); }
  int InsertRow(const Text& column0) override {
    rows.push_back({column0, Text(), Text()});
    return static_cast<int>(rows.size()) - 1;
  }
  void SetCell(int row, int column, const Text& text) override {
    rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column)) = text;
  }
  Text CellText(int row, int column) override {
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0 || column > 2) return {};
    return rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
  }
  int RowCount() override { return static_cast<int>(rows.size()); }
  void SetStatusText(const Text& text) override {
    status = text;
    statusHistory.push_back(TextToUtf8(text));
  }
  void SetProgressPosition(int position) override {
    progress = position;
    progressHistory.push_back(position);
  }
  void SetProgressVisible(bool visible) override { progressVisible = visible; }
  void SetEnabled(Control control, bool enabled) override {
    enabledState[control] = enabled;
    enableCalls.push_back({control, enabled});
  }
  void ShowMessage(const Text& text, const Text& title, MessageIcon icon) override {
    messages.push_back({TextToUtf8(text), TextToUtf8(title), icon});
  }

  // Column texts of a row as UTF-8.
  std::array<std::string, 3> Row(std::size_t r) const {
    return {TextToUtf8(rows.at(r)[0]), TextToUtf8(rows.at(r)[1]), TextToUtf8(rows.at(r)[2])};
  }

  std::map<Control, Text> edits;
  Text caption;
  std::vector<std::array<Text, 3>> rows;
  Text status;
  std::vector<std::string> statusHistory;
  int progress = 0;
  std::vector<int> progressHistory;
  bool progressVisible = false;
  std::map<Control, bool> enabledState;
  std::vector<std::pair<Control, bool>> enableCalls;
  std::vector<RecordedMessage> messages;
};

}  // namespace ombrik::testing
