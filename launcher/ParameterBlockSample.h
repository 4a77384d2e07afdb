#pragma once
// The text a fresh build carries in its ParameterBlock. The personalisation
// tool finds the block by it; the launcher itself never refers to it, so the
// text stays in the executable only once, as the block's own bytes.

#include <cstddef>

inline constexpr char kParameterBlockSample[] =
    "url(https://demo.zels.example/velmoran/)lang(en)owner(54213)code()ac(3308)"
    "title(ZELsupport)cownerid(54213__kv7rm2q)";
inline constexpr std::size_t kParameterBlockSampleLength = sizeof(kParameterBlockSample) - 1;
