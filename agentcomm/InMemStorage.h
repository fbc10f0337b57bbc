// The message container: a tree of named entries that flattens into one byte block and back.
//
//   CInMemStorage s;
//   s.put_int("requestID", 5);
//   CSSection* data = s.open_section("datatofillin", nullptr, /*create=*/true);
//   s.put_wstr("profilename", u"Work", data);
//   CMemoryObjectEx block;
//   s.save(block);                      // one allocation, exactly the block's length
//
//   CInMemStorage r;
//   if (r.load(block)) r.get_int("requestID", id);
//
// Block layout: magic words 0xF34D49A2 and 0x889F1ED9, a version byte (1), then the root section.
// Every entry starts with its type byte (1 section, 2 value, 3 sections array, 4 values array);
// sections list their entries in ascending byte order of the names, each name NUL-terminated.
// Counts and lengths are packed (RunningPtr.h). Reading a peer's block is bounded everywhere: a
// count, name or payload that does not fit ends that entry with what was read so far. No operation
// throws: a failed allocation is reported like any other failure (false, null or 0).
//
// A peer's block is also bounded in what it may make us build: a block above max_block_size is
// refused whole, and a count that the rest of the block cannot hold or that goes beyond the load's
// max_entries is refused before anything is made for it. Each entry costs some tens of bytes in
// memory against one to three bytes of block, so without the entry limit a 4 MiB block of empty
// array elements built about 270 MB of entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agentcomm/MemoryBlock.h"
#include "agentcomm/RunningPtr.h"

namespace serialization::StorageNamed::InMemStorageSpace {

enum entry_type : std::uint8_t {
  entry_section = 1,
  entry_value = 2,
  entry_sections_array = 3,
  entry_values_array = 4,
};

// Value kinds; the reading side does not check them.
enum value_kind : std::uint8_t {
  kind_bytes = 1,    // an integer, a flag byte or a rectangle, as their bytes
  kind_string = 2,   // 8-bit characters and a NUL
  kind_wstring = 3,  // UTF-16LE code units and a NUL unit
};

inline constexpr std::uint32_t block_magic1 = 0xF34D49A2;
inline constexpr std::uint32_t block_magic2 = 0x889F1ED9;
inline constexpr std::uint8_t block_version = 1;
inline constexpr std::uint32_t block_header_size = 9;

// The largest block a load accepts. The largest message of the set, a fill-in answer with its
// manifest text, takes some tens of KiB.
inline constexpr std::uint32_t max_block_size = 4u << 20;
// The most entries one load makes: section entries and array elements, at every level together.
// A fill-in answer of a form with a hundred fields has under a thousand. What a load builds then
// stays near 11 MiB at most (measured: 65535 values of 40 bytes, some 170 bytes of memory each)
// beside the payload bytes, whatever the block holds.
inline constexpr std::uint32_t max_entries = 65536;

class ISSectionEntry {
 public:
  virtual ~ISSectionEntry() = default;
  virtual std::uint8_t type() const = 0;
  // Bytes that write() produces (saturated at 0xFFFFFFFF).
  virtual std::uint32_t size() const = 0;
  virtual std::uint32_t write(running_ptr& cursor) const = 0;
  // Replaces the content from the cursor; 0 when the entry there is of another type.
  virtual std::uint32_t read(const_running_ptr& cursor) = 0;
};

using entry_ptr = std::shared_ptr<ISSectionEntry>;

// Memory for the entries that one load makes, handed out from a few chunks instead of one heap
// block each. Every entry made from it holds a reference; the chunks go with the last one, so
// entries may outlive the storage that loaded them. A storage lives on one thread, hence a plain
// count. Memory of a removed entry is not reused while the others live. The used part of every
// chunk is wiped before the chunks are freed: entries hold short payloads inside themselves.
class entry_arena_t {
 public:
  static entry_arena_t* create(std::size_t first_chunk);
  void add_ref() { ++refs_; }
  void release();
  void* allocate(std::size_t size, std::size_t alignment);

 private:
  explicit entry_arena_t(std::size_t first_chunk) : next_chunk_(first_chunk) {}
  ~entry_arena_t();
  static void destroy(entry_arena_t* arena);

  struct chunk_t {
    std::unique_ptr<std::byte[]> bytes;
    std::size_t used;
  };
  std::vector<chunk_t> chunks_;
  std::byte* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t next_chunk_;
  std::size_t refs_ = 1;
};

// One counted reference to an arena.
class arena_ref_t {
 public:
  explicit arena_ref_t(entry_arena_t* adopted) : arena_(adopted) {}
  arena_ref_t(const arena_ref_t& other) : arena_(other.arena_) { arena_->add_ref(); }
  arena_ref_t& operator=(const arena_ref_t&) = delete;
  ~arena_ref_t() { arena_->release(); }
  entry_arena_t* get() const { return arena_; }

 private:
  entry_arena_t* arena_;
};

// Named entries, unique names in ascending byte order.
class CSSection final : public ISSectionEntry {
 public:
  struct item_t {
    std::string name;
    entry_ptr entry;
  };

  std::uint8_t type() const override { return entry_section; }
  std::uint32_t size() const override;
  std::uint32_t write(running_ptr& cursor) const override;
  std::uint32_t read(const_running_ptr& cursor) override;

  const std::vector<item_t>& items() const { return items_; }
  ISSectionEntry* find(std::string_view name) const;
  // Sets |entry| under |name|, replacing an entry of that name.
  void set(std::string_view name, entry_ptr entry);
  bool erase(std::string_view name);
  void clear() { items_.clear(); }
  bool empty() const { return items_.empty(); }

 private:
  std::vector<item_t>::iterator lower_bound(std::string_view name);
  std::vector<item_t> items_;
};

class CSValue final : public ISSectionEntry {
 public:
  std::uint8_t type() const override { return entry_value; }
  std::uint32_t size() const override;
  std::uint32_t write(running_ptr& cursor) const override;
  std::uint32_t read(const_running_ptr& cursor) override;

  std::uint8_t kind = 0;
  CMemoryObjectEx payload;
};

// Second base of the two array entries: the same four operations, seen from the array's side.
template <class T>
class CSEntriesArrayBase {
 public:
  virtual std::uint8_t type() const = 0;
  virtual std::uint32_t size() const = 0;
  virtual std::uint32_t write(running_ptr& cursor) const = 0;
  virtual std::uint32_t read(const_running_ptr& cursor) = 0;

 protected:
  ~CSEntriesArrayBase() = default;
};

// Unnamed sections in insertion order, with a read cursor.
class CSSectionsArray final : public ISSectionEntry, public CSEntriesArrayBase<CSSection> {
 public:
  CSSectionsArray() = default;
  CSSectionsArray(const CSSectionsArray&) = delete;  // the cursor points into the list
  CSSectionsArray& operator=(const CSSectionsArray&) = delete;

  std::uint8_t type() const override { return entry_sections_array; }
  std::uint32_t size() const override;
  std::uint32_t write(running_ptr& cursor) const override;
  std::uint32_t read(const_running_ptr& cursor) override;

  const std::list<CSSection>& elements() const { return elements_; }
  // A new empty section at the end; it stays where it is while the array lives.
  CSSection& append() { return elements_.emplace_back(); }
  void clear();
  // The element at the read cursor, moving the cursor on; null at the end.
  CSSection* next();
  void rewind() { cursor_ = elements_.begin(); }

 private:
  std::list<CSSection> elements_;
  std::list<CSSection>::iterator cursor_ = elements_.begin();
};

// Unnamed payloads of one kind in insertion order, with a read cursor.
class CSValuesArray final : public ISSectionEntry, public CSEntriesArrayBase<CMemoryObjectEx> {
 public:
  std::uint8_t type() const override { return entry_values_array; }
  std::uint32_t size() const override;
  std::uint32_t write(running_ptr& cursor) const override;
  std::uint32_t read(const_running_ptr& cursor) override;

  const std::vector<CMemoryObjectEx>& elements() const { return elements_; }
  bool append(const memoryblock_i& bytes);
  void clear();
  // The element at the read cursor, moving the cursor on; null at the end.
  const CMemoryObjectEx* next();
  void rewind() { cursor_ = 0; }

  std::uint8_t kind = 0;

 private:
  std::vector<CMemoryObjectEx> elements_;
  std::size_t cursor_ = 0;
};

struct rect_t {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const rect_t&) const = default;
};

// The whole container. Section arguments name a section inside this storage; null means the root.
class CInMemStorage {
 public:
  CInMemStorage() = default;
  CInMemStorage(const CInMemStorage&) = delete;
  CInMemStorage& operator=(const CInMemStorage&) = delete;
  virtual ~CInMemStorage() = default;

  // Erases the named entry; false when there was none.
  virtual bool remove(std::string_view name, CSSection* section = nullptr);

  CSSection& root() { return root_; }
  const CSSection& root() const { return root_; }

  // Copies |bytes| into the named value, creating it. Fails on an empty name, no bytes, or a name
  // that holds another kind of entry.
  bool put_value(std::string_view name, const memoryblock_i& bytes, CSSection* section = nullptr,
                 std::uint8_t kind = kind_bytes);
  // Hands the named value's payload to |out| (an owning block copies it, a view points at it).
  bool get_value(std::string_view name, memoryblock_i& out, const CSSection* section = nullptr,
                 std::uint8_t* kind = nullptr) const;

  // Typed values. Reading copies at most the value's own width from the payload (a shorter payload
  // changes only the low bytes); strings end at the payload's first NUL.
  bool put_int(std::string_view name, std::int32_t value, CSSection* section = nullptr);
  bool get_int(std::string_view name, std::int32_t& value, const CSSection* section = nullptr) const;
  bool put_flag(std::string_view name, std::uint8_t value, CSSection* section = nullptr);
  bool get_flag(std::string_view name, std::uint8_t& value, const CSSection* section = nullptr) const;
  bool put_rect(std::string_view name, const rect_t& value, CSSection* section = nullptr);
  bool get_rect(std::string_view name, rect_t& value, const CSSection* section = nullptr) const;
  bool put_str(std::string_view name, const std::string& value, CSSection* section = nullptr);
  bool get_str(std::string_view name, std::string& value, const CSSection* section = nullptr) const;
  bool put_wstr(std::string_view name, const std::u16string& value, CSSection* section = nullptr);
  bool get_wstr(std::string_view name, std::u16string& value, const CSSection* section = nullptr) const;

  // The named section of |parent| (the parent itself for an empty name). A missing one is made when
  // |create| is set; an entry of another type gives null.
  CSSection* open_section(std::string_view name, CSSection* parent = nullptr, bool create = false);
  const CSSection* find_section(std::string_view name, const CSSection* parent = nullptr) const;

  // Starts writing a sections array under |name|: an existing one is emptied, a value is replaced,
  // a section or a values array makes it fail. |first| gets the array's first, empty element.
  CSSectionsArray* begin_write_array(std::string_view name, CSSection* parent, CSSection** first);
  static bool append_section(CSSectionsArray* array, CSSection** section);
  // Starts reading the sections array under |name| (it must hold at least one element): |first|
  // gets its first element and the array's cursor moves past it.
  CSSectionsArray* begin_read_array(std::string_view name, CSSection* parent, CSSection** first);
  static bool next_section(CSSectionsArray* array, CSSection** section);

  // An empty values array of |kind| under |name|, replacing whatever was there; null on an empty
  // name.
  CSValuesArray* put_values_array(std::string_view name, std::uint8_t kind, CSSection* parent = nullptr);

  // Flattens the storage into |block| (allocated once, exactly); the length or 0.
  std::uint32_t save(memoryblock_i& block) const;
  // Rebuilds the storage from |block|; the bytes consumed with the header, or 0 when the header is
  // wrong, the block is longer than max_block_size or memory runs out (the storage is then
  // unchanged). |complete| tells whether every entry read to its end. An entry that stops early
  // ends the section or array that holds it, and so every one above it.
  std::uint32_t load(const memoryblock_i& block, bool* complete = nullptr);

 private:
  CSSection& section_or_root(CSSection* section) { return section ? *section : root_; }
  const CSSection& section_or_root(const CSSection* section) const { return section ? *section : root_; }
  const CMemoryObjectEx* find_payload(std::string_view name, const CSSection* section) const;

  CSSection root_;
};

}  // namespace serialization::StorageNamed::InMemStorageSpace
