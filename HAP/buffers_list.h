// Padded byte buffers grown on demand, each followed by a run of zeroed bytes
// behind the size last asked for, and fixed lists of them sharing one padding.
// Misuse is reported as std::runtime_error, exhausted memory as std::bad_alloc.
#pragma once
#include <cstdint>

struct Padded_Buffer {
  uint8_t* data = nullptr;  // owned; null when nothing is held
  uint16_t padding = 0;     // zeroed bytes kept after the size last asked for
  uint32_t capacity = 0;    // bytes held (size + padding at the last allocation)
  uint32_t length = 0;      // bytes in use; set by the frame functions, never here
};

struct Buffers_List {
  uint16_t count = 0;
  Padded_Buffer* entries = nullptr;  // owned array of count records
};

// Empties the record without releasing anything.
void init_padded_buffer(Padded_Buffer* buffer);

// Makes the buffer hold at least size + padding bytes (keeping the block when it
// is big enough, else replacing it without copying) and zeroes the padding
// behind size. Throws "buf obj est null" for a null record and the padding
// message when size + padding does not stay below 2^32 - 1.
void alloc_padded_buffer(Padded_Buffer* buffer, uint32_t size);

// Releases the block, if any; padding and length stay.
void free_padded_buffer(Padded_Buffer* buffer);

// Gives an empty list count empty records with that padding; a count of 0
// leaves it empty. Throws "Buffers_List obj est null", "Buffers_List obj a deja
// des buffers alloues", or "Buffers_List : nombre de buffers > 65535" for a
// count the list cannot hold; the list is unchanged after a throw.
void init_buffers_list(Buffers_List* list, uint32_t count, uint16_t padding);

// As init_buffers_list, then allocates size bytes in every record, first to
// last. A failure part-way leaves the list holding every record, those before
// the failing one allocated, for free_buffers_list to release.
void init_buffers_list_allocated(Buffers_List* list, uint32_t size, uint16_t count,
                                 uint16_t padding);

// Releases every record's block and the array, leaving an empty list.
void free_buffers_list(Buffers_List* list);
