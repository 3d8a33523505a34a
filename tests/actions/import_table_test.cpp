// The import table walk over a synthetic image, whole and damaged. Also built
// natively with the address sanitizer, which checks that no walk reads
// outside the image.
#include "hooklib/actions/import_table.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/actions/synthetic_image.h"

namespace vm::actions {
namespace {

using test::SyntheticImage;

// A copy of exactly the image's bytes on the heap, so that the sanitizer
// sees a read one byte past the end.
struct Exact {
  explicit Exact(const std::vector<std::uint8_t>& bytes, std::size_t size)
      : data(new std::uint8_t[size]), size(size) {
    std::memcpy(data.get(), bytes.data(), std::min(size, bytes.size()));
  }
  ImageView View() const { return {data.get(), size}; }
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size;
};

TEST(ImportTable, FindsSlotsInBothDirectoriesAndNamedDelayedSlots) {
  SyntheticImage image;
  Exact exact(image.bytes, image.bytes.size());
  EXPECT_EQ(FindSlotHolding(exact.View(), SyntheticImage::kImported[1]), SyntheticImage::kIat + 8);
  EXPECT_EQ(FindSlotHolding(exact.View(), SyntheticImage::kDelayed[0]), SyntheticImage::kDelayIat);
  EXPECT_EQ(FindSlotHolding(exact.View(), 0x99999999), std::nullopt);
  EXPECT_EQ(FindSlotHolding(exact.View(), 0), std::nullopt);

  EXPECT_EQ(FindDelayedSlotByName(exact.View(), "dwmapi.DLL", "DwmExtendFrameIntoClientArea"),
            SyntheticImage::kDelayIat + 8);
  EXPECT_EQ(FindDelayedSlotByName(exact.View(), "dwmapi.dll", "dwmextendframeintoclientarea"),
            std::nullopt);
  EXPECT_EQ(FindDelayedSlotByName(exact.View(), "uxtheme.dll", "DwmExtendFrameIntoClientArea"),
            std::nullopt);
  EXPECT_EQ(ImageSizeFromHeaders(exact.data.get(), 4096), SyntheticImage::kSize);
}

// Each case damages one thing; the walk must answer "no slot" (or stop
// before the damage) without reading outside the image.
TEST(ImportTable, DamagedImagesGiveNoSlotAndNoStrayRead) {
  using S = SyntheticImage;
  struct Case {
    const char* what;
    std::function<void(S&)> damage;
    std::size_t view_size = S::kSize;
    bool imports_intact = false;  // only the delayed names are damaged
  };
  const Case cases[] = {
      {"not MZ", [](S& s) { s.Put16(0, 0x4242); }},
      {"new header past the end", [](S& s) { s.Put32(0x3C, S::kSize - 2); }},
      {"new header offset huge", [](S& s) { s.Put32(0x3C, 0xFFFFFFF0u); }},
      {"32-bit optional header", [](S& s) { s.Put16(S::kOptional, 0x10B); }},
      {"no data directories", [](S& s) { s.Put32(S::kOptional + 108, 0); }},
      {"import directory past the end",
       [](S& s) {
         s.Put32(S::kImportDirEntry, 0xFFFFFF00u);
         s.Put32(S::kDelayDirEntry, 0);
       }},
      {"descriptor straddles the end",
       [](S& s) {
         s.Put32(S::kImportDirEntry, S::kSize - 10);
         s.Put32(S::kDelayDirEntry, S::kSize - 10);
       }},
      {"address table past the end",
       [](S& s) {
         s.Put32(S::kImports + 16, S::kSize - 4);
         s.Put32(S::kDelay + 12, 0xFFFFFFF8u);
       }},
      {"address table runs to the end without a zero entry",
       [](S& s) {
         s.Put32(S::kImports + 16, S::kSize - 64);
         for (std::uint32_t at = S::kSize - 64; at < S::kSize; at += 8) s.Put64(at, 0x6666);
         s.Put32(S::kDelayDirEntry, 0);
       }},
      {"delayed name past the end", [](S& s) { s.Put32(S::kDelay + 4, S::kSize); }, S::kSize, true},
      {"delayed name without a terminator",
       [](S& s) {
         s.Put32(S::kDelay + 4, S::kSize - 4);
         for (std::uint32_t at = S::kSize - 4; at < S::kSize; ++at) s.bytes[at] = 'D';
       },
       S::kSize, true},
      {"name table entry past the end",
       [](S& s) { s.Put64(S::kDelayInt + 8, 0x7FFFFFFFFFFFFFF0ull); }, S::kSize, true},
      {"name table without a zero entry",
       [](S& s) {
         s.Put32(S::kDelay + 16, S::kSize - 16);
         s.Put64(S::kSize - 16, 0x8000000000000001ull);
         s.Put64(S::kSize - 8, 0x8000000000000002ull);
       },
       S::kSize, true},
      {"view shorter than the headers", [](S&) {}, 0x90},
      {"view ends inside the import tables", [](S&) {}, S::kImports + 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    S image;
    c.damage(image);
    Exact exact(image.bytes, c.view_size);
    const auto expected =
        c.imports_intact ? std::optional<std::uint32_t>(S::kIat + 8) : std::nullopt;
    EXPECT_EQ(FindSlotHolding(exact.View(), S::kImported[1]), expected);
    EXPECT_EQ(FindSlotHolding(exact.View(), 0x5555), std::nullopt);
    EXPECT_EQ(FindDelayedSlotByName(exact.View(), "dwmapi.dll", "DwmExtendFrameIntoClientArea"),
              std::nullopt);
  }
}

TEST(ImportTable, ImageSizeNeedsSaneHeaders) {
  SyntheticImage image;
  image.Put32(SyntheticImage::kOptional + 56, 0x200);  // smaller than the headers
  EXPECT_EQ(ImageSizeFromHeaders(image.bytes.data(), 4096), std::nullopt);
  SyntheticImage whole;
  EXPECT_EQ(ImageSizeFromHeaders(whole.bytes.data(), 0x40), std::nullopt);
  EXPECT_EQ(ImageSizeFromHeaders(nullptr, 4096), std::nullopt);
}

}  // namespace
}  // namespace vm::actions
