#include "agentcomm/InMemStorage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace serialization::StorageNamed::InMemStorageSpace {

static_assert(std::endian::native == std::endian::little,
              "values are stored as their in-memory bytes, which the block format fixes as little-endian");

namespace {

// Sizes add up in 64 bits and saturate: an entry that does not fit 32 bits cannot be saved.
std::uint32_t saturate(std::uint64_t n) {
  return n > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                       : static_cast<std::uint32_t>(n);
}

bool write_byte(running_ptr& cursor, std::uint8_t b) {
  if (cursor.remaining() < 1) return false;
  *cursor.current() = b;
  return cursor.advance(1);
}

bool write_bytes(running_ptr& cursor, const void* bytes, std::uint32_t n) {
  if (cursor.remaining() < n) return false;
  if (n) std::memcpy(cursor.current(), bytes, n);
  return cursor.advance(n);
}

// The entry at the cursor when its type byte is |type|: the byte is consumed.
bool take_type(const_running_ptr& cursor, std::uint8_t type) {
  return cursor.remaining() >= 1 && *cursor.current() == type && cursor.advance(1);
}

// A peer's count of elements, each of which takes at least |least_bytes| of the block. Refused when
// the rest of the block cannot hold that many or the load may not make that many more entries;
// otherwise the elements are charged to the load before any of them is read.
bool accept_count(const_running_ptr& cursor, std::uint32_t count, std::uint32_t least_bytes) {
  if (count > cursor.remaining() / least_bytes || count > cursor.entries_left) return false;
  cursor.entries_left -= count;
  return true;
}

// The fewest bytes an element takes: a section entry is a name's NUL and an empty section (01 00),
// an element of a sections array an empty section, one of a values array a zero length.
constexpr std::uint32_t least_section_entry = 3;
constexpr std::uint32_t least_sections_element = 2;
constexpr std::uint32_t least_values_element = 1;

bool read_byte(const_running_ptr& cursor, std::uint8_t& b) {
  if (cursor.remaining() < 1) return false;
  b = *cursor.current();
  return cursor.advance(1);
}

// A packed length followed by that many bytes, checked against what is left before anything is
// allocated. A payload that cannot be allocated fails the read like every other allocation of a
// load (which gives the load 0), not like bytes that do not fit.
bool read_payload(const_running_ptr& cursor, CMemoryObjectEx& payload) {
  std::uint32_t length = 0;
  if (!read_packed(cursor, length) || length > cursor.remaining()) return false;
  if (!payload.assign(cursor.current(), length)) throw std::bad_alloc();
  return cursor.advance(length);
}

// Hands out arena memory; giving it back is the arena's business. The control block of each entry
// keeps a copy, and with it a reference to the arena.
template <class T>
struct arena_allocator {
  using value_type = T;
  explicit arena_allocator(entry_arena_t* arena) : ref(arena) {}
  template <class U>
  arena_allocator(const arena_allocator<U>& other) : ref(other.ref) {}
  T* allocate(std::size_t n) { return static_cast<T*>(ref.get()->allocate(n * sizeof(T), alignof(T))); }
  void deallocate(T*, std::size_t) noexcept {}
  template <class U>
  bool operator==(const arena_allocator<U>& other) const {
    return ref.get() == other.ref.get();
  }
  arena_ref_t ref;
};

template <class T>
entry_ptr make(entry_arena_t* arena) {
  if (!arena) return std::make_shared<T>();
  arena->add_ref();
  return std::allocate_shared<T>(arena_allocator<T>(arena));
}

entry_ptr make_entry(std::uint8_t type, entry_arena_t* arena) {
  switch (type) {
    case entry_section: return make<CSSection>(arena);
    case entry_value: return make<CSValue>(arena);
    case entry_sections_array: return make<CSSectionsArray>(arena);
    case entry_values_array: return make<CSValuesArray>(arena);
    default: return nullptr;
  }
}

bool name_less(const CSSection::item_t& item, std::string_view name) { return std::string_view(item.name) < name; }

// The storage's operations throw nothing: an allocation that fails is a failure like any other and
// gives |failed|.
template <class R, class Op>
R failing_on_bad_alloc(R failed, Op&& op) noexcept {
  try {
    return op();
  } catch (const std::bad_alloc&) {
    return failed;
  }
}

}  // namespace

// --- entry_arena_t ---

entry_arena_t* entry_arena_t::create(std::size_t first_chunk) { return new entry_arena_t(first_chunk); }

void entry_arena_t::release() {
  if (--refs_ == 0) destroy(this);
}

// Not inlined: copies of the arena's allocator release one after the other, and GCC, seeing the
// delete inlined into each, takes the count test of the second for a use of the arena the first one
// deleted.
[[gnu::noinline]] void entry_arena_t::destroy(entry_arena_t* arena) { delete arena; }

entry_arena_t::~entry_arena_t() {
  for (chunk_t& chunk : chunks_) secure_wipe(chunk.bytes.get(), chunk.used);
}

void* entry_arena_t::allocate(std::size_t size, std::size_t alignment) {
  std::size_t pad = next_ ? (alignment - reinterpret_cast<std::uintptr_t>(next_) % alignment) % alignment : 0;
  if (!next_ || left_ < pad + size) {
    // Chunks start aligned for any entry.
    const std::size_t chunk = std::max(next_chunk_, size);
    chunks_.push_back({std::make_unique_for_overwrite<std::byte[]>(chunk), 0});
    next_ = chunks_.back().bytes.get();
    left_ = chunk;
    pad = 0;
    next_chunk_ = std::min<std::size_t>(chunk * 2, std::size_t{1} << 20);
  }
  void* p = next_ + pad;
  next_ += pad + size;
  left_ -= pad + size;
  chunks_.back().used = static_cast<std::size_t>(next_ - chunks_.back().bytes.get());
  return p;
}

// --- CSSection ---

std::uint32_t CSSection::size() const {
  std::uint64_t n = 1 + packed_width(items_.size());
  for (const item_t& item : items_) n += item.name.size() + 1 + item.entry->size();
  return saturate(n);
}

std::uint32_t CSSection::write(running_ptr& cursor) const {
  const std::uint32_t before = cursor.remaining();
  if (write_byte(cursor, entry_section) && write_packed(cursor, items_.size())) {
    for (const item_t& item : items_) {
      if (!write_bytes(cursor, item.name.c_str(), static_cast<std::uint32_t>(item.name.size() + 1))) break;
      item.entry->write(cursor);
    }
  }
  return before - cursor.remaining();
}

std::uint32_t CSSection::read(const_running_ptr& cursor) {
  const std::uint32_t before = cursor.remaining();
  if (!take_type(cursor, entry_section)) return 0;
  items_.clear();
  std::uint32_t count = 0;
  if (!read_packed(cursor, count)) {
    cursor.stop();
    return before - cursor.remaining();
  }
  if ((count > 0 && cursor.depth >= max_nesting) || !accept_count(cursor, count, least_section_entry)) {
    cursor.stop();
    return before - cursor.remaining();
  }
  ++cursor.depth;
  items_.reserve(count);
  bool ordered = true;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto* name = reinterpret_cast<const char*>(cursor.current());
    const void* nul = std::memchr(name, 0, cursor.remaining());
    if (!nul) {
      cursor.stop();
      break;
    }
    const auto name_length = static_cast<std::uint32_t>(static_cast<const char*>(nul) - name);
    cursor.advance(name_length + 1);
    entry_ptr entry = cursor.remaining() ? make_entry(*cursor.current(), cursor.arena) : nullptr;
    if (!entry) {
      cursor.stop();
      break;
    }
    entry->read(cursor);
    if (!items_.empty() && !(std::string_view(items_.back().name) < std::string_view(name, name_length)))
      ordered = false;
    items_.push_back({std::string(name, name_length), std::move(entry)});
    // An entry that stopped early leaves the cursor inside its own bytes: nothing after it is ours.
    if (cursor.stopped()) break;
  }
  --cursor.depth;
  if (!ordered) {
    // A peer's names out of order or repeated: order them, the last one read of a name wins.
    std::stable_sort(items_.begin(), items_.end(),
                     [](const item_t& a, const item_t& b) { return a.name < b.name; });
    std::vector<item_t> unique;
    unique.reserve(items_.size());
    for (item_t& item : items_) {
      if (!unique.empty() && unique.back().name == item.name)
        unique.back() = std::move(item);
      else
        unique.push_back(std::move(item));
    }
    items_ = std::move(unique);
  }
  return before - cursor.remaining();
}

std::vector<CSSection::item_t>::iterator CSSection::lower_bound(std::string_view name) {
  return std::lower_bound(items_.begin(), items_.end(), name, name_less);
}

ISSectionEntry* CSSection::find(std::string_view name) const {
  auto it = std::lower_bound(items_.begin(), items_.end(), name, name_less);
  return it != items_.end() && it->name == name ? it->entry.get() : nullptr;
}

void CSSection::set(std::string_view name, entry_ptr entry) {
  auto it = lower_bound(name);
  if (it != items_.end() && it->name == name)
    it->entry = std::move(entry);
  else
    items_.insert(it, {std::string(name), std::move(entry)});
}

bool CSSection::erase(std::string_view name) {
  auto it = lower_bound(name);
  if (it == items_.end() || it->name != name) return false;
  items_.erase(it);
  return true;
}

// --- CSValue ---

std::uint32_t CSValue::size() const {
  const std::uint32_t length = payload.size();
  return saturate(std::uint64_t{2} + packed_width(length) + length);
}

std::uint32_t CSValue::write(running_ptr& cursor) const {
  const std::uint32_t before = cursor.remaining();
  std::uint32_t length = 0;
  const std::uint8_t* bytes = payload.data(&length);
  (void)(write_byte(cursor, entry_value) && write_byte(cursor, kind) && write_packed(cursor, length) &&
         write_bytes(cursor, bytes, length));
  return before - cursor.remaining();
}

std::uint32_t CSValue::read(const_running_ptr& cursor) {
  const std::uint32_t before = cursor.remaining();
  if (!take_type(cursor, entry_value)) return 0;
  payload.release();
  if (!read_byte(cursor, kind) || !read_payload(cursor, payload)) cursor.stop();
  return before - cursor.remaining();
}

// --- CSSectionsArray ---

std::uint32_t CSSectionsArray::size() const {
  std::uint64_t n = 1 + packed_width(elements_.size());
  for (const CSSection& s : elements_) n += s.size();
  return saturate(n);
}

std::uint32_t CSSectionsArray::write(running_ptr& cursor) const {
  const std::uint32_t before = cursor.remaining();
  if (write_byte(cursor, entry_sections_array) && write_packed(cursor, elements_.size())) {
    for (const CSSection& s : elements_) s.write(cursor);
  }
  return before - cursor.remaining();
}

std::uint32_t CSSectionsArray::read(const_running_ptr& cursor) {
  const std::uint32_t before = cursor.remaining();
  if (!take_type(cursor, entry_sections_array)) return 0;
  clear();
  std::uint32_t count = 0;
  if (!read_packed(cursor, count) || !accept_count(cursor, count, least_sections_element)) {
    cursor.stop();
    return before - cursor.remaining();
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    // Each element is a whole section, type byte included; one that is not ends the array.
    if (cursor.remaining() < 1 || *cursor.current() != entry_section) {
      cursor.stop();
      break;
    }
    elements_.emplace_back().read(cursor);
    if (cursor.stopped()) break;  // the rest of the element's bytes are no further elements
  }
  rewind();
  return before - cursor.remaining();
}

void CSSectionsArray::clear() {
  elements_.clear();
  rewind();
}

CSSection* CSSectionsArray::next() {
  if (cursor_ == elements_.end()) return nullptr;
  return &*cursor_++;
}

// --- CSValuesArray ---

std::uint32_t CSValuesArray::size() const {
  std::uint64_t n = 2 + packed_width(elements_.size());
  for (const CMemoryObjectEx& e : elements_) {
    const std::uint32_t length = e.size();
    n += packed_width(length) + length;
  }
  return saturate(n);
}

std::uint32_t CSValuesArray::write(running_ptr& cursor) const {
  const std::uint32_t before = cursor.remaining();
  if (write_byte(cursor, entry_values_array) && write_byte(cursor, kind) &&
      write_packed(cursor, elements_.size())) {
    for (const CMemoryObjectEx& e : elements_) {
      std::uint32_t length = 0;
      const std::uint8_t* bytes = e.data(&length);
      if (!write_packed(cursor, length) || !write_bytes(cursor, bytes, length)) break;
    }
  }
  return before - cursor.remaining();
}

std::uint32_t CSValuesArray::read(const_running_ptr& cursor) {
  const std::uint32_t before = cursor.remaining();
  if (!take_type(cursor, entry_values_array)) return 0;
  clear();
  std::uint32_t count = 0;
  if (!read_byte(cursor, kind) || !read_packed(cursor, count) || !accept_count(cursor, count, least_values_element)) {
    cursor.stop();
    return before - cursor.remaining();
  }
  elements_.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    CMemoryObjectEx element;
    if (!read_payload(cursor, element)) {
      cursor.stop();
      break;
    }
    elements_.push_back(std::move(element));
  }
  rewind();
  return before - cursor.remaining();
}

bool CSValuesArray::append(const memoryblock_i& bytes) {
  CMemoryObjectEx element;
  std::uint32_t length = 0;
  const std::uint8_t* p = bytes.data(&length);
  if (!element.assign(p, length)) return false;
  return failing_on_bad_alloc(false, [&] {
    elements_.push_back(std::move(element));
    return true;
  });
}

void CSValuesArray::clear() {
  elements_.clear();
  rewind();
}

const CMemoryObjectEx* CSValuesArray::next() {
  return cursor_ < elements_.size() ? &elements_[cursor_++] : nullptr;
}

// --- CInMemStorage ---

bool CInMemStorage::remove(std::string_view name, CSSection* section) {
  return section_or_root(section).erase(name);
}

bool CInMemStorage::put_value(std::string_view name, const memoryblock_i& bytes, CSSection* section,
                              std::uint8_t kind) {
  std::uint32_t length = 0;
  const std::uint8_t* p = bytes.data(&length);
  if (name.empty() || !p || length == 0) return false;
  CSSection& target = section_or_root(section);
  ISSectionEntry* entry = target.find(name);
  if (entry) {
    if (entry->type() != entry_value) return false;
    auto* value = static_cast<CSValue*>(entry);
    if (!value->payload.assign(p, length)) return false;
    value->kind = kind;
    return true;
  }
  // A new value is filled before it is set, so that a failure leaves no empty value behind.
  return failing_on_bad_alloc(false, [&] {
    auto fresh = std::make_shared<CSValue>();
    if (!fresh->payload.assign(p, length)) return false;
    fresh->kind = kind;
    target.set(name, std::move(fresh));
    return true;
  });
}

const CMemoryObjectEx* CInMemStorage::find_payload(std::string_view name, const CSSection* section) const {
  if (name.empty()) return nullptr;
  const ISSectionEntry* entry = section_or_root(section).find(name);
  if (!entry || entry->type() != entry_value) return nullptr;
  return &static_cast<const CSValue*>(entry)->payload;
}

bool CInMemStorage::get_value(std::string_view name, memoryblock_i& out, const CSSection* section,
                              std::uint8_t* kind) const {
  if (name.empty()) return false;
  const ISSectionEntry* entry = section_or_root(section).find(name);
  if (!entry || entry->type() != entry_value) return false;
  const auto* value = static_cast<const CSValue*>(entry);
  if (kind) *kind = value->kind;
  return out.assign(value->payload);
}

namespace {

// Copies at most sizeof(T) payload bytes over |value|.
template <class T>
void copy_over(const CMemoryObjectEx& payload, T& value) {
  std::uint32_t length = 0;
  const std::uint8_t* p = payload.data(&length);
  if (p) std::memcpy(&value, p, std::min<std::uint32_t>(length, sizeof(T)));
}

}  // namespace

bool CInMemStorage::put_int(std::string_view name, std::int32_t value, CSSection* section) {
  return put_value(name, fake_memblock_t(&value, sizeof value), section, kind_bytes);
}

bool CInMemStorage::get_int(std::string_view name, std::int32_t& value, const CSSection* section) const {
  const CMemoryObjectEx* payload = find_payload(name, section);
  if (payload) copy_over(*payload, value);
  return payload != nullptr;
}

bool CInMemStorage::put_flag(std::string_view name, std::uint8_t value, CSSection* section) {
  return put_value(name, fake_memblock_t(&value, 1), section, kind_bytes);
}

bool CInMemStorage::get_flag(std::string_view name, std::uint8_t& value, const CSSection* section) const {
  const CMemoryObjectEx* payload = find_payload(name, section);
  if (payload) copy_over(*payload, value);
  return payload != nullptr;
}

bool CInMemStorage::put_rect(std::string_view name, const rect_t& value, CSSection* section) {
  static_assert(sizeof(rect_t) == 16);
  return put_value(name, fake_memblock_t(&value, sizeof value), section, kind_bytes);
}

bool CInMemStorage::get_rect(std::string_view name, rect_t& value, const CSSection* section) const {
  const CMemoryObjectEx* payload = find_payload(name, section);
  if (payload) copy_over(*payload, value);
  return payload != nullptr;
}

bool CInMemStorage::put_str(std::string_view name, const std::string& value, CSSection* section) {
  // c_str() already ends in the NUL that the payload carries.
  return put_value(name, fake_memblock_t(value.c_str(), static_cast<std::uint32_t>(value.size() + 1)),
                   section, kind_string);
}

bool CInMemStorage::get_str(std::string_view name, std::string& value, const CSSection* section) const {
  const CMemoryObjectEx* payload = find_payload(name, section);
  if (!payload) return false;
  std::uint32_t length = 0;
  const auto* p = reinterpret_cast<const char*>(payload->data(&length));
  if (!p) {
    value.clear();
    return true;
  }
  const void* nul = std::memchr(p, 0, length);
  return failing_on_bad_alloc(false, [&] {
    value.assign(p, nul ? static_cast<const char*>(nul) - p : length);
    return true;
  });
}

bool CInMemStorage::put_wstr(std::string_view name, const std::u16string& value, CSSection* section) {
  return put_value(name,
                   fake_memblock_t(value.c_str(), static_cast<std::uint32_t>((value.size() + 1) * sizeof(char16_t))),
                   section, kind_wstring);
}

bool CInMemStorage::get_wstr(std::string_view name, std::u16string& value, const CSSection* section) const {
  const CMemoryObjectEx* payload = find_payload(name, section);
  if (!payload) return false;
  std::uint32_t length = 0;
  const std::uint8_t* p = payload->data(&length);
  value.clear();
  const std::uint32_t units = p ? length / 2 : 0;  // an odd last byte is no code unit
  return failing_on_bad_alloc(false, [&] {
    value.reserve(units);
    for (std::uint32_t i = 0; i < units; ++i) {
      const auto unit = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
      if (unit == 0) break;
      value.push_back(unit);
    }
    return true;
  });
}

CSSection* CInMemStorage::open_section(std::string_view name, CSSection* parent, bool create) {
  CSSection& owner = section_or_root(parent);
  if (name.empty()) return &owner;
  ISSectionEntry* entry = owner.find(name);
  if (!entry) {
    if (!create) return nullptr;
    return failing_on_bad_alloc<CSSection*>(nullptr, [&] {
      auto fresh = std::make_shared<CSSection>();
      CSSection* section = fresh.get();
      owner.set(name, std::move(fresh));
      return section;
    });
  }
  return entry->type() == entry_section ? static_cast<CSSection*>(entry) : nullptr;
}

const CSSection* CInMemStorage::find_section(std::string_view name, const CSSection* parent) const {
  const CSSection& owner = section_or_root(parent);
  if (name.empty()) return &owner;
  const ISSectionEntry* entry = owner.find(name);
  return entry && entry->type() == entry_section ? static_cast<const CSSection*>(entry) : nullptr;
}

CSSectionsArray* CInMemStorage::begin_write_array(std::string_view name, CSSection* parent, CSSection** first) {
  if (name.empty() || !first) return nullptr;
  CSSection& owner = section_or_root(parent);
  ISSectionEntry* entry = owner.find(name);
  if (entry && entry->type() != entry_value && entry->type() != entry_sections_array) return nullptr;
  return failing_on_bad_alloc<CSSectionsArray*>(nullptr, [&]() -> CSSectionsArray* {
    if (entry && entry->type() == entry_sections_array) {
      auto* array = static_cast<CSSectionsArray*>(entry);
      array->clear();
      *first = &array->append();
      return array;
    }
    // A new array gets its first element before it replaces what was under the name.
    auto fresh = std::make_shared<CSSectionsArray>();
    CSSectionsArray* array = fresh.get();
    CSSection* element = &array->append();
    owner.set(name, std::move(fresh));
    *first = element;
    return array;
  });
}

bool CInMemStorage::append_section(CSSectionsArray* array, CSSection** section) {
  if (!array || !section) return false;
  return failing_on_bad_alloc(false, [&] {
    *section = &array->append();
    return true;
  });
}

CSSectionsArray* CInMemStorage::begin_read_array(std::string_view name, CSSection* parent, CSSection** first) {
  if (name.empty() || !first) return nullptr;
  ISSectionEntry* entry = section_or_root(parent).find(name);
  if (!entry || entry->type() != entry_sections_array) return nullptr;
  auto* array = static_cast<CSSectionsArray*>(entry);
  array->rewind();
  CSSection* element = array->next();
  if (!element) return nullptr;
  *first = element;
  return array;
}

bool CInMemStorage::next_section(CSSectionsArray* array, CSSection** section) {
  if (!array || !section) return false;
  CSSection* element = array->next();
  if (!element) return false;
  *section = element;
  return true;
}

CSValuesArray* CInMemStorage::put_values_array(std::string_view name, std::uint8_t kind, CSSection* parent) {
  if (name.empty()) return nullptr;
  return failing_on_bad_alloc<CSValuesArray*>(nullptr, [&] {
    auto fresh = std::make_shared<CSValuesArray>();
    fresh->kind = kind;
    CSValuesArray* array = fresh.get();
    section_or_root(parent).set(name, std::move(fresh));
    return array;
  });
}

std::uint32_t CInMemStorage::save(memoryblock_i& block) const {
  const std::uint64_t total = std::uint64_t{block_header_size} + root_.size();
  if (total > std::numeric_limits<std::uint32_t>::max()) return 0;
  std::uint8_t* bytes = block.allocate(static_cast<std::uint32_t>(total));
  if (!bytes) return 0;
  const std::uint8_t header[block_header_size] = {
      0xA2, 0x49, 0x4D, 0xF3,  // block_magic1
      0xD9, 0x1E, 0x9F, 0x88,  // block_magic2
      block_version};
  std::memcpy(bytes, header, block_header_size);
  running_ptr cursor(bytes + block_header_size, static_cast<std::uint32_t>(total) - block_header_size);
  return root_.write(cursor) + block_header_size;
}

std::uint32_t CInMemStorage::load(const memoryblock_i& block, bool* complete) {
  if (complete) *complete = false;
  std::uint32_t length = 0;
  const std::uint8_t* bytes = block.data(&length);
  if (!bytes || length <= block_header_size || length > max_block_size) return 0;
  std::uint32_t magic1 = 0, magic2 = 0;
  std::memcpy(&magic1, bytes, 4);
  std::memcpy(&magic2, bytes + 4, 4);
  if (magic1 != block_magic1 || magic2 != block_magic2 || bytes[8] > block_version) return 0;
  // The new tree is built beside the old one and takes its place only when it is made: a load that
  // runs out of memory gives 0 and leaves the storage as it was, like a refused block.
  return failing_on_bad_alloc(std::uint32_t{0}, [&] {
    const_running_ptr cursor(bytes + block_header_size, length - block_header_size);
    cursor.entries_left = max_entries;
    // The usual messages need about a hundred bytes of entry for every twenty bytes of block.
    const arena_ref_t arena(
        entry_arena_t::create(std::clamp<std::size_t>(std::size_t{length} * 5, 256, 256 * 1024)));
    cursor.arena = arena.get();
    CSSection fresh;
    const std::uint32_t consumed = fresh.read(cursor);
    if (consumed != 0) root_ = std::move(fresh);  // a root that is no section replaces nothing
    if (complete) *complete = consumed != 0 && !cursor.stopped() && cursor.remaining() == 0;
    return consumed + block_header_size;
  });
}

}  // namespace serialization::StorageNamed::InMemStorageSpace
