// Helpers shared by the fuzz targets: a scratch directory for the readers
// that only take paths, splitting one input into parts, the fixed and the
// real table sets the decoding targets decode against, and the work limits
// that keep each input within the fuzzers' time and memory bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/decode/decode.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel::fuzz {

using Bytes = std::span<const std::uint8_t>;

// The decoders' default limits allow 2^23 values of 64 octets each: over
// 512 MB, and seconds of work, for a message of a few dozen octets. The
// fuzzers stop an input at 256 MB and one second, and the sanitizers make
// decoding ten to twenty times slower, so the decoding targets pass these
// lower limits instead: 2^16 values (4 MB) and 2^20 descriptor steps, still
// far above what the inputs need and low enough to reach both limit checks.
inline constexpr DecodeLimits kFuzzDecodeLimits{std::uint64_t{1} << 16, std::uint64_t{1} << 20};

// A directory of this process, made on first use and removed at exit. The
// table readers take paths, so a target writes its input there first.
class ScratchDirectory {
 public:
  static ScratchDirectory& get();

  const std::string& path() const { return path_; }
  std::string join(std::string_view name) const;
  // Writes `bytes` to the file `name` (relative, may name a subdirectory
  // made by make_subdirectory), replacing it. Aborts when it cannot.
  std::string write(std::string_view name, Bytes bytes) const;
  std::string write(std::string_view name, std::string_view text) const;
  // Makes `name` if needed and empties it; returns its path.
  std::string make_subdirectory(std::string_view name) const;
  // Removes the file or (empty or not) directory `name` if present.
  void remove(std::string_view name) const;

 private:
  ScratchDirectory();
  std::string path_;
};

// The parts of `input` between NUL octets, at most `max_parts`; the last
// part keeps any further NULs.
std::vector<Bytes> split_at_nul(Bytes input, std::size_t max_parts);

inline std::string_view as_text(Bytes bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A descriptor code from two section-3 octets: F in 2 bits, X in 6, Y in 8.
inline std::uint32_t code_of_octets(std::uint8_t high, std::uint8_t low) {
  return (std::uint32_t{high} >> 6) * 100000 + (std::uint32_t{high} & 0x3Fu) * 1000 + low;
}

// A small table set with elements of every kind the decoders read (numeric,
// text, code and flag tables, replication factors, widths up to 64),
// sequences that nest, replicate and refer to themselves, and code tables.
// Loaded once from text written to the scratch directory.
const TableSet& fixed_tables();

// ecCodes' copy of WMO master tables version 37, or null when ecCodes'
// definitions are not installed.
const TableSet* real_tables();

// Touches every decoded value in decoding order, so that a result whose
// columns or text indices are inconsistent fails under the sanitizers.
void consume(const DecodedValues& values);

}  // namespace quorvel::fuzz
