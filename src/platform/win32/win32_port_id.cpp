#include "platform/win32/win32_port_id.h"

namespace korval::platform::win32 {
namespace {

std::uint32_t Less(std::uint32_t value, std::uint32_t excess) {
  return value >= excess ? value - excess : 0;
}

}  // namespace

void NarrowPortId(const Record& wide, Record& id, std::uint32_t handle_bytes) {
  const std::uint32_t excess = handle_bytes - 4;
  const std::uint32_t offset = wide.Get32(field::kVarStringOffset);
  const std::uint32_t size = wide.Get32(field::kVarStringSize);
  const bool holds_handle = wide.TotalSize() >= wide.NeededSize() && size >= handle_bytes &&
                            offset >= kVarStringSize && offset <= wide.size() &&
                            wide.size() - offset >= size;
  id.PutBytes(0, wide.Bytes(0, kVarStringSize));
  id.Set32(field::kTotalSize, id.size());
  id.Set32(field::kNeededSize, Less(wide.NeededSize(), excess));
  id.Set32(field::kUsedSize, Less(wide.Get32(field::kUsedSize), excess));
  if (!holds_handle) {
    id.Set32(field::kVarStringSize, 0);
    return;
  }
  id.Set32(field::kVarStringSize, size - excess);
  id.PutBytes(kVarStringSize, wide.Bytes(kVarStringSize, offset - kVarStringSize));
  id.Set32(offset, wide.Get32(offset));
  id.PutBytes(offset + 4, wide.Bytes(offset + handle_bytes, size - handle_bytes));
}

}  // namespace korval::platform::win32
