// Compute of nodes committed on the CPU transform library, with the verbose
// line of each call.
#ifndef OVX_FFTW_OVX_FFTW_CPU_HPP
#define OVX_FFTW_OVX_FFTW_CPU_HPP

#include <cstddef>
#include <cstdint>

struct DFTI_DESCRIPTOR;

// Runs the node's forward (backward) entry on as many arrays as the node
// takes (a1 first): DFTI_STATUS_BAD_DESCRIPTOR for a bad node,
// DFTI_STATUS_UNCOMMITTED_DESCRIPTOR when not committed,
// DFTI_STATUS_INVALID_DESCRIPTOR for a missing array, else the entry's status. In verbose mode the call is timed and
// described.
std::int64_t dfti_compute_forward(DFTI_DESCRIPTOR* node, void* a1, void* a2 = nullptr, void* a3 = nullptr,
                                  void* a4 = nullptr);
std::int64_t dfti_compute_backward(DFTI_DESCRIPTOR* node, void* a1, void* a2 = nullptr, void* a3 = nullptr,
                                   void* a4 = nullptr);

// Appends the "FFT(" description of a CPU node for `direction` (0 forward,
// 1 backward) at *pos, within *remaining characters.
void dfti_describe_for_verbose(DFTI_DESCRIPTOR* node, char** pos, std::size_t* remaining, int direction);
// Builds the whole verbose text of a call into `text` (512 bytes) and prints it.
void dfti_print_verbose(DFTI_DESCRIPTOR* node, const void* a1, const void* a2, double seconds, int direction);
// The text dfti_print_verbose prints, without printing it.
void dfti_verbose_text(DFTI_DESCRIPTOR* node, const void* a1, const void* a2, int direction, char* text);

#endif
