// Byte-level pieces of the crate format shared by its reader and writer.

#include <lz4.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>

#include <fmt/format.h>

#include "core/huge_pages.h"
#include "io/usdc.h"

namespace vorrel::io::usdc {
namespace {

const std::string kUnexpectedEnd = "unexpected end of file";

// An LZ4 block never expands data by more than 255 times (a run-length byte of
// 255 stands for 255 output bytes), so no block of `compressed_size` bytes can
// need more room than this, whatever size the file claims.
uint64_t max_lz4_output(uint64_t compressed_size) {
  if (compressed_size > UINT64_MAX / 256) return UINT64_MAX;
  return compressed_size * 255 + 64;
}

// A length continued in extension bytes: each byte adds its value, 255 means
// another byte follows.
Parsed<uint64_t> read_length_extension(ByteView block, uint64_t& p) {
  uint64_t sum = 0;
  for (;;) {
    if (p >= block.size()) return std::string("lz4: expected another byte, found none");
    const uint8_t b = block[p++];
    sum += b;
    if (b != 255) return sum;
  }
}

// A plain sequence-by-sequence decoder of one raw block into `out`. It only
// runs after liblz4 refused a block, since liblz4 reports every failure as one
// negative number: this decoder names the fault, and it accepts blocks that are
// well-formed but break liblz4's end-of-block conventions (a match in the last
// bytes of the output).
Parsed<uint64_t> decompress_block_checked(ByteView block, std::span<uint8_t> out) {
  uint64_t p = 0;
  uint64_t produced = 0;
  const auto too_small = [&](uint64_t length) {
    return fmt::format("lz4: provided output is too small for the decompressed data, actual {}, expected {}",
                       out.size(), produced + length);
  };
  for (;;) {
    if (p >= block.size()) return std::string("lz4: expected another byte, found none");
    const uint8_t token = block[p++];
    uint64_t literals = token >> 4;
    if (literals == 15) {
      Parsed<uint64_t> more = read_length_extension(block, p);
      if (!more) return more.error();
      literals += *more;
    }
    if (literals > block.size() - p) return std::string("lz4: literal is out of bounds of the input");
    if (literals > out.size() - produced) return too_small(literals);
    // An empty output has no address to copy to, even for no bytes.
    if (literals > 0) std::memcpy(out.data() + produced, block.data() + p, literals);
    p += literals;
    produced += literals;
    if (p == block.size()) return produced;

    if (block.size() - p < 2) return std::string("lz4: expected another byte, found none");
    const uint64_t offset = block[p] | (uint64_t{block[p + 1]} << 8);
    p += 2;
    if (offset == 0) return std::string("lz4: 0 is not a valid match offset");
    uint64_t match = 4 + (token & 15);
    if (match == 19) {
      Parsed<uint64_t> more = read_length_extension(block, p);
      if (!more) return more.error();
      match += *more;
    }
    if (offset > produced) return std::string("lz4: the offset to copy is not contained in the decompressed buffer");
    if (match > out.size() - produced) return too_small(match);
    // Byte by byte: an offset shorter than the match repeats the bytes just written.
    for (uint64_t k = 0; k < match; ++k, ++produced) out[produced] = out[produced - offset];
  }
}

// Decompresses one raw block into `room`; returns the bytes written or the
// failure text.
Parsed<uint64_t> decompress_block(ByteView block, std::span<uint8_t> room) {
  if (block.empty()) return uint64_t{0};
  if (block.size() <= INT_MAX && room.size() <= INT_MAX) {
    const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()),
                                      reinterpret_cast<char*>(room.data()), static_cast<int>(block.size()),
                                      static_cast<int>(room.size()));
    if (n >= 0) return static_cast<uint64_t>(n);
  }
  return decompress_block_checked(block, room);
}

// The most frequent delta; ties in [-512, 511] go to the smallest value, and a
// delta outside that range must be strictly more frequent to win.
int32_t choose_common_value(std::span<const int32_t> deltas) {
  constexpr int32_t kNear = 512;
  // Long arrays count a wider band of deltas directly (vertex indices of nearby
  // faces differ by little); hashing every value costs far more than clearing
  // the table, which would dominate for the short arrays of the crate tables.
  const int32_t direct = deltas.size() >= (size_t{1} << 16) ? (int32_t{1} << 16) : kNear;
  std::vector<uint64_t> direct_counts(2 * static_cast<size_t>(direct), 0);
  absl::flat_hash_map<int32_t, uint64_t> far_counts;
  // Runs of equal deltas (a face-size array is one long run) are counted at
  // once rather than bumping the same counter for every value.
  for (size_t i = 0; i < deltas.size();) {
    const int32_t d = deltas[i];
    size_t run_end = i + 1;
    while (run_end < deltas.size() && deltas[run_end] == d) ++run_end;
    const uint64_t run = run_end - i;
    if (d >= -direct && d < direct) {
      direct_counts[static_cast<size_t>(int64_t{d} + direct)] += run;
    } else {
      far_counts[d] += run;
    }
    i = run_end;
  }
  int32_t best = 0;
  uint64_t best_count = 0;
  // Among equally frequent far deltas, the smallest keeps the choice independent
  // of the map's iteration order.
  int32_t best_far = 0;
  uint64_t best_far_count = 0;
  const auto consider_far = [&](int32_t d, uint64_t count) {
    if (count > best_far_count || (count == best_far_count && d < best_far)) best_far = d, best_far_count = count;
  };
  for (int32_t d = -direct; d < direct; ++d) {
    const uint64_t count = direct_counts[static_cast<size_t>(int64_t{d} + direct)];
    if (count == 0) continue;
    if (d >= -kNear && d < kNear) {
      if (count > best_count) best = d, best_count = count;
    } else {
      consider_far(d, count);
    }
  }
  for (const auto& [d, count] : far_counts) consider_far(d, count);
  return best_far_count > best_count ? best_far : best;
}

// Writes the delta's payload at `payload` unless it is the common value, and
// returns its 2-bit code and the payload width.
std::pair<uint8_t, size_t> encode_delta(int32_t d, int32_t common, uint8_t* payload) {
  if (d == common) return {0, 0};
  if (d >= INT8_MIN && d <= INT8_MAX) {
    const int8_t v = static_cast<int8_t>(d);
    std::memcpy(payload, &v, 1);
    return {1, 1};
  }
  if (d >= INT16_MIN && d <= INT16_MAX) {
    const int16_t v = static_cast<int16_t>(d);
    std::memcpy(payload, &v, 2);
    return {2, 2};
  }
  std::memcpy(payload, &d, 4);
  return {3, 4};
}

constexpr std::array<uint8_t, 4> kCodeWidth = {0, 1, 2, 4};

// The delta of `code` whose payload starts at `payload`; at least four bytes
// must be readable there. Shifting the loaded word up and back sign-extends
// the payload's width without a branch per width.
int32_t decode_delta(uint8_t code, int32_t common, const uint8_t* payload) {
  if (code == 0) return common;
  uint32_t word = 0;
  std::memcpy(&word, payload, 4);
  const int shift = 32 - 8 * kCodeWidth[code];
  return static_cast<int32_t>(word << shift) >> shift;
}

// Where the four payloads of one code byte sit, so a whole group decodes
// without walking its codes one by one.
struct CodeGroup {
  std::array<uint8_t, 4> offset{};
  std::array<uint8_t, 4> shift{};  // 32 - 8 * width; unused for the common value
  std::array<bool, 4> common{};
  uint8_t size = 0;  // payload bytes of the group
};

constexpr std::array<CodeGroup, 256> make_code_groups() {
  std::array<CodeGroup, 256> groups{};
  for (size_t byte = 0; byte < 256; ++byte) {
    CodeGroup& g = groups[byte];
    for (size_t k = 0; k < 4; ++k) {
      const uint8_t code = (byte >> (2 * k)) & 3;
      g.offset[k] = g.size;
      g.shift[k] = static_cast<uint8_t>(code == 0 ? 0 : 32 - 8 * kCodeWidth[code]);
      g.common[k] = code == 0;
      g.size = static_cast<uint8_t>(g.size + kCodeWidth[code]);
    }
  }
  return groups;
}

constexpr std::array<CodeGroup, 256> kCodeGroups = make_code_groups();

// Decodes the whole groups of `codes` while at least `kGroupRoom` bytes of
// `payloads` remain from `p` on (every load of a group then stays inside
// them); returns the number of groups done and advances `p` and `running`.
constexpr uint64_t kGroupRoom = 20;

uint64_t decode_full_groups_scalar(const uint8_t* codes, uint64_t group_count, int32_t common, ByteView payloads,
                                   uint64_t& position, uint32_t& running, int32_t* out) {
  uint64_t p = position;  // kept local: the stores to `out` could alias it
  uint64_t group = 0;
  for (; group < group_count && payloads.size() - p >= kGroupRoom; ++group) {
    const CodeGroup& g = kCodeGroups[codes[group]];
    const uint8_t* payload = payloads.data() + p;
    for (size_t k = 0; k < 4; ++k) {
      uint32_t word = 0;
      std::memcpy(&word, payload + g.offset[k], 4);
      const int32_t stored = static_cast<int32_t>(word << g.shift[k]) >> g.shift[k];
      running += static_cast<uint32_t>(g.common[k] ? common : stored);
      out[4 * group + k] = static_cast<int32_t>(running);
    }
    p += g.size;
  }
  position = p;
  return group;
}

#if defined(__x86_64__)
// The same with one byte shuffle per group: the payloads are moved to the low
// bytes of four 32-bit lanes, sign-extended by (u ^ m) - m with m the sign bit
// of each width, the common value is put into the lanes without payload, and
// the four deltas are summed onto the running value in two shifted additions.
struct GroupShuffle {
  std::array<uint8_t, 16> bytes{};     // source byte per lane byte; 0x80 gives zero
  std::array<uint32_t, 4> sign_bit{};  // 0 for the common value
};

constexpr std::array<GroupShuffle, 256> make_group_shuffles() {
  std::array<GroupShuffle, 256> shuffles{};
  for (size_t byte = 0; byte < 256; ++byte) {
    const CodeGroup& g = kCodeGroups[byte];
    GroupShuffle& s = shuffles[byte];
    for (size_t k = 0; k < 4; ++k) {
      const uint8_t width = kCodeWidth[(byte >> (2 * k)) & 3];
      for (size_t j = 0; j < 4; ++j) {
        s.bytes[4 * k + j] = j < width ? static_cast<uint8_t>(g.offset[k] + j) : 0x80;
      }
      s.sign_bit[k] = width == 0 ? 0 : uint32_t{1} << (8 * width - 1);
    }
  }
  return shuffles;
}

constexpr std::array<GroupShuffle, 256> kGroupShuffles = make_group_shuffles();

__attribute__((target("ssse3"))) uint64_t decode_full_groups_ssse3(const uint8_t* codes, uint64_t group_count,
                                                                   int32_t common, ByteView payloads,
                                                                   uint64_t& position, uint32_t& running,
                                                                   int32_t* out) {
  // Kept local: vector stores may alias anything, so a position held by
  // reference would go through memory on every group.
  uint64_t p = position;
  const __m128i zero = _mm_setzero_si128();
  const __m128i commons = _mm_set1_epi32(common);
  __m128i sum = _mm_set1_epi32(static_cast<int32_t>(running));
  uint64_t group = 0;
  for (; group < group_count && payloads.size() - p >= kGroupRoom; ++group) {
    const uint8_t code_byte = codes[group];
    const GroupShuffle& s = kGroupShuffles[code_byte];
    const __m128i payload = _mm_loadu_si128(reinterpret_cast<const __m128i*>(payloads.data() + p));
    const __m128i sign = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.sign_bit.data()));
    __m128i deltas = _mm_shuffle_epi8(payload, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.bytes.data())));
    deltas = _mm_sub_epi32(_mm_xor_si128(deltas, sign), sign);
    deltas = _mm_add_epi32(deltas, _mm_and_si128(_mm_cmpeq_epi32(sign, zero), commons));
    deltas = _mm_add_epi32(deltas, _mm_slli_si128(deltas, 4));
    deltas = _mm_add_epi32(deltas, _mm_slli_si128(deltas, 8));
    sum = _mm_add_epi32(sum, deltas);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * group), sum);
    sum = _mm_shuffle_epi32(sum, 0xFF);
    p += kCodeGroups[code_byte].size;
  }
  running = static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
  position = p;
  return group;
}
#endif

uint64_t decode_full_groups(const uint8_t* codes, uint64_t group_count, int32_t common, ByteView payloads, uint64_t& p,
                            uint32_t& running, int32_t* out) {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("ssse3")) {
    return decode_full_groups_ssse3(codes, group_count, common, payloads, p, running, out);
  }
#endif
  return decode_full_groups_scalar(codes, group_count, common, payloads, p, running, out);
}

}  // namespace

Parsed<uint64_t> ByteCursor::read_u64() {
  if (file_.size() < position_ || file_.size() - position_ < 8) return kUnexpectedEnd;
  uint64_t value = 0;
  std::memcpy(&value, file_.data() + position_, 8);
  position_ += 8;
  return value;
}

Parsed<ByteView> ByteCursor::take(uint64_t count) {
  if (file_.size() < position_ || file_.size() - position_ < count) return kUnexpectedEnd;
  const ByteView bytes = file_.subspan(position_, count);
  position_ += count;
  return bytes;
}

Bytes compress_chunked(ByteView bytes) {
  // One block holds at most LZ4_MAX_INPUT_SIZE bytes; anything longer is split
  // into chunks rather than written as a block the codec cannot produce.
  const size_t chunk_count = bytes.size() <= LZ4_MAX_INPUT_SIZE ? 0 : (bytes.size() - 1) / LZ4_MAX_INPUT_SIZE + 1;
  // Each block gets 1.1 times its input plus 20 bytes, more than the codec's
  // worst case, so compression cannot run out of room.
  const auto block_capacity = [](size_t input_size) { return input_size + input_size / 10 + 20; };
  Bytes out(1 + 4 * chunk_count + block_capacity(bytes.size()) + 20 * chunk_count);
  out[0] = static_cast<uint8_t>(chunk_count);
  size_t used = 1;
  const auto append_block = [&](ByteView input) {
    const int n = LZ4_compress_default(reinterpret_cast<const char*>(input.data()),
                                       reinterpret_cast<char*>(out.data() + used), static_cast<int>(input.size()),
                                       static_cast<int>(std::min<size_t>(block_capacity(input.size()), INT_MAX)));
    used += static_cast<size_t>(std::max(n, 0));
    return static_cast<uint32_t>(std::max(n, 0));
  };
  if (chunk_count == 0) {
    append_block(bytes);
  } else {
    for (size_t start = 0; start < bytes.size(); start += LZ4_MAX_INPUT_SIZE) {
      const size_t size_at = used;
      used += 4;
      const uint32_t size = append_block(bytes.subspan(start, std::min<size_t>(LZ4_MAX_INPUT_SIZE, bytes.size() - start)));
      std::memcpy(out.data() + size_at, &size, 4);
    }
  }
  out.resize(used);
  return out;
}

Parsed<uint64_t> decompress_chunked_into(ByteView block, std::span<uint8_t> out) {
  if (block.empty()) return uint64_t{0};
  const uint8_t chunk_count = block[0];
  if (chunk_count == 0) return decompress_block(block.subspan(1), out);
  uint64_t produced = 0;
  uint64_t p = 1;
  for (uint8_t chunk = 0; chunk < chunk_count; ++chunk) {
    if (block.size() - p < 4) return kUnexpectedEnd;
    uint32_t size = 0;
    std::memcpy(&size, block.data() + p, 4);
    if (block.size() - p - 4 < size) return std::string("lz4 chunk out of bounds");
    Parsed<uint64_t> n = decompress_block(block.subspan(p + 4, size), out.subspan(produced));
    if (!n) return n.error();
    produced += *n;
    p += 4 + uint64_t{size};
  }
  return produced;
}

uint64_t decompressed_capacity(ByteView block, uint64_t expected_size) {
  return block.empty() ? 0 : std::min(expected_size, max_lz4_output(block.size()));
}

Parsed<Bytes> decompress_chunked(ByteView block, uint64_t expected_size) {
  Bytes out(decompressed_capacity(block, expected_size));
  Parsed<uint64_t> produced = decompress_chunked_into(block, out);
  if (!produced) return produced.error();
  out.resize(std::min<uint64_t>(*produced, out.size()));
  return out;
}

void write_compressed_ints(std::span<const int32_t> values, Bytes& out) {
  std::vector<int32_t> deltas(values.size());
  uint32_t previous = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    deltas[i] = static_cast<int32_t>(static_cast<uint32_t>(values[i]) - previous);
    previous = static_cast<uint32_t>(values[i]);
  }
  const int32_t common = choose_common_value(deltas);

  const size_t code_bytes = (values.size() + 3) / 4;
  Bytes buffer(4 + code_bytes + 4 * values.size());
  std::memcpy(buffer.data(), &common, 4);
  uint8_t* const codes = buffer.data() + 4;
  size_t used = 4 + code_bytes;
  for (size_t group = 0; group < code_bytes; ++group) {
    uint8_t code_byte = 0;
    const size_t end = std::min(deltas.size(), 4 * group + 4);
    for (size_t i = 4 * group; i < end; ++i) {
      const auto [code, width] = encode_delta(deltas[i], common, buffer.data() + used);
      code_byte |= static_cast<uint8_t>(code << (2 * (i % 4)));
      used += width;
    }
    codes[group] = code_byte;
  }
  buffer.resize(used);
  const Bytes block = compress_chunked(buffer);
  append_le<uint64_t>(out, block.size());
  out.insert(out.end(), block.begin(), block.end());
}

Parsed<IntCoding> read_int_coding(ByteCursor& cursor, uint64_t count) {
  Parsed<uint64_t> size = cursor.read_u64();
  if (!size) return size.error();
  if (*size > cursor.file_size()) return std::string("compressed blob size out of bounds");
  Parsed<ByteView> block = cursor.take(*size);
  if (!block) return block.error();
  if (count == 0) return IntCoding{};

  // count is bounded by the caller (at most 1.6e9), so these sums cannot overflow.
  const uint64_t code_bytes = (count + 3) / 4;
  // Left uninitialised: only the bytes the decompressor produced are kept, and
  // the capacity is mostly room for payloads wider than the usual ones.
  IntCoding coding;
  const uint64_t capacity = decompressed_capacity(*block, 4 + code_bytes + 4 * count);
  coding.storage.reset(new uint8_t[capacity]);
  advise_huge_pages(coding.storage.get(), capacity);
  Parsed<uint64_t> produced = decompress_chunked_into(*block, {coding.storage.get(), capacity});
  if (!produced) return produced.error();
  coding.size = std::min(*produced, capacity);
  if (coding.size < 4 + code_bytes) return std::string("compressed ints truncated");
  return coding;
}

IntDecoder::IntDecoder(ByteView coding, uint64_t count)
    : coding_(coding), count_(count), payload_(4 + (count + 3) / 4) {
  if (count > 0) std::memcpy(&common_, coding.data(), 4);
}

std::optional<std::string> IntDecoder::next(std::span<int32_t> out) {
  // Runs past the last value would read codes beyond their end, and a run
  // after a partial group would write before `out`; callers never ask for
  // either, and nothing is touched if they do.
  if (out.size() > remaining() || (done_ % 4 != 0 && !out.empty())) return std::string("int runs out of step");
  const uint8_t* const codes = coding_.data() + 4;
  const uint64_t end = done_ + out.size();
  const uint64_t full_end = end / 4;
  uint64_t group = done_ / 4;
  const auto out_at = [&](uint64_t g) { return out.data() + (4 * g - done_); };
  group += decode_full_groups(codes + group, full_end - group, common_, coding_, payload_, running_, out_at(group));
  if (group < full_end) {
    // Fewer than kGroupRoom payload bytes are left: the remaining whole groups
    // decode from a copy padded with zeros. Groups of the common value take no
    // bytes, so any number of them may follow; a group that reached into the
    // padding shows as a position past the bytes copied.
    std::array<uint8_t, 2 * kGroupRoom> padded{};
    const uint64_t left = coding_.size() - payload_;
    std::memcpy(padded.data(), coding_.data() + payload_, left);
    uint64_t p = 0;
    group += decode_full_groups(codes + group, full_end - group, common_, ByteView(padded).first(left + kGroupRoom),
                                p, running_, out_at(group));
    if (p > left) return std::string("int payload truncated");
    payload_ += p;
  }
  if (group * 4 < end) {
    // The last, partial group value by value, each payload checked against the
    // end; codes past the last value are not looked at.
    const uint8_t code_byte = codes[group];
    std::array<uint8_t, kGroupRoom> scratch{};
    const uint64_t left = std::min<uint64_t>(coding_.size() - payload_, scratch.size());
    std::memcpy(scratch.data(), coding_.data() + payload_, left);
    uint64_t offset = 0;
    for (uint64_t i = 4 * group; i < end; ++i) {
      const uint8_t code = (code_byte >> (2 * (i % 4))) & 3;
      if (left - offset < kCodeWidth[code]) return std::string("int payload truncated");
      running_ += static_cast<uint32_t>(decode_delta(code, common_, scratch.data() + offset));
      offset += kCodeWidth[code];
      out[i - done_] = static_cast<int32_t>(running_);
    }
    payload_ += offset;
  }
  done_ = end;
  return std::nullopt;
}

std::optional<std::string> decode_ints(ByteView coding, std::span<int32_t> out) {
  if (out.empty()) return std::nullopt;
  if (coding.size() < 4 + (out.size() + 3) / 4) return std::string("compressed ints truncated");
  return IntDecoder(coding, out.size()).next(out);
}

Parsed<std::vector<int32_t>> read_compressed_ints(ByteCursor& cursor, uint64_t count) {
  Parsed<IntCoding> coding = read_int_coding(cursor, count);
  if (!coding) return coding.error();
  std::vector<int32_t> values(count);
  if (std::optional<std::string> failure = decode_ints(coding->bytes(), values)) return *failure;
  return values;
}

}  // namespace vorrel::io::usdc
