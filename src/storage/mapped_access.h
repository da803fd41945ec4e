#pragma once

#include <cstddef>

namespace torrent
{

// Access to the memory of mapped files that survives the file shrinking under the mapping.
// A page of a mapping that lies past the end of its file raises SIGBUS when touched (another
// program truncated the file, a disk failed); inside these calls the fault ends the call
// with false instead of killing the process. The handler is installed once per process;
// a SIGBUS outside these calls keeps its usual effect (or reaches a handler installed
// before ours).
//
// The guard is per thread (a thread-local jump target), so calls on different threads do
// not interfere. Cost per call: one sigsetjmp that does not save the signal mask.

// Installs the process's SIGBUS handler; called by every mapping's owner before a view is
// used. Idempotent and thread-safe.
void install_mapping_fault_handler() noexcept;

// memcpy(to, from, n); false when a mapped page faulted (the copy is then partial).
[[nodiscard]] bool guarded_copy(void* to, const void* from, std::size_t n) noexcept;

// Runs step(context); false when a mapped page faulted meanwhile. The step is abandoned at
// the fault, so it must hold nothing that needs cleaning up (no allocation, no lock, no
// object with a destructor) and must not throw.
[[nodiscard]] bool guarded_run(void (*step)(void*) noexcept, void* context) noexcept;

} // namespace torrent
