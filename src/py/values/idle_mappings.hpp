// IdleMappings: mappings no longer in use, kept for the next large decode.
// One lives in each module's state; the module's clear releases it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "py/values/mapping.hpp"

namespace quorvel::py {

// Decoding the messages of a file one after another would otherwise have the
// kernel clear the same amount of fresh memory for every message. Idle
// mappings are marked free to the kernel, which takes their pages back
// whenever it needs them; until it does, using them again costs nothing. At
// most kMaxIdleBytes stay mapped this way, so that a process that decodes a
// large message once holds little once it lets go of the values.
//
// Decodes fill their arrays without the GIL, from any thread, so a mutex
// guards the cache. A new IdleMappings is the empty, open cache.
class IdleMappings {
 public:
  static constexpr std::size_t kMaxIdleBytes = 64 * 1024 * 1024;

  // A mapping of at least `bytes`: the smallest idle one large enough and
  // at most `largest`, else a new one (the idle ones are unmapped first).
  Mapping take(std::size_t bytes, std::size_t largest = SIZE_MAX);

  // Keeps `mapping` idle when it fits, in place of smaller idle ones if it
  // must; otherwise unmaps it.
  void give_back(Mapping mapping);

  // Unmaps the idle mappings and keeps none from now on: values may outlive
  // the module's clear and give their mappings back after it.
  void close();

 private:
  void unmap_all();

  std::mutex mutex_;
  std::array<Mapping, 4> idle_{};
  std::size_t idle_bytes_ = 0;
  bool closed_ = false;
};

}  // namespace quorvel::py
