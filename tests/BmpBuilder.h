// SPDX-License-Identifier: MIT
// Builds BMP files field by field, so that tests can state exactly which
// header, palette and pixel bytes a file holds, valid or not.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace TestSupport {

using Bytes = std::vector<std::uint8_t>;

inline void PutLe(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

struct BmpBuilder {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint32_t> masks;                 // in the header from 52 bytes on, after it at 40
    std::vector<std::array<std::uint8_t, 3>> palette; // blue, green, red
    std::uint32_t gap = 0;                            // bytes between palette and pixels
    std::optional<std::uint32_t> offBits;             // overrides the computed bfOffBits
    Bytes pixels;

    Bytes Build() const
    {
        Bytes info;
        PutLe(info, headerSize, 4);
        if (headerSize == 12) {
            PutLe(info, static_cast<std::uint16_t>(width), 2);
            PutLe(info, static_cast<std::uint16_t>(height), 2);
            PutLe(info, planes, 2);
            PutLe(info, bitCount, 2);
        } else {
            PutLe(info, static_cast<std::uint32_t>(width), 4);
            PutLe(info, static_cast<std::uint32_t>(height), 4);
            PutLe(info, planes, 2);
            PutLe(info, bitCount, 2);
            PutLe(info, compression, 4);
            PutLe(info, pixels.size(), 4);
            PutLe(info, 2835, 4);
            PutLe(info, 2835, 4);
            PutLe(info, clrUsed, 4);
            PutLe(info, 0, 4);
            if (headerSize >= 52) {
                for (std::uint32_t mask : masks) {
                    PutLe(info, mask, 4);
                }
            }
            info.resize(headerSize, 0);
        }
        if (headerSize < 52) {
            for (std::uint32_t mask : masks) {
                PutLe(info, mask, 4);
            }
        }
        for (const auto& entry : palette) {
            info.insert(info.end(), entry.begin(), entry.end());
            if (headerSize != 12) {
                info.push_back(0);
            }
        }
        info.resize(info.size() + gap, 0xEE);

        Bytes file = {'B', 'M'};
        PutLe(file, 14 + info.size() + pixels.size(), 4);
        PutLe(file, 0, 4);
        PutLe(file, offBits.value_or(static_cast<std::uint32_t>(14 + info.size())), 4);
        file.insert(file.end(), info.begin(), info.end());
        file.insert(file.end(), pixels.begin(), pixels.end());
        return file;
    }
};

// Rows given top row first become stored rows bottom row first, each padded to 4 bytes.
inline Bytes BottomUp(const std::vector<Bytes>& rowsTopFirst)
{
    Bytes out;
    for (auto row = rowsTopFirst.rbegin(); row != rowsTopFirst.rend(); ++row) {
        out.insert(out.end(), row->begin(), row->end());
        out.resize((out.size() + 3) / 4 * 4, 0);
    }
    return out;
}

} // namespace TestSupport
