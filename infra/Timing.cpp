#include "infra/Timing.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<double> currentScale{1.0};
}

std::chrono::microseconds Timing::scaled(std::chrono::microseconds production) {
    const double value = static_cast<double>(production.count()) * currentScale.load(std::memory_order_relaxed);
    return std::chrono::microseconds(value < 1.0 && production.count() > 0 ? 1 : static_cast<long long>(value));
}

void Timing::setScale(double scale) {
    if (scale > 0.0 && scale <= 1.0) currentScale.store(scale, std::memory_order_relaxed);
}

double Timing::scale() { return currentScale.load(std::memory_order_relaxed); }

void Timing::setScaleFromEnvironment() {
    if (const char* text = std::getenv("ORVANE_TIME_SCALE")) setScale(std::strtod(text, nullptr));
}
