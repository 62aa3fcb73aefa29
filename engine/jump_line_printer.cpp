#include "engine/jump_line_printer.h"

#include <chrono>

namespace quillmark {

namespace {

std::string formatted(const char* format, double value) {
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, format, value);
  if (length < 0) return {};
  if (static_cast<std::size_t>(length) < sizeof buffer)
    return std::string(buffer, static_cast<std::size_t>(length));
  std::string text(static_cast<std::size_t>(length), '\0');  // only absurd magnitudes get here
  std::snprintf(text.data(), text.size() + 1, format, value);
  return text;
}

// How often the printing thread looks for reports: well within what a person reading a log notices.
constexpr auto kPollInterval = std::chrono::milliseconds(20);

}  // namespace

JumpLinePrinter::JumpLinePrinter(std::FILE* out) : out_(out), thread_([this] { run(); }) {}

JumpLinePrinter::~JumpLinePrinter() {
  {
    std::lock_guard<std::mutex> guard(stopMutex_);
    stopping_ = true;
  }
  stopRequested_.notify_one();
  thread_.join();
}

bool JumpLinePrinter::report(const JumpReport& jump) noexcept {
  if (queue_.tryPush(jump)) return true;
  dropped_.fetch_add(1, std::memory_order_relaxed);
  return false;
}

std::string JumpLinePrinter::line(const JumpReport& jump) {
  std::string text = "jump: LTC ";
  text += jump.timecode.description();
  text += " as ";
  text += rawValue(jump.rate);
  text += " = ";
  text += std::to_string(jump.frameNumber);
  text += ", expected ";
  text += jump.expected ? formatted("%.2f", *jump.expected) : std::string("-");
  text += " at clock rate ";
  text += rawValue(jump.clockRate);
  text += ", duration ";
  text += formatted("%.5f", jump.duration);
  text += '\n';
  return text;
}

void JumpLinePrinter::run() {
  std::unique_lock<std::mutex> lock(stopMutex_);
  while (!stopRequested_.wait_for(lock, kPollInterval, [this] { return stopping_; })) {
    lock.unlock();
    printQueued();
    lock.lock();
  }
  lock.unlock();
  printQueued();  // whatever came in before the stop
}

void JumpLinePrinter::printQueued() {
  JumpReport jump;
  while (queue_.tryPop(jump)) {
    try {
      const std::string text = line(jump);
      std::fputs(text.c_str(), out_);  // one call, so the line is not torn by other writers
      std::fflush(out_);
    } catch (...) {
      // Out of memory while formatting a diagnostic: the jump itself has been counted by the clock.
    }
    printed_.fetch_add(1, std::memory_order_release);
  }
}

}  // namespace quillmark
