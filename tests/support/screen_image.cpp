#include "tests/support/screen_image.h"

#include <algorithm>
#include <memory>
#include <type_traits>
#include <unordered_set>

#include "common/unique_handle.h"

namespace vm::test {

namespace {

struct ScreenDcDeleter {
  void operator()(HDC dc) const noexcept { ReleaseDC(nullptr, dc); }
};
struct MemoryDcDeleter {
  void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using ScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcDeleter>;
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;
using GdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

}  // namespace

ScreenImage ScreenImage::Capture() {
  ScreenImage image;
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) return image;

  ScreenDc screen(GetDC(nullptr));
  if (!screen) return image;
  MemoryDc memory(CreateCompatibleDC(screen.get()));
  if (!memory) return image;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  GdiObject bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return image;
  HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
  // CAPTUREBLT: layered windows are part of what the user sees too.
  const bool copied =
      BitBlt(memory.get(), 0, 0, width, height, screen.get(), 0, 0, SRCCOPY | CAPTUREBLT) != FALSE;
  GdiFlush();
  SelectObject(memory.get(), old);
  if (!copied) return image;
  image.width_ = width;
  image.height_ = height;
  const auto* first = static_cast<const BYTE*>(bits);
  image.pixels_.assign(first, first + static_cast<size_t>(image.stride()) * height);
  return image;
}

int ScreenImage::CountColours(const RECT& area, int limit) const {
  const int left = std::max<int>(area.left, 0);
  const int top = std::max<int>(area.top, 0);
  const int right = std::min<int>(area.right, width_);
  const int bottom = std::min<int>(area.bottom, height_);
  std::unordered_set<DWORD> seen;
  for (int y = top; y < bottom; ++y) {
    const BYTE* row = pixels_.data() + static_cast<size_t>(y) * stride();
    for (int x = left; x < right; ++x) {
      const BYTE* p = row + x * 3;
      seen.insert(p[0] | (p[1] << 8) | (p[2] << 16));
      if (static_cast<int>(seen.size()) >= limit) return limit;
    }
  }
  return static_cast<int>(seen.size());
}

int ScreenImage::CountPixels(const RECT& area, COLORREF colour) const {
  const int left = std::max<int>(area.left, 0);
  const int top = std::max<int>(area.top, 0);
  const int right = std::min<int>(area.right, width_);
  const int bottom = std::min<int>(area.bottom, height_);
  int count = 0;
  for (int y = top; y < bottom; ++y) {
    const BYTE* row = pixels_.data() + static_cast<size_t>(y) * stride();
    for (int x = left; x < right; ++x) {
      const BYTE* p = row + x * 3;
      if (RGB(p[2], p[1], p[0]) == colour) ++count;
    }
  }
  return count;
}

bool ScreenImage::WriteBmp(const std::wstring& path) const {
  if (!ok()) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  // A BMP stores its rows bottom-up unless the height is negative; the
  // bottom-up form is the one every reader knows.
  const DWORD image_size = static_cast<DWORD>(stride()) * height_;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + image_size;
  header.biSize = sizeof(header);
  header.biWidth = width_;
  header.biHeight = height_;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = image_size;

  UniqueHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  auto write = [&](const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(out.get(), data, size, &written, nullptr) && written == size;
  };
  if (!write(&file, sizeof(file)) || !write(&header, sizeof(header))) return false;
  for (int y = height_ - 1; y >= 0; --y) {
    if (!write(pixels_.data() + static_cast<size_t>(y) * stride(), stride())) return false;
  }
  return true;
}

}  // namespace vm::test
