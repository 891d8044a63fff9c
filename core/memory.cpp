#include "core/memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <string>

#include <fmt/format.h>

namespace vorrel {
namespace {

constexpr uint64_t kUnlimited = std::numeric_limits<uint64_t>::max();

uint64_t page_size() {
  const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

uint64_t physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  return pages > 0 ? saturating_bytes(static_cast<uint64_t>(pages), page_size()) : kUnlimited;
}

// The first line of a file as a byte count; "max", unreadable or unparsable
// text counts as no limit.
uint64_t limit_in_file(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  if (!std::getline(file, text)) return kUnlimited;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end != text.data() ? value : kUnlimited;
}

// Lines of /proc/self/cgroup are "id:controllers:path"; v2 has "0::path".
uint64_t cgroup_limit() {
  std::ifstream file("/proc/self/cgroup");
  uint64_t limit = kUnlimited;
  std::string line;
  while (std::getline(file, line)) {
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::string path = line.substr(second + 1);
    if (controllers.empty()) {
      // A group is bounded by every ancestor's limit too.
      for (;;) {
        limit = std::min(limit, limit_in_file("/sys/fs/cgroup" + path + "/memory.max"));
        if (path.empty() || path == "/") break;
        path.resize(path.rfind('/'));
      }
    } else if (controllers.find("memory") != std::string::npos) {
      limit = std::min(limit, limit_in_file("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes"));
    }
  }
  return limit;
}

// Total and data pages in use, from /proc/self/statm (size resident shared text lib data dt).
struct UsedMemory {
  uint64_t address_space = 0, data = 0;
};
UsedMemory used_memory() {
  std::ifstream file("/proc/self/statm");
  uint64_t fields[6] = {};
  for (uint64_t& field : fields) file >> field;
  return {saturating_bytes(fields[0], page_size()), saturating_bytes(fields[5], page_size())};
}

uint64_t remaining_under(int resource, uint64_t used) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  const uint64_t cap = static_cast<uint64_t>(limit.rlim_cur);
  return cap > used ? cap - used : 0;
}

}  // namespace

uint64_t saturating_bytes(uint64_t count, uint64_t size) {
  uint64_t bytes = 0;
  return __builtin_mul_overflow(count, size, &bytes) ? kUnlimited : bytes;
}

uint64_t obtainable_memory_bytes() {
  const UsedMemory used = used_memory();
  return std::min({physical_memory(), cgroup_limit(), remaining_under(RLIMIT_AS, used.address_space),
                   remaining_under(RLIMIT_DATA, used.data)});
}

InternalError allocation_failure(std::string_view what, uint64_t bytes) {
  return {fmt::format("could not allocate {} ({} bytes)", what, bytes), ErrorKind::AllocationFailure};
}

Status check_obtainable(std::string_view what, uint64_t bytes) {
  const uint64_t obtainable = obtainable_memory_bytes();
  if (bytes <= obtainable) return std::nullopt;
  InternalError error = allocation_failure(what, bytes);
  error.message += fmt::format("; the process can obtain at most {} bytes", obtainable);
  return error;
}

}  // namespace vorrel
