/* Kernels of the general 1D complex backend without sub-groups. The pass
   kernels themselves are generated at commit and appended after this text. */

/* Start (in complex elements) of batch transform z: z is split over the
   three batch records of BATCH1, BATCH2 and BATCH3 transforms. */
#ifdef BATCH1
#define NSG_BATCH_BASE(z, D1, D2, D3) \
  (((z) % (ulong)BATCH1) * (ulong)(D1) + \
   (((z) % ((ulong)BATCH1 * (ulong)BATCH2)) / (ulong)BATCH1) * (ulong)(D2) + \
   ((z) / ((ulong)BATCH1 * (ulong)BATCH2)) * (ulong)(D3))
#endif

#ifdef NEED_COPY_OUTPUT
#if OVX_TEXT_IS_DOUBLE
#define NSG_COPY_NAME copy_output_d
#else
#define NSG_COPY_NAME copy_output_s
#endif
/* Element j of chunk row t of the scratch area goes to the caller's output
   layout of batch transform t + offset. */
__kernel void NSG_COPY_NAME(const __global ftype *in, __global ftype *out, const int offset)
{
  const ulong j = get_global_id(0), t = get_global_id(1);
  const ulong z = t + (ulong)offset;
  vstore2(vload2(t * (ulong)IDIST + j * (ulong)ISTRIDE, in),
          NSG_BATCH_BASE(z, ODIST_Z1, ODIST_Z2, ODIST_Z3) + j * (ulong)OSTRIDE, out);
}
#endif
