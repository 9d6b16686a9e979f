// Areas shared by the three-factor and 8192-point modules: per built
// direction the tables of C classes one after the other, and one scratch
// area. The module writes the tables; these hooks place and drop the areas.
#ifndef OVX_DFT_GPU_1D_CLASS_TABLES_HPP
#define OVX_DFT_GPU_1D_CLASS_TABLES_HPP

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/frame.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

template <class Real, int K, int C>
struct class_table_block : frame_block<Real, K> {
    std::uint64_t table_bytes[C];  // aligned size of one table of each class
    std::uint64_t scratch_bytes;   // aligned
    // [class][direction] areas of the bound workspace and the events of their table kernels.
    void* table_usm[C][2];
    sycl::buffer<char, 1>* table_buf[C][2];
    sycl::event* table_event[C][2];
    void* scratch_usm;
    sycl::buffer<char, 1>* scratch_buf;
};

template <class Block, int C>
struct class_tables {
    static constexpr bool own_tables = true;

    // twiddle_workspace_bytes of the node: the classes' tables per built direction.
    static std::uint64_t tables_bytes(const Block* b) {
        std::uint64_t per_dir = 0;
        for (int cls = 0; cls < C; ++cls) per_dir += b->table_bytes[cls];
        return per_dir * (b->directions == 2 ? 2u : 1u);
    }

    static int carve_tables(Block* b, void* base, int kind, std::uint64_t offset, std::uint64_t* end) {
        std::uint64_t off = offset;
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            if (!base) return DFTI_STATUS_NO_WORKSPACE;
            for (int cls = 0; cls < C; ++cls) {
                frame_carve(base, kind, off, b->table_bytes[cls], b->table_usm[cls][dir], b->table_buf[cls][dir]);
                off += b->table_bytes[cls];
            }
        }
        if (end) *end = off;
        return 0;
    }

    static bool table_placed(const Block* b, int kind, int cls, int dir) {
        return frame_area_placed(kind, b->table_usm[cls][dir], b->table_buf[cls][dir]);
    }

    // Hands the table writers' events, direction by direction, to whoever waits for the binding.
    static void table_events(const Block* b, std::vector<sycl::event>* events) {
        if (!events) return;
        for (int dir = 0; dir < 2; ++dir)
            for (int cls = 0; cls < C; ++cls)
                if (b->table_event[cls][dir]) events->push_back(*b->table_event[cls][dir]);
    }

    static void free_tables(Block* b) {
        for (int cls = 0; cls < C; ++cls)
            for (int dir = 0; dir < 2; ++dir)
                frame_drop_area(b->table_usm[cls][dir], b->table_buf[cls][dir], &b->table_event[cls][dir]);
    }

    static int place_scratch(Block* b, void* base, int kind, std::uint64_t offset) {
        return frame_place_area(base, kind, offset, b->scratch_bytes, b->scratch_usm, b->scratch_buf);
    }

    static void free_scratch(Block* b) { frame_drop_area(b->scratch_usm, b->scratch_buf); }
};

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
