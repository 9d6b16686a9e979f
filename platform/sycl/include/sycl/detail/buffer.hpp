// Buffers, sub-buffers and accessors of the SYCL stand-in.
//
// A buffer's storage is one block of memory shared by the host and the
// device (fine-grained shared virtual memory on the OpenCL device), so an
// accessor is a pointer into that block: host kernels index it directly and
// OpenCL kernels receive the address of the accessed region. Sub-buffers and
// reinterpreted buffers are views (storage, byte offset, range).
#pragma once

#include "runtime.hpp"

#include <cstring>
#include <iterator>
#include <limits>

namespace sycl {
inline namespace _V1 {

template <typename T>
class buffer_allocator {
public:
    using value_type = T;
    buffer_allocator() noexcept = default;
    template <typename U>
    buffer_allocator(const buffer_allocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) { std::allocator<T>().deallocate(p, n); }
    template <typename U>
    struct rebind {
        using other = buffer_allocator<U>;
    };
    friend bool operator==(const buffer_allocator&, const buffer_allocator&) { return true; }
    friend bool operator!=(const buffer_allocator&, const buffer_allocator&) { return false; }
};

namespace detail {

// Whether `count` elements from `offset` lie within `size`; compared without
// adding, so that a huge offset cannot wrap below the limit.
inline bool fits(std::size_t offset, std::size_t count, std::size_t size) {
    return offset <= size && count <= size - offset;
}

// The runtime's default aligned allocator type, accepted by buffers.
template <typename T>
using aligned_allocator = buffer_allocator<T>;

// Storage of a buffer and its command history (for accessor-implied ordering).
OVXPLAT_SYCL_EXPORT std::shared_ptr<buffer_impl> buffer_storage_create(std::size_t bytes, const code_location& loc);
OVXPLAT_SYCL_EXPORT void* buffer_storage_data(const buffer_impl*);
OVXPLAT_SYCL_EXPORT std::size_t buffer_storage_bytes(const buffer_impl*);
// Waits until no command that touches [lo, hi) is pending.
OVXPLAT_SYCL_EXPORT void buffer_storage_wait(buffer_impl*, std::size_t lo, std::size_t hi);
// Host access to [lo, hi): waits for conflicting commands and holds later
// conflicting commands back until the returned hold is destroyed.
OVXPLAT_SYCL_EXPORT std::shared_ptr<void> buffer_host_acquire(const std::shared_ptr<buffer_impl>&, std::size_t lo,
                                                              std::size_t hi, bool write);

// Shared by every handle of one buffer (copies, sub-buffers, reinterpreted
// views): when the last one goes, waits for the buffer's commands and copies
// the contents back to the host memory given at construction.
struct buffer_owner {
    std::shared_ptr<buffer_impl> storage;
    void* write_back = nullptr;
    std::size_t write_back_bytes = 0;
    bool write_back_enabled = true;
    std::shared_ptr<buffer_owner> parent;
    buffer_owner() = default;
    buffer_owner(const buffer_owner&) = delete;
    buffer_owner& operator=(const buffer_owner&) = delete;
    ~buffer_owner() {
        if (!storage) return;
        try {
            buffer_storage_wait(storage.get(), 0, buffer_storage_bytes(storage.get()));
            if (write_back && write_back_enabled && write_back_bytes)
                std::memcpy(write_back, buffer_storage_data(storage.get()), write_back_bytes);
        } catch (...) {
        }
    }
};

struct accessor_common {};
struct buffer_view_tag {};
struct local_accessor_common {};

// Registration of accessors with the command group being built.
OVXPLAT_SYCL_EXPORT void handler_require(handler& h, const std::shared_ptr<buffer_impl>& s, std::size_t lo,
                                         std::size_t hi, bool write);
OVXPLAT_SYCL_EXPORT std::size_t handler_add_local(handler& h, std::size_t bytes);
OVXPLAT_SYCL_EXPORT void* local_memory_base(std::size_t index);

template <access_mode M>
struct mode_tag_t {
    explicit mode_tag_t() = default;
};
}  // namespace detail

inline constexpr detail::mode_tag_t<access_mode::read> read_only{};
inline constexpr detail::mode_tag_t<access_mode::write> write_only{};
inline constexpr detail::mode_tag_t<access_mode::read_write> read_write{};

template <typename T, int D = 1, access_mode M = (std::is_const_v<T> ? access_mode::read : access_mode::read_write),
          target Tg = target::device, access::placeholder P = access::placeholder::false_t>
class accessor;
template <typename T, int D = 1, access_mode M = (std::is_const_v<T> ? access_mode::read : access_mode::read_write)>
class host_accessor;
template <typename T, int D = 1>
class local_accessor;

template <typename T, int D = 1, typename AllocatorT = buffer_allocator<std::remove_const_t<T>>>
class buffer {
    static_assert(D >= 1 && D <= 3, "buffers have 1 to 3 dimensions");
    template <typename, int, typename>
    friend class buffer;

public:
    using value_type = T;
    using reference = value_type&;
    using const_reference = const value_type&;
    using allocator_type = AllocatorT;

    buffer(const range<D>& r, const property_list& props = {},
           const detail::code_location& loc = detail::code_location::current())
        : range_(r), props_(props) {
        create(nullptr, false, loc);
    }
    buffer(const range<D>& r, AllocatorT alloc, const property_list& props = {},
           const detail::code_location& loc = detail::code_location::current())
        : range_(r), alloc_(alloc), props_(props) {
        create(nullptr, false, loc);
    }
    buffer(T* host, const range<D>& r, const property_list& props = {},
           const detail::code_location& loc = detail::code_location::current())
        : range_(r), props_(props) {
        create(host, !std::is_const_v<T>, loc);
    }
    buffer(T* host, const range<D>& r, AllocatorT alloc, const property_list& props = {},
           const detail::code_location& loc = detail::code_location::current())
        : range_(r), alloc_(alloc), props_(props) {
        create(host, !std::is_const_v<T>, loc);
    }
    template <typename TT = T, typename = std::enable_if_t<!std::is_const_v<TT>>>
    buffer(const T* host, const range<D>& r, const property_list& props = {},
           const detail::code_location& loc = detail::code_location::current())
        : range_(r), props_(props) {
        create(host, false, loc);
    }
    // A contiguous container (1D): used like host memory, written back.
    template <typename Container, int DD = D,
              typename = std::enable_if_t<DD == 1 && !std::is_pointer_v<Container> &&
                                          std::is_convertible_v<decltype(std::declval<Container&>().data()), const T*>>>
    buffer(Container& c, const property_list& props = {},
           const detail::code_location& loc = detail::code_location::current())
        : range_(c.size()), props_(props) {
        if constexpr (std::is_convertible_v<decltype(c.data()), T*>)
            create(c.data(), true, loc);
        else
            create(c.data(), false, loc);
    }
    template <typename It, int DD = D,
              typename = std::enable_if_t<DD == 1 && !std::is_integral_v<It> &&
                                          std::is_base_of_v<std::input_iterator_tag,
                                                            typename std::iterator_traits<It>::iterator_category>>>
    buffer(It first, It last, const property_list& props = {},
           const detail::code_location& loc = detail::code_location::current())
        : range_(static_cast<std::size_t>(std::distance(first, last))), props_(props) {
        create(nullptr, false, loc);
        T* p = static_cast<T*>(data());
        for (; first != last; ++first) *p++ = *first;
    }
    // Sub-buffer of elements [offset, offset + r) of a parent buffer.
    buffer(buffer& parent, const id<D>& offset, const range<D>& r,
           const detail::code_location& loc = detail::code_location::current())
        : range_(r), alloc_(parent.alloc_), props_(parent.props_) {
        (void)loc;
        if (parent.is_sub_)
            detail::throw_error(errc::invalid, "Cannot create sub buffer from sub buffer.");
        for (int d = 0; d < D; ++d)
            if (!detail::fits(offset[d], r[d], parent.range_[d]))
                detail::throw_error(errc::invalid, "Requested sub-buffer size exceeds the size of the parent buffer");
        for (int d = 1; d < D; ++d)
            if (r[d] != parent.range_[d])
                detail::throw_error(errc::invalid,
                                    "Requested sub-buffer region is not contiguous in the parent buffer");
        storage_ = parent.storage_;
        byte_offset_ = parent.byte_offset_ + detail::linearize(offset, parent.range_) * sizeof(T);
        owner_ = parent.owner_;
        is_sub_ = true;
    }

    buffer(const buffer&) = default;
    buffer(buffer&&) = default;
    buffer& operator=(const buffer&) = default;
    buffer& operator=(buffer&&) = default;
    ~buffer() = default;

    range<D> get_range() const { return range_; }
    std::size_t size() const noexcept { return range_.size(); }
    std::size_t get_count() const { return size(); }
    std::size_t byte_size() const noexcept { return size() * sizeof(T); }
    std::size_t get_size() const { return byte_size(); }
    AllocatorT get_allocator() const { return alloc_; }
    bool is_sub_buffer() const { return is_sub_; }
    template <typename Prop>
    bool has_property() const noexcept {
        return props_.template has_property<Prop>();
    }
    template <typename Prop>
    Prop get_property() const {
        return props_.template get_property<Prop>();
    }

    template <access_mode M = access_mode::read_write, target Tg = target::device>
    accessor<T, D, M, Tg> get_access(handler& h) {
        return accessor<T, D, M, Tg>(*this, h);
    }
    template <access_mode M = access_mode::read_write, target Tg = target::device>
    accessor<T, D, M, Tg> get_access(handler& h, range<D> r, id<D> o = {}) {
        return accessor<T, D, M, Tg>(*this, h, r, o);
    }
    template <access_mode M = access_mode::read_write>
    host_accessor<T, D, M> get_access() {
        return host_accessor<T, D, M>(*this);
    }
    template <access_mode M = access_mode::read_write>
    host_accessor<T, D, M> get_host_access() {
        return host_accessor<T, D, M>(*this);
    }
    template <typename Tag>
    auto get_host_access(Tag) {
        return host_accessor<T, D, tag_mode<Tag>()>(*this);
    }
    template <typename Tag>
    auto get_access(handler& h, Tag) {
        return accessor<T, D, tag_mode<Tag>()>(*this, h);
    }

    void set_final_data(std::nullptr_t) {
        if (owner_) owner_->write_back = nullptr;
    }
    void set_final_data(T* p) {
        if (owner_ && !is_sub_) {
            owner_->write_back = p;
            owner_->write_back_bytes = byte_size();
        }
    }
    void set_write_back(bool flag = true) {
        if (owner_) owner_->write_back_enabled = flag;
    }

    template <typename U, int D2>
    buffer<U, D2, typename std::allocator_traits<AllocatorT>::template rebind_alloc<std::remove_const_t<U>>>
    reinterpret(range<D2> r) const {
        if (r.size() * sizeof(U) != byte_size())
            detail::throw_error(errc::invalid,
                                "Total size in bytes represented by the type and range of the reinterpreted SYCL "
                                "buffer does not equal the total size in bytes represented by the type and range "
                                "of this SYCL buffer");
        using A2 = typename std::allocator_traits<AllocatorT>::template rebind_alloc<std::remove_const_t<U>>;
        buffer<U, D2, A2> b(detail::buffer_view_tag{});
        b.range_ = r;
        b.storage_ = storage_;
        b.byte_offset_ = byte_offset_;
        b.owner_ = owner_;
        b.is_sub_ = is_sub_;
        b.props_ = props_;
        return b;
    }
    template <typename U, int DD = D, typename = std::enable_if_t<DD == 1>>
    buffer<U, 1, typename std::allocator_traits<AllocatorT>::template rebind_alloc<std::remove_const_t<U>>>
    reinterpret() const {
        if (byte_size() % sizeof(U) != 0)
            detail::throw_error(errc::invalid,
                                "Total size in bytes represented by the type and range of the reinterpreted SYCL "
                                "buffer does not equal the total size in bytes represented by the type and range "
                                "of this SYCL buffer");
        return reinterpret<U, 1>(range<1>(byte_size() / sizeof(U)));
    }

    friend bool operator==(const buffer& a, const buffer& b) {
        return a.storage_ == b.storage_ && a.byte_offset_ == b.byte_offset_ && a.range_ == b.range_;
    }
    friend bool operator!=(const buffer& a, const buffer& b) { return !(a == b); }

    // Stand-in internals used by accessors and reinterpret.
    explicit buffer(detail::buffer_view_tag) {}
    const std::shared_ptr<detail::buffer_impl>& storage() const { return storage_; }
    std::size_t byte_offset() const { return byte_offset_; }
    void* data() const {
        return static_cast<char*>(detail::buffer_storage_data(storage_.get())) + byte_offset_;
    }

private:
    template <typename Tag>
    static constexpr access_mode tag_mode() {
        if constexpr (std::is_same_v<Tag, detail::mode_tag_t<access_mode::read>>)
            return access_mode::read;
        else if constexpr (std::is_same_v<Tag, detail::mode_tag_t<access_mode::write>>)
            return access_mode::write;
        else
            return access_mode::read_write;
    }
    void create(const T* host, bool write_back, const detail::code_location& loc) {
        storage_ = detail::buffer_storage_create(byte_size(), loc);
        owner_ = std::make_shared<detail::buffer_owner>();
        owner_->storage = storage_;
        if (host && byte_size()) std::memcpy(detail::buffer_storage_data(storage_.get()), host, byte_size());
        if (host && write_back) {
            owner_->write_back = const_cast<std::remove_const_t<T>*>(host);
            owner_->write_back_bytes = byte_size();
        }
    }

    range<D> range_{};
    AllocatorT alloc_{};
    property_list props_{};
    std::shared_ptr<detail::buffer_impl> storage_;
    std::size_t byte_offset_ = 0;
    std::shared_ptr<detail::buffer_owner> owner_;
    bool is_sub_ = false;
};

template <typename T, int D>
buffer(T*, const range<D>&, const property_list& = {}) -> buffer<T, D>;
template <typename T, int D>
buffer(const T*, const range<D>&, const property_list& = {}) -> buffer<T, D>;
template <typename Container>
buffer(Container&, const property_list& = {}) -> buffer<typename Container::value_type, 1>;


// Device accessor: registers its buffer region with the command group.
template <typename T, int D, access_mode M, target Tg, access::placeholder P>
class accessor : public detail::accessor_common {
    using V = std::conditional_t<M == access_mode::read, const std::remove_const_t<T>, std::remove_const_t<T>>;

public:
    using value_type = V;
    using reference = V&;
    using const_reference = const std::remove_const_t<T>&;
    static constexpr access_mode mode = M;
    static constexpr int dimensions = D;

    accessor() = default;
    template <typename AllocT>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, handler& h, const property_list& = {})
        : accessor(b, b.get_range(), id<D>()) {
        attach(h);
    }
    template <typename AllocT, access_mode TM>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, handler& h, detail::mode_tag_t<TM>,
             const property_list& = {})
        : accessor(b, b.get_range(), id<D>()) {
        attach(h);
    }
    template <typename AllocT>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, handler& h, range<D> r, const property_list& = {})
        : accessor(b, r, id<D>()) {
        attach(h);
    }
    template <typename AllocT, access_mode TM>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, handler& h, range<D> r, detail::mode_tag_t<TM>,
             const property_list& = {})
        : accessor(b, r, id<D>()) {
        attach(h);
    }
    template <typename AllocT>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, handler& h, range<D> r, id<D> o,
             const property_list& = {})
        : accessor(b, r, o) {
        attach(h);
    }
    template <typename AllocT, access_mode TM>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, handler& h, range<D> r, id<D> o,
             detail::mode_tag_t<TM>, const property_list& = {})
        : accessor(b, r, o) {
        attach(h);
    }
    // Placeholder accessors: bound to a command group by handler::require.
    template <typename AllocT>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, const property_list& = {})
        : accessor(b, b.get_range(), id<D>()) {
        placeholder_ = true;
    }
    template <typename AllocT, access_mode TM>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, detail::mode_tag_t<TM>, const property_list& = {})
        : accessor(b, b.get_range(), id<D>()) {
        placeholder_ = true;
    }

    bool is_placeholder() const noexcept { return placeholder_; }
    std::size_t byte_size() const noexcept { return range_.size() * sizeof(T); }
    std::size_t size() const noexcept { return range_.size(); }
    std::size_t get_count() const noexcept { return size(); }
    range<D> get_range() const { return range_; }
    id<D> get_offset() const { return offset_; }
    bool empty() const noexcept { return range_.size() == 0; }

    V& operator[](const id<D>& i) const { return base_[detail::linearize(id<D>(i + offset_), mem_)]; }
    template <int DD = D, typename = std::enable_if_t<DD == 1>>
    V& operator[](std::size_t i) const {
        return base_[i + offset_[0]];
    }
    template <int DD = D, typename = std::enable_if_t<(DD > 1)>>
    auto operator[](std::size_t i) const {
        return row<D - 1>{this, (i + offset_[0])};
    }
    template <int DD = D, typename = std::enable_if_t<DD == 1>>
    operator V&() const {
        return base_[offset_[0]];
    }
    // Address of the accessed region's first element.
    global_ptr<V> get_pointer() const noexcept { return global_ptr<V>(base_ + detail::linearize(offset_, mem_)); }
    template <access::decorated DE = access::decorated::no>
    multi_ptr<V, access::address_space::global_space, DE> get_multi_ptr() const noexcept {
        return multi_ptr<V, access::address_space::global_space, DE>(base_ + detail::linearize(offset_, mem_));
    }
    V* begin() const { return get_pointer().get(); }
    V* end() const { return begin() + size(); }

    // Stand-in internals.
    const std::shared_ptr<detail::buffer_impl>& storage() const { return storage_; }
    // The range of the buffer the accessor indexes (its rows' pitch).
    range<D> buffer_range() const { return mem_; }
    std::size_t region_lo() const { return view_off_ + detail::linearize(offset_, mem_) * sizeof(T); }
    std::size_t region_hi() const {
        if (range_.size() == 0) return region_lo();
        id<D> last;
        for (int d = 0; d < D; ++d) last[d] = offset_[d] + range_[d] - 1;
        return view_off_ + (detail::linearize(last, mem_) + 1) * sizeof(T);
    }
    void attach(handler& h) const {
        detail::handler_require(h, storage_, region_lo(), region_hi(), M != access_mode::read);
    }

private:
    template <int R>
    struct row {
        const accessor* a;
        std::size_t lin;
        decltype(auto) operator[](std::size_t i) const {
            std::size_t l = lin * a->mem_[D - R] + i + a->offset_[D - R];
            if constexpr (R == 1)
                return (a->base_[l]);
            else
                return row<R - 1>{a, l};
        }
    };
    template <typename AllocT>
    accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, range<D> r, id<D> o)
        : base_(static_cast<V*>(b.data())),
          mem_(b.get_range()),
          range_(r),
          offset_(o),
          storage_(b.storage()),
          view_off_(b.byte_offset()) {
        for (int d = 0; d < D; ++d)
            if (!detail::fits(o[d], r[d], mem_[d]))
                detail::throw_error(errc::invalid, "accessor range exceeds the buffer's range");
    }

    V* base_ = nullptr;
    range<D> mem_{};
    range<D> range_{};
    id<D> offset_{};
    std::shared_ptr<detail::buffer_impl> storage_;
    std::size_t view_off_ = 0;
    bool placeholder_ = false;
};

template <typename T, int D, typename A>
accessor(buffer<T, D, A>&, handler&) -> accessor<T, D, access_mode::read_write, target::device>;
template <typename T, int D, typename A, access_mode M>
accessor(buffer<T, D, A>&, handler&, detail::mode_tag_t<M>) -> accessor<T, D, M, target::device>;
template <typename T, int D, typename A, access_mode M>
accessor(buffer<T, D, A>&, handler&, detail::mode_tag_t<M>, const property_list&) -> accessor<T, D, M, target::device>;
template <typename T, int D, typename A>
accessor(buffer<T, D, A>&, handler&, range<D>) -> accessor<T, D, access_mode::read_write, target::device>;
template <typename T, int D, typename A, access_mode M>
accessor(buffer<T, D, A>&, handler&, range<D>, detail::mode_tag_t<M>) -> accessor<T, D, M, target::device>;
template <typename T, int D, typename A>
accessor(buffer<T, D, A>&, handler&, range<D>, id<D>) -> accessor<T, D, access_mode::read_write, target::device>;
template <typename T, int D, typename A, access_mode M>
accessor(buffer<T, D, A>&, handler&, range<D>, id<D>, detail::mode_tag_t<M>) -> accessor<T, D, M, target::device>;
template <typename T, int D, typename A>
accessor(buffer<T, D, A>&) -> accessor<T, D, access_mode::read_write, target::device>;
template <typename T, int D, typename A, access_mode M>
accessor(buffer<T, D, A>&, detail::mode_tag_t<M>) -> accessor<T, D, M, target::device>;

// Host accessor: waits for the commands that write the region, and holds
// back later commands that conflict with it until it is destroyed.
template <typename T, int D, access_mode M>
class host_accessor {
    using V = std::conditional_t<M == access_mode::read, const std::remove_const_t<T>, std::remove_const_t<T>>;

public:
    using value_type = V;
    using reference = V&;
    host_accessor() = default;
    template <typename AllocT>
    host_accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, const property_list& = {})
        : host_accessor(b, b.get_range(), id<D>(), 0) {}
    template <typename AllocT, access_mode TM>
    host_accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, detail::mode_tag_t<TM>, const property_list& = {})
        : host_accessor(b, b.get_range(), id<D>(), 0) {}
    template <typename AllocT>
    host_accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, range<D> r, id<D> o = {},
                  const property_list& = {})
        : host_accessor(b, r, o, 0) {}
    template <typename AllocT, access_mode TM>
    host_accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, range<D> r, detail::mode_tag_t<TM>,
                  const property_list& = {})
        : host_accessor(b, r, id<D>(), 0) {}
    template <typename AllocT, access_mode TM>
    host_accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, range<D> r, id<D> o, detail::mode_tag_t<TM>,
                  const property_list& = {})
        : host_accessor(b, r, o, 0) {}

    std::size_t byte_size() const noexcept { return range_.size() * sizeof(T); }
    std::size_t size() const noexcept { return range_.size(); }
    std::size_t get_count() const noexcept { return size(); }
    range<D> get_range() const { return range_; }
    id<D> get_offset() const { return offset_; }
    bool empty() const noexcept { return range_.size() == 0; }
    V& operator[](const id<D>& i) const { return base_[detail::linearize(id<D>(i + offset_), mem_)]; }
    template <int DD = D, typename = std::enable_if_t<DD == 1>>
    V& operator[](std::size_t i) const {
        return base_[i + offset_[0]];
    }
    template <int DD = D, typename = std::enable_if_t<(DD > 1)>>
    auto operator[](std::size_t i) const {
        return row<D - 1>{this, i + offset_[0]};
    }
    V* get_pointer() const noexcept { return base_ + detail::linearize(offset_, mem_); }
    V* begin() const { return get_pointer(); }
    V* end() const { return begin() + size(); }

private:
    template <int R>
    struct row {
        const host_accessor* a;
        std::size_t lin;
        decltype(auto) operator[](std::size_t i) const {
            std::size_t l = lin * a->mem_[D - R] + i + a->offset_[D - R];
            if constexpr (R == 1)
                return (a->base_[l]);
            else
                return row<R - 1>{a, l};
        }
    };
    template <typename AllocT>
    host_accessor(buffer<std::remove_const_t<T>, D, AllocT>& b, range<D> r, id<D> o, int)
        : base_(static_cast<V*>(b.data())), mem_(b.get_range()), range_(r), offset_(o) {
        for (int d = 0; d < D; ++d)
            if (!detail::fits(o[d], r[d], mem_[d]))
                detail::throw_error(errc::invalid, "accessor range exceeds the buffer's range");
        std::size_t lo = b.byte_offset() + detail::linearize(o, mem_) * sizeof(T);
        std::size_t hi = lo;
        if (r.size()) {
            id<D> last;
            for (int d = 0; d < D; ++d) last[d] = o[d] + r[d] - 1;
            hi = b.byte_offset() + (detail::linearize(last, mem_) + 1) * sizeof(T);
        }
        hold_ = detail::buffer_host_acquire(b.storage(), lo, hi, M != access_mode::read);
        storage_ = b.storage();
    }
    V* base_ = nullptr;
    range<D> mem_{};
    range<D> range_{};
    id<D> offset_{};
    std::shared_ptr<void> hold_;
    std::shared_ptr<detail::buffer_impl> storage_;
};

template <typename T, int D, typename A>
host_accessor(buffer<T, D, A>&) -> host_accessor<T, D, access_mode::read_write>;
template <typename T, int D, typename A, access_mode M>
host_accessor(buffer<T, D, A>&, detail::mode_tag_t<M>) -> host_accessor<T, D, M>;
template <typename T, int D, typename A, access_mode M>
host_accessor(buffer<T, D, A>&, range<D>, detail::mode_tag_t<M>) -> host_accessor<T, D, M>;
template <typename T, int D, typename A, access_mode M>
host_accessor(buffer<T, D, A>&, range<D>, id<D>, detail::mode_tag_t<M>) -> host_accessor<T, D, M>;

// Work-group local memory: host kernels get one block per work-group;
// OpenCL kernels get a __local argument of the accessor's byte size.
template <typename T, int D>
class local_accessor : public detail::local_accessor_common {
public:
    using value_type = T;
    static constexpr int dimensions = D;
    local_accessor() = default;
    local_accessor(range<D> r, handler& h, const property_list& = {})
        : range_(r), index_(detail::handler_add_local(h, r.size() * sizeof(T))) {}
    std::size_t byte_size() const noexcept { return range_.size() * sizeof(T); }
    std::size_t size() const noexcept { return range_.size(); }
    std::size_t get_count() const noexcept { return size(); }
    range<D> get_range() const { return range_; }
    T* data() const { return static_cast<T*>(detail::local_memory_base(index_)); }
    T& operator[](const id<D>& i) const { return data()[detail::linearize(i, range_)]; }
    template <int DD = D, typename = std::enable_if_t<DD == 1>>
    T& operator[](std::size_t i) const {
        return data()[i];
    }
    template <int DD = D, typename = std::enable_if_t<(DD > 1)>>
    auto operator[](std::size_t i) const {
        return row<D - 1>{data(), this, i};
    }
    local_ptr<T> get_pointer() const noexcept { return local_ptr<T>(data()); }
    template <access::decorated DE = access::decorated::no>
    multi_ptr<T, access::address_space::local_space, DE> get_multi_ptr() const noexcept {
        return multi_ptr<T, access::address_space::local_space, DE>(data());
    }

private:
    template <int R>
    struct row {
        T* base;
        const local_accessor* a;
        std::size_t lin;
        decltype(auto) operator[](std::size_t i) const {
            std::size_t l = lin * a->range_[D - R] + i;
            if constexpr (R == 1)
                return (base[l]);
            else
                return row<R - 1>{base, a, l};
        }
    };
    range<D> range_{};
    std::size_t index_ = 0;
};

}  // namespace _V1
}  // namespace sycl
