#pragma once
// BLF files put together object by object, shaped as Vector's tools write them.
#include <cstdint>
#include <string>
#include <vector>

#include "record/RecordFormat.h"

namespace tcmtest {

// Two stored log containers holding `frames` (channel 1) and one CAN_ERROR_EXT object, each
// container's content ending in `padding` zero bytes after its last object.
std::string PaddedBlf(const std::vector<TRecordFrame>& frames, size_t padding);
// One container of `count` error frame objects and nothing else.
std::string ErrorFramesBlf(int64_t startUs, int count);
// `containers` zlib containers whose headers each claim `declared` content bytes.
std::string BombBlf(int containers, uint32_t declared);

} // namespace tcmtest
