#pragma once
// A picture of the screen: what the display shows right now, copied from the
// screen's device context. The demo writes it as a 24-bit BMP (its script
// turns it into a PNG); tests count pixels in it. Pixels of windows of every
// process are taken as the display shows them.
#include <windows.h>

#include <string>
#include <vector>

namespace vm::test {

// A copy of the whole screen, rows top-down, 3 bytes a pixel (blue, green,
// red), each row padded to 4 bytes as a BMP wants it.
class ScreenImage {
 public:
  // Copies the screen now. Empty (ok() false) when the system refused.
  static ScreenImage Capture();

  bool ok() const { return width_ > 0 && height_ > 0; }
  int width() const { return width_; }
  int height() const { return height_; }

  // Number of different colours inside `area` (screen coordinates, clipped to
  // the image), counting up to `limit`: a drawn tab strip with captions has
  // many, an unpainted or blank area one or two.
  int CountColours(const RECT& area, int limit = 256) const;

  // Number of pixels of exactly `colour` inside `area` (screen coordinates,
  // clipped to the image).
  int CountPixels(const RECT& area, COLORREF colour) const;

  // Writes a BMP file; false (GetLastError set) on failure.
  bool WriteBmp(const std::wstring& path) const;

 private:
  int stride() const { return (width_ * 3 + 3) & ~3; }

  int width_ = 0;
  int height_ = 0;
  std::vector<BYTE> pixels_;
};

}  // namespace vm::test
