#pragma once
// The extra field of a zip header: a sequence of blocks, each a 2-byte id, a
// 2-byte data length and that many bytes of data (little-endian).

#include <cstddef>
#include <cstdint>
#include <string>

// The unsigned little-endian number in the Count bytes at Data (Count <= 4).
inline uint32_t ZipLittleEndian(const char* Data, size_t Count) {
  uint32_t value = 0;
  while (Count-- > 0) value = (value << 8) | static_cast<uint8_t>(Data[Count]);
  return value;
}

// Finds the first block with the given Id and copies its data into Data.
// False when there is none. A block whose length runs past the end of the
// field ends the walk: it and anything after it are not believed.
inline bool FindZipExtraField(const std::string& ExtraField, uint16_t Id, std::string& Data) {
  size_t at = 0;
  while (ExtraField.size() - at >= 4) {
    const uint32_t id = ZipLittleEndian(&ExtraField[at], 2);
    const size_t length = ZipLittleEndian(&ExtraField[at + 2], 2);
    at += 4;
    if (length > ExtraField.size() - at) return false;
    if (id == Id) {
      Data.assign(ExtraField, at, length);
      return true;
    }
    at += length;
  }
  return false;
}
