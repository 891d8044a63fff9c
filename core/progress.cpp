#include "core/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <fmt/format.h>

namespace vorrel {
namespace {

ProgressIo::Clock::time_point steady_now(void*) { return ProgressIo::Clock::now(); }

// One write call per line, so lines of concurrent stages never interleave mid-line.
void write_stderr(void*, std::string_view line) {
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report a failing console
    data += n;
    left -= static_cast<size_t>(n);
  }
}

constexpr auto kUpdateInterval = std::chrono::milliseconds(200);

}  // namespace

const ProgressIo& ProgressIo::standard() {
  static const ProgressIo io{&steady_now, &write_stderr, nullptr};
  return io;
}

double seconds_between(ProgressIo::Clock::time_point a, ProgressIo::Clock::time_point b) {
  if (b <= a) return 0.0;
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(b - a).count();
  auto whole = ns / 1'000'000'000;
  auto frac = ns % 1'000'000'000;
  return static_cast<double>(whole) + static_cast<double>(frac) / 1e9;
}

std::string format_rate(double rate) {
  if (rate >= 1e6) return fmt::format("{:.1f}M/s", rate / 1e6);
  if (rate >= 1e3) return fmt::format("{:.1f}k/s", rate / 1e3);
  return fmt::format("{:.0f}/s", rate);
}

StageProgress StageProgress::start(std::string label, uint64_t total, const ProgressIo& io) {
  return StageProgress(std::move(label), total, io);
}

StageProgress::StageProgress(std::string label, uint64_t total, const ProgressIo& io)
    : label_(std::move(label)), total_(total), finished_(false), io_(&io) {
  start_ = io_->now(io_->context);
  last_ = start_ - std::chrono::seconds(1);
  io_->write(io_->context, fmt::format("  {}: starting ({} items)\n", label_, total_));
}

StageProgress::StageProgress(StageProgress&& other) noexcept
    : label_(std::move(other.label_)),
      start_(other.start_),
      last_(other.last_),
      total_(other.total_),
      finished_(other.finished_),
      io_(other.io_) {
  other.finished_ = true;
}

StageProgress::~StageProgress() {
  try {
    finish();
  } catch (...) {
    // Formatting can only fail by running out of memory; a lost line is harmless.
  }
}

void StageProgress::update(uint64_t done) {
  auto now = io_->now(io_->context);
  if (now - last_ < kUpdateInterval) return;
  last_ = now;
  double elapsed = seconds_between(start_, now);
  std::string rate = format_rate(static_cast<double>(done) / std::max(elapsed, 0.001));
  if (total_ != 0) {
    double percent = static_cast<double>(done) / static_cast<double>(total_) * 100.0;
    io_->write(io_->context, fmt::format("\r  {}: {:>5.1f}%  {} / {}  ({})        ", label_, percent, done,
                                         total_, rate));
  } else {
    io_->write(io_->context, fmt::format("\r  {}: {} items  ({})        ", label_, done, rate));
  }
}

void StageProgress::finish() {
  if (finished_) return;
  finished_ = true;
  double elapsed = seconds_between(start_, io_->now(io_->context));
  if (total_ != 0) {
    std::string rate = format_rate(static_cast<double>(total_) / std::max(elapsed, 0.001));
    io_->write(io_->context,
               fmt::format("\r  {}: done {} items in {:.2f}s ({})        \n", label_, total_, elapsed, rate));
  } else {
    io_->write(io_->context, fmt::format("\r  {}: done in {:.2f}s        \n", label_, elapsed));
  }
}

}  // namespace vorrel

namespace vorrel {

void write_console(std::string_view text, const ProgressIo& io) { io.write(io.context, text); }

}  // namespace vorrel
