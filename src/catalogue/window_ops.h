// What the extraction and download runs do to the window, as an interface: the Qt window
// implements it, the command line implements it for a terminal, tests implement it as a
// recorder. All texts cross it as code page 936 Texts; each front end converts at its side.
#pragma once

#include <cstdint>

#include "text/text.h"

namespace ombrik {

// The form's controls, by their names on the form.
enum class Control {
  分组框1,
  标签2,
  编辑框_URL,
  按钮_提取音频列表,
  列表标题,
  超级列表框_音频列表,
  标签3,
  编辑框_下载目录,
  按钮_浏览下载目录,
  按钮_下载,
  进度条1,
  状态条1,
};

// Message box icons, by their Windows codes.
enum class MessageIcon { None = 0, Error = 16, Question = 32, Exclamation = 48, Information = 64 };

class WindowOperations {
 public:
  virtual ~WindowOperations() = default;

  // Edit boxes (编辑框_URL, 编辑框_下载目录).
  virtual Text EditText(Control box) = 0;
  virtual void SetEditText(Control box, const Text& text) = 0;

  // The caption of 列表标题.
  virtual void SetListCaption(const Text& caption) = 0;

  // 超级列表框_音频列表: rows are 0-based, columns 0 (number), 1 (title), 2 (play address).
  virtual void DeleteAllRows() = 0;
  // Appends a row whose column 0 is `column0`; answers the new row's index.
  virtual int InsertRow(const Text& column0) = 0;
  virtual void SetCell(int row, int column, const Text& text) = 0;
  virtual Text CellText(int row, int column) = 0;
  virtual int RowCount() = 0;

  // Part 0 of 状态条1.
  virtual void SetStatusText(const Text& text) = 0;

  // 进度条1.
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetProgressVisible(bool visible) = 0;

  virtual void SetEnabled(Control control, bool enabled) = 0;

  // A modal box with an OK button. An empty title means the default title "信息：".
  virtual void ShowMessage(const Text& text, const Text& title, MessageIcon icon) = 0;

  // Bytes of the current track's file received so far, and its size (0 while unknown).
  // Called often during a download; the window shows per-track progress its own way and
  // ignores it, a terminal draws a progress line.
  virtual void TrackBytesReceived(std::int64_t /*received*/, std::int64_t /*total*/) {}
};

}  // namespace ombrik
