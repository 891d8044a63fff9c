#pragma once
// USD crate (binary) files: the reader extracts the Mesh prim with the lowest
// path index; the writer stores a mesh as the one-prim layer "/proxy" in a
// version 0.8.0 crate. The container pieces below (value word, chunk framing
// around LZ4 blocks, integer coding, byte cursor, the writer's tables) are
// shared by both directions.

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "io/mesh_io.h"

namespace vorrel::io {

IoResult<MeshWithAttributes> read_usdc(const std::string& path);
IoStatus write_usdc(const std::string& path, const MeshWithAttributes& mesh);

namespace usdc {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;
// A failure text of the container, reported by the reader as a UsdParse error.
template <class T>
using Parsed = Expected<T, std::string>;

static_assert(std::endian::native == std::endian::little, "crate values are copied as little-endian bytes");

// Appends the value's little-endian bytes.
template <class T>
void append_le(Bytes& out, T value) {
  const size_t at = out.size();
  out.resize(at + sizeof value);
  std::memcpy(out.data() + at, &value, sizeof value);
}

inline constexpr uint64_t kHeaderSize = 88;
inline constexpr std::string_view kMagic = "PXR-USDC";

enum class SpecType : int32_t { Attribute = 1, Prim = 6, PseudoRoot = 7 };

// Type codes of the values this system reads or writes.
enum class ValueType : uint8_t {
  Int = 3,
  Double = 9,
  Token = 11,
  Float2 = 20,
  Double3 = 23,
  Float3 = 24,
  TokenVector = 41,
  Specifier = 42,
  Variability = 44,
};

// The 64-bit value word: flags in bits 61-63, type code in bits 48-55, and a
// 48-bit payload holding either a file offset or the value itself.
struct ValueRep {
  static constexpr uint64_t kArray = uint64_t{1} << 63;
  static constexpr uint64_t kInlined = uint64_t{1} << 62;
  static constexpr uint64_t kCompressed = uint64_t{1} << 61;
  static constexpr uint64_t kPayloadMask = (uint64_t{1} << 48) - 1;

  uint64_t bits = 0;

  static ValueRep make(ValueType type, uint64_t flags, uint64_t payload) {
    return {flags | (uint64_t{static_cast<uint8_t>(type)} << 48) | (payload & kPayloadMask)};
  }
  static ValueRep inlined(ValueType type, uint64_t payload) { return make(type, kInlined, payload); }

  bool is_array() const { return (bits & kArray) != 0; }
  bool is_inlined() const { return (bits & kInlined) != 0; }
  bool is_compressed() const { return (bits & kCompressed) != 0; }
  uint8_t type() const { return static_cast<uint8_t>(bits >> 48); }
  bool has_type(ValueType t) const { return type() == static_cast<uint8_t>(t); }
  uint64_t payload() const { return bits & kPayloadMask; }
  friend bool operator==(ValueRep, ValueRep) = default;
};

// Sequential little-endian reads over the whole file; every read is bounded by
// the end of the file and fails with "unexpected end of file".
class ByteCursor {
 public:
  explicit ByteCursor(ByteView file, uint64_t position = 0) : file_(file), position_(position) {}

  uint64_t position() const { return position_; }
  uint64_t file_size() const { return file_.size(); }
  Parsed<uint64_t> read_u64();
  Parsed<ByteView> take(uint64_t count);

 private:
  ByteView file_;
  uint64_t position_;
};

// One chunk-count byte 0, then a single LZ4 block of all of `bytes` (inputs
// beyond one LZ4 block's limit are split into several chunks).
Bytes compress_chunked(ByteView bytes);
// Decompresses a chunk-framed block into at most `expected_size` bytes.
Parsed<Bytes> decompress_chunked(ByteView block, uint64_t expected_size);
// The same into storage of the caller, whose size bounds the output; returns
// the number of bytes produced.
Parsed<uint64_t> decompress_chunked_into(ByteView block, std::span<uint8_t> out);
// The output room decompress_chunked gives a block: the expected size, capped
// by the most that a block of this length can expand to.
uint64_t decompressed_capacity(ByteView block, uint64_t expected_size);

// Appends the stored integer coding of `values`: u64 block size, then the
// chunk-framed block of the common value, 2-bit codes and delta payloads.
void write_compressed_ints(std::span<const int32_t> values, Bytes& out);
// Reads the stored form of `count` values at the cursor and advances past it.
Parsed<std::vector<int32_t>> read_compressed_ints(ByteCursor& cursor, uint64_t count);

// The decompressed codes and payloads of an integer coding. Only the bytes the
// decompressor produced are held; the storage is never zero-filled.
struct IntCoding {
  std::unique_ptr<uint8_t[]> storage;
  uint64_t size = 0;

  ByteView bytes() const { return {storage.get(), size}; }
};

// The two steps of read_compressed_ints, for callers that decode into storage
// of their own: the coding of `count` values (checked to hold at least the
// codes), then the values decoded into all of `out`.
Parsed<IntCoding> read_int_coding(ByteCursor& cursor, uint64_t count);
std::optional<std::string> decode_ints(ByteView coding, std::span<int32_t> out);

// Decodes a coding in consecutive runs, so that callers can check or convert
// the values in small blocks without an array of them all.
class IntDecoder {
 public:
  // `coding` holds at least the common value and the codes of `count` values.
  IntDecoder(ByteView coding, uint64_t count);

  uint64_t remaining() const { return count_ - done_; }
  // Decodes the next out.size() values (at most remaining()). Every run but
  // the last must be a whole number of groups, a multiple of four values.
  std::optional<std::string> next(std::span<int32_t> out);

 private:
  ByteView coding_;
  uint64_t count_;
  uint64_t done_ = 0;
  uint64_t payload_;  // position of the next payload byte
  uint32_t running_ = 0;
  int32_t common_ = 0;
};

// The tables of one crate under construction. Token, field and fieldset
// indices are handed out by first use, so the order of calls fixes the tables.
struct CrateField {
  uint32_t name = 0;  // token index
  ValueRep rep;
  friend bool operator==(const CrateField&, const CrateField&) = default;
};

struct CrateSpec {
  int32_t path = 0;
  int32_t fieldset = 0;  // start position in the fieldset array
  SpecType type = SpecType::Attribute;
};

struct CrateTables {
  std::vector<std::string> tokens;
  std::vector<CrateField> fields;
  std::vector<int32_t> fieldsets;  // each fieldset ends with -1
  Bytes data;                      // values; file offset = kHeaderSize + position
  std::vector<int32_t> path_indices;
  std::vector<int32_t> element_tokens;  // negative: a property path
  std::vector<int32_t> jumps;
  std::vector<CrateSpec> specs;
};

class CrateWriter {
 public:
  CrateWriter() = default;

  uint32_t intern_token(std::string_view text);
  uint32_t intern_field(std::string_view name, ValueRep rep);
  int32_t intern_fieldset(const std::vector<int32_t>& field_indices);

  // Value writers append to the data and return the value word locating it.
  ValueRep write_token_vector(std::span<const std::string_view> names);
  ValueRep write_float_tuples(ValueType type, std::span<const float> components);
  // A float3[] of the vectors rounded to float32.
  ValueRep write_float3_array(std::span<const Vec3> vectors);
  ValueRep write_int_array(std::span<const int32_t> values);

  void add_path(int32_t path_index, int32_t element_token, int32_t jump);
  void add_spec(int32_t path_index, int32_t fieldset, SpecType type);

  const CrateTables& tables() const& { return tables_; }
  const CrateTables& tables() const&& = delete;  // would dangle

 private:
  CrateTables tables_;
  absl::flat_hash_map<std::string, uint32_t> token_index_;
  absl::flat_hash_map<std::pair<uint32_t, uint64_t>, uint32_t> field_index_;
  absl::flat_hash_map<std::vector<int32_t>, int32_t> fieldset_start_;
};

// Inlined value words of the layer and prim metadata.
ValueRep token_value(uint32_t token_index);
inline constexpr ValueRep kMetersPerUnitOne{0x400900003F800000};
inline constexpr ValueRep kSpecifierDef{ValueRep::kInlined | (uint64_t{42} << 48)};
inline constexpr ValueRep kVariabilityUniform{ValueRep::kInlined | (uint64_t{44} << 48) | 1};

// The tables of the "/proxy" layer for `mesh`.
CrateWriter build_proxy_crate(const MeshWithAttributes& mesh);

// The whole file: header, data, the six sections and the table of contents.
IoStatus save_crate(const std::string& path, const CrateTables& tables);

}  // namespace usdc
}  // namespace vorrel::io
