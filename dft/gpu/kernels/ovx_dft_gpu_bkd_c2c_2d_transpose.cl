/* Transpose of a NUM_ROWS x NUM_COLS row-major matrix of single-precision
 * complex values into the NUM_COLS x NUM_ROWS row-major matrix, each value
 * moved as two 32-bit words (bit for bit).
 *
 * A sub-group of SUBGROUP_SIZE lanes (SG) moves a tile of VECTOR_WRITE_SIZE x
 * SG / 2 rows by VECTOR_READ_SIZE x SG / 2 complex columns through its own
 * slice of local memory: VR = VECTOR_READ_SIZE one-word block reads per tile
 * row (lane l gets word SG*j + l of the tile row), then VR x SG / 2 rounds of
 * VW = VECTOR_WRITE_SIZE one-word block writes per output row. Only the
 * sub-group's own lanes exchange data, so a sub-group barrier separates the
 * two phases.
 *
 * Every per-lane notion goes through the lane-pair vocabulary (a complex
 * value held by two neighbouring lanes, the even lane its first word), so
 * that the sub-group emulation may run one work-item per lane pair. */
#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable
#define TARVO_SG_PAIR_VOCABULARY 1
#ifndef TARVO_SG_EMULATION
#define TARVO_SG_KERNEL_SCRATCH(S)
#define TARVO_SG_PARAM
#define TARVO_SG_ARG
#endif

#if VECTOR_READ_SIZE != 1 && VECTOR_READ_SIZE != 2 && VECTOR_READ_SIZE != 4 && VECTOR_READ_SIZE != 8
#error "Invalid VECTOR_READ_SIZE"
#endif
#if VECTOR_WRITE_SIZE != 1 && VECTOR_WRITE_SIZE != 2 && VECTOR_WRITE_SIZE != 4 && VECTOR_WRITE_SIZE != 8
#error "Invalid VECTOR_WRITE_SIZE"
#endif

#ifdef TARVO_SG_LANE_PAIR
typedef struct { uint re; uint im; } ptype;
#else
typedef uint ptype;
#define SG_LANE() ((uint)get_sub_group_local_id())
#define SG_CPLX_INDEX() (SG_LANE() >> 1)
#define SG_LOAD_PARTS(p, at, step) ((p)[(at) + (step) * (int)(SG_LANE() & 1u)])
#define SG_STORE_PARTS(p, at, step, v) ((p)[(at) + (step) * (int)(SG_LANE() & 1u)] = (v))
#define SG_BLOCK_LOAD(p) tarvo_sub_group_block_read((const __global uint*)(p))
#define SG_BLOCK_STORE(p, v) tarvo_sub_group_block_write((__global uint*)(p), (v))
#endif

#define TR_SG SUBGROUP_SIZE
#define TR_WG WORK_GROUP_SIZE
#define TR_VR VECTOR_READ_SIZE
#define TR_VW VECTOR_WRITE_SIZE
/* Tiles across one row, and tile rows per work-group. */
#define TR_TILES_PER_ROW ((NUM_COLS * 2) / (TR_SG * TR_VR))
#define TR_ROWS_PER_GROUP ((TR_WG / TR_SG) > TR_TILES_PER_ROW ? (TR_WG / TR_SG) / TR_TILES_PER_ROW : 1)

__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const uint* in, __global uint* out, __local uint* slmPtr)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const long s = (long)get_sub_group_id();
    const long gc = (long)get_group_id(0);
    const long gr = (long)get_group_id(1);
    const int pair = (int)SG_CPLX_INDEX();
    /* Word column and word row of the sub-group's tile (a word row counts
     * half an input row, so that row * NUM_COLS is a word offset). */
    const long col = gc * (TR_WG * TR_VR) + (s % TR_TILES_PER_ROW) * (TR_SG * TR_VR);
    const long row = (gr * TR_ROWS_PER_GROUP + s / TR_TILES_PER_ROW) * (TR_VW * TR_SG);
    __global const uint* src = in + row * NUM_COLS + col;
    __global uint* dst = out + col * NUM_ROWS + row;
    __local uint* slm = slmPtr + s * (TR_SG * TR_VR);

    /* Read phase: tile row i, block word j: lane l stores its word at
     * i*WG*VR + l*VR + j of the slice. */
    for (int i = 0; i < TR_VW * TR_SG / 2; ++i) {
        for (int j = 0; j < TR_VR; ++j) {
            const ptype v = SG_BLOCK_LOAD(src + (long)i * NUM_COLS * 2 + TR_SG * j);
            SG_STORE_PARTS(slm, i * TR_WG * TR_VR + 2 * pair * TR_VR + j, TR_VR, v);
        }
    }
    tarvo_sub_group_barrier(CLK_LOCAL_MEM_FENCE);

    /* Write phase: output row i + v*SG/2 of the tile, block word k: lane l
     * writes the word of tile row k*SG/2 + l/2, complex column i + v*SG/2,
     * part l mod 2. */
    for (int v = 0; v < TR_VR; ++v) {
        for (int i = 0; i < TR_SG / 2; ++i) {
            const int o = pair * TR_WG * TR_VR + i * TR_VR * 2 + v;
            for (int k = 0; k < TR_VW; ++k) {
                const ptype w = SG_LOAD_PARTS(slm, o + k * (TR_WG * TR_VR) * (TR_SG / 2), TR_VR);
                SG_BLOCK_STORE(dst + (long)i * NUM_ROWS * 2 + (long)v * NUM_ROWS * TR_SG + TR_SG * k, w);
            }
        }
    }
}
