#include "HAP/buffers_list.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

void init_padded_buffer(Padded_Buffer* buffer) {
  *buffer = Padded_Buffer{};
}

void alloc_padded_buffer(Padded_Buffer* buffer, uint32_t size) {
  if (!buffer) throw std::runtime_error("buf obj est null");
  if (size >= UINT32_MAX - buffer->padding) {
    throw std::runtime_error(
        "Alloc buffer : Taille demandee ne laisse pas la place au padding : New size : " +
        std::to_string(size) + " ; padding : " + std::to_string(buffer->padding));
  }
  const uint32_t total = size + buffer->padding;
  if (total > buffer->capacity || !buffer->data) {
    free_padded_buffer(buffer);
    buffer->data = nullptr;
    buffer->capacity = 0;
    // The old contents are not wanted, so a fresh block beats realloc's copy.
    void* block = std::malloc(total ? total : 1);
    if (!block) throw std::bad_alloc();
    buffer->data = static_cast<uint8_t*>(block);
    buffer->capacity = total;
  }
  if (buffer->padding) std::memset(buffer->data + size, 0, buffer->padding);
}

void free_padded_buffer(Padded_Buffer* buffer) {
  // A request of 0 bytes without padding holds a block of capacity 0, so the
  // block itself, not the capacity, says whether there is one to release.
  if (!buffer || !buffer->data) return;
  std::free(buffer->data);
  buffer->data = nullptr;
  buffer->capacity = 0;
}

static void check_empty_list(const Buffers_List* list) {
  if (!list) throw std::runtime_error("Buffers_List obj est null");
  if (list->count != 0) throw std::runtime_error("Buffers_List obj a deja des buffers alloues");
}

void init_buffers_list(Buffers_List* list, uint32_t count, uint16_t padding) {
  check_empty_list(list);
  if (count > UINT16_MAX) throw std::runtime_error("Buffers_List : nombre de buffers > 65535");
  // A zero-length array could never be released, since an empty list is left alone.
  if (count == 0) return;
  auto* entries = static_cast<Padded_Buffer*>(std::calloc(count, sizeof(Padded_Buffer)));
  if (!entries) throw std::bad_alloc();
  for (uint32_t i = 0; i < count; ++i) {
    init_padded_buffer(&entries[i]);
    entries[i].padding = padding;
  }
  list->entries = entries;
  list->count = static_cast<uint16_t>(count);
}

void init_buffers_list_allocated(Buffers_List* list, uint32_t size, uint16_t count,
                                 uint16_t padding) {
  init_buffers_list(list, count, padding);
  for (uint16_t i = 0; i < list->count; ++i) alloc_padded_buffer(&list->entries[i], size);
}

void free_buffers_list(Buffers_List* list) {
  if (!list || list->count == 0) return;
  for (uint16_t i = 0; i < list->count; ++i) free_padded_buffer(&list->entries[i]);
  std::free(list->entries);
  list->entries = nullptr;
  list->count = 0;
}
