#ifndef WIRESAMPLE_H
#define WIRESAMPLE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// What the two Windows wire programs agree on: a small image whose rows carry spare bytes, the
// samples the host writes and the ones the application gives back, and an ICC profile longer
// than its channel claims (the record's length is the one that counts).
namespace WireSample {

constexpr const char *ChannelNames[6] = {"__orvaneLumivex_param", "__orvaneLumivex_plane0",
                                         "__orvaneLumivex_plane1", "__orvaneLumivex_plane2",
                                         "__orvaneLumivex_mask", "__orvaneLumivex_srcIcc"};
enum Channel { Param, Plane0, Plane1, Plane2, Mask, Icc };

constexpr uint32_t Width = 5;
constexpr uint32_t Height = 3;
constexpr uint32_t RowBytes = 14; // two spare bytes behind each row of 16-bit samples
constexpr std::size_t PlaneBytes = std::size_t(Height) * RowBytes;
constexpr unsigned char SpareByte = 0xAB;
constexpr const char *Profile = "an ICC profile of 35 bytes, or so.";
constexpr std::size_t ProfileBytes = 35; // with its NUL
constexpr uint64_t IccChannelDataSize = 4;

// Sample x of row y in plane k (the mask is plane 3), within 15 bits.
inline uint16_t hostSample(int k, uint32_t y, uint32_t x)
{
    return static_cast<uint16_t>((k * 4099 + y * 517 + x * 131) & 0x7FFF);
}

inline uint16_t appSample(int k, uint32_t y, uint32_t x)
{
    return static_cast<uint16_t>(32767 - hostSample(k, y, x));
}

inline uint16_t *sampleAt(unsigned char *plane, uint32_t y, uint32_t x)
{
    return reinterpret_cast<uint16_t *>(plane + std::size_t(y) * RowBytes) + x;
}

} // namespace WireSample

#endif // WIRESAMPLE_H
