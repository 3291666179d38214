#include "app/paint_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace ombrik {

PaintPump::RunScope::RunScope(PaintPump& pump) : pump_(pump) {
  pump_.running_ = true;
  pump_.sinceLast_.start();
}

PaintPump::RunScope::~RunScope() {
  pump_.Pump();
  pump_.running_ = false;
}

void PaintPump::PumpIfDue() {
  if (running_ && sinceLast_.isValid() && sinceLast_.elapsed() >= kIntervalMs) Pump();
}

void PaintPump::Pump() {
  // A paint handler that ends up here again must not recurse into the event loop.
  if (!running_ || pumping_) return;
  pumping_ = true;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  pumping_ = false;
  ++pumps_;
  sinceLast_.start();
}

}  // namespace ombrik
