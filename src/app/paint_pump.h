// Keeps the window painting while a long handler runs in the GUI thread.
//
// The extraction and download runs are synchronous: they hold the GUI thread until they are
// done. Without help the window would freeze for the whole run, so while a run is active the
// pump lets Qt deliver paint and window-system events every so often, but never user input:
// clicks and keys stay queued and are handled after the run, as the program always behaved.
#pragma once

#include <QElapsedTimer>

namespace ombrik {

class PaintPump {
 public:
  // Gap between two pumps. Callers (the network wait hook, the window operations) arrive at
  // least every 100 ms while a run waits or works, so pumping at 40 ms keeps every gap under
  // 100 ms without paying for a pump per list row.
  static constexpr int kIntervalMs = 40;

  // Marks a run as active for the lifetime of the object; runs do not nest.
  class RunScope {
   public:
    explicit RunScope(PaintPump& pump);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    PaintPump& pump_;
  };

  bool Running() const { return running_; }

  // Pumps when a run is active and the last pump is at least kIntervalMs ago.
  void PumpIfDue();
  // Pumps now when a run is active (after the last change of a run).
  void Pump();
  // How many pumps happened; lets tests see the batching.
  int PumpCount() const { return pumps_; }

 private:
  bool running_ = false;
  bool pumping_ = false;
  int pumps_ = 0;
  QElapsedTimer sinceLast_;
};

}  // namespace ombrik
