// Linked into every fuzz target itself: a static library member that no
// target refers to would be left out.
//
// AddressSanitizer keeps up to 256 MB of freed memory in quarantine and holds
// on to freed pages, which the fuzzers' 256 MB limit would count against the
// code under test. A smaller quarantine still catches a use of memory freed
// shortly before, and released pages keep the resident size near what the
// code itself holds.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=4:thread_local_quarantine_size_kb=64:malloc_context_size=8:"
         "allocator_release_to_os_interval_ms=500";
}
