#pragma once
// Console voice of a pipeline stage: a starting line, throttled in-place
// updates and one closing line with the elapsed time, all on standard error.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorrel {

// Where a reporter reads the time and writes its lines. The default reads the
// monotonic clock and writes each line with one write to standard error; tests
// substitute both to make the output exact.
struct ProgressIo {
  using Clock = std::chrono::steady_clock;
  Clock::time_point (*now)(void* context) = nullptr;
  void (*write)(void* context, std::string_view line) = nullptr;
  void* context = nullptr;

  static const ProgressIo& standard();
};

class StageProgress {
 public:
  using Clock = ProgressIo::Clock;

  // Writes "  {label}: starting ({total} items)". total 0 means no item count.
  static StageProgress start(std::string label, uint64_t total, const ProgressIo& io = ProgressIo::standard());

  StageProgress(StageProgress&& other) noexcept;
  StageProgress(const StageProgress&) = delete;
  StageProgress& operator=(const StageProgress&) = delete;
  StageProgress& operator=(StageProgress&&) = delete;
  // Discarding a reporter finishes it.
  ~StageProgress();

  // Reports `done` items; writes at most one line per 200 ms.
  void update(uint64_t done);
  // Writes the closing line; later calls (and the destructor) write nothing.
  void finish();

 private:
  StageProgress(std::string label, uint64_t total, const ProgressIo& io);

  std::string label_;
  Clock::time_point start_;
  Clock::time_point last_;
  uint64_t total_;
  bool finished_;
  const ProgressIo* io_;
};

// "{:.1}M/s", "{:.1}k/s" or "{:.0}/s" by the unrounded rate.
std::string format_rate(double items_per_second);

// Non-negative difference b − a in seconds (whole seconds + nanoseconds / 1e9).
double seconds_between(ProgressIo::Clock::time_point a, ProgressIo::Clock::time_point b);

}  // namespace vorrel

namespace vorrel {

// Writes one complete console line (summary lines, warnings) to standard error
// with one write call.
void write_console(std::string_view text, const ProgressIo& io = ProgressIo::standard());

}  // namespace vorrel
