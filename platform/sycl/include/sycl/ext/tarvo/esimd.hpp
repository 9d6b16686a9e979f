// Explicit-SIMD extension of the SYCL stand-in.
//
// An explicit-SIMD work-item is one host work-item of an nd_range launch (on
// its own fiber when the group has several), so kernel bodies written against
// these names run on the host and give the numbers the device would. Misuse
// that the hardware leaves undefined (misaligned block access, shared local
// memory used past its declared size or before slm_init, accessor offsets
// past the accessor's range) raises sycl::exception (errc::kernel) on the
// launch's event instead of passing silently.
#pragma once

#include "../../sycl.hpp"
#include "../../detail/esimd_simd.hpp"
#include "../../detail/esimd_memory.hpp"
