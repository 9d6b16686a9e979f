/* The GPU maker's OpenCL additions, as offered by this platform's OpenCL
 * library (the module "OpenCL.dll", see platform/opencl/SUBGROUPS.md).
 *
 * - Devices report the extension "cl_tarvo_subgroups".
 * - clGetDeviceInfo(device, CL_DEVICE_SUB_GROUP_SIZES_TARVO, ...) returns the
 *   sub-group sizes of the device profile in force as an array of size_t.
 * - Build options "-cl-tarvo-256-GRF-per-thread" and
 *   "-Dcl_tarvo_subgroups_long" are accepted.
 *
 * Every entry point forwards to the machine's ICD loader "libOpenCL.so.1",
 * or to the library named by the environment variable OVXPLAT_OPENCL_ICD
 * (read once, at the first call). When that library cannot be loaded, or
 * lacks an entry point, the entry point fails: CL_PLATFORM_NOT_FOUND_KHR from
 * clGetPlatformIDs, CL_INVALID_OPERATION from the others (through errcode_ret
 * and a null result where the entry point returns an object).
 */
#ifndef OVXPLAT_CL_TARVO_H
#define OVXPLAT_CL_TARVO_H

#define CL_TARVO_SUBGROUPS_EXTENSION_NAME "cl_tarvo_subgroups"

/* clGetDeviceInfo: size_t[] of the supported sub-group sizes. */
#define CL_DEVICE_SUB_GROUP_SIZES_TARVO 0x4E10

#endif
