// The generated front of the 1D complex kernel texts, embedded in the library.
//
// fft_front_<form>_<prec>: form sg (sub-group lane pairs, cl_tarvo_subgroups)
// or nsg (one complex value per work-item, NONSUBGRP); prec d or s. Each text
// holds the precision types, the twiddle macros, NEED_FFT_FUNC, the
// straight-line transforms fft_1_s .. fft_64_s and the generic routines.
// Whole module texts (front + module kernels) are generated the same way; the
// kernel-text table (dft/gpu/kernel_texts.def) declares all of them.
#ifndef OVX_DFT_GPU_KERNELS_FFT_FRONT_HPP
#define OVX_DFT_GPU_KERNELS_FFT_FRONT_HPP

#include "dft/gpu/kernel_texts.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu_kernels {

inline const char* fft_front_sg_text(bool dbl) { return dbl ? fft_front_sg_d : fft_front_sg_s; }
inline const char* fft_front_nsg_text(bool dbl) { return dbl ? fft_front_nsg_d : fft_front_nsg_s; }

}  // namespace gpu_kernels
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
