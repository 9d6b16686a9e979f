#pragma OPENCL EXTENSION cl_khr_fp64 : enable
typedef double rtype;
#define R2C_NAME(x) x##_d
