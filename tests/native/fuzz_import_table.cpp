// libFuzzer target: the import table walk over arbitrary images. The input
// is either a raw image, or a list of 32-bit writes into a whole synthetic
// image, so that mutations reach the descriptors and name tables. Whatever
// the bytes, every walk must stay inside the image (the address sanitizer
// checks each read) and end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "hooklib/actions/import_table.h"
#include "tests/actions/synthetic_image.h"

namespace {

void WalkAll(const std::uint8_t* bytes, std::size_t size, std::uint64_t address) {
  // An exact-size copy, so that a read one past the end is caught.
  auto image = std::make_unique<std::uint8_t[]>(size ? size : 1);
  if (size) std::memcpy(image.get(), bytes, size);
  const vm::actions::ImageView view{image.get(), size};
  (void)vm::actions::ImageSizeFromHeaders(image.get(), size);
  (void)vm::actions::FindSlotHolding(view, address);
  (void)vm::actions::FindSlotHolding(view, vm::test::SyntheticImage::kDelayed[1]);
  (void)vm::actions::FindDelayedSlotByName(view, "dwmapi.dll", "DwmExtendFrameIntoClientArea");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  ++data;
  --size;
  if (selector & 1) {
    WalkAll(data, size, 0x22222222);
    return 0;
  }
  vm::test::SyntheticImage image;
  std::uint64_t address = 0x6666;
  for (std::size_t at = 0; at + 6 <= size; at += 6) {
    std::uint16_t offset;
    std::uint32_t value;
    std::memcpy(&offset, data + at, 2);
    std::memcpy(&value, data + at + 2, 4);
    image.Put32(offset % (vm::test::SyntheticImage::kSize - 4), value);
    address = value;
  }
  const std::size_t view =
      (selector & 2) ? image.bytes.size() - (selector >> 2) * 16 : image.bytes.size();
  WalkAll(image.bytes.data(), view,
          (selector & 4) ? address : vm::test::SyntheticImage::kImported[1]);
  return 0;
}
