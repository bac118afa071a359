// The sonogram: a ring of columns of 3 pixels, newest at the right edge, kept as the texel columns
// of one texture. Adding a column overwrites the oldest one in place, so scrolling never copies
// older columns, and the whole ring is drawn as two quads: the columns from the texture's first
// to the newest, and the older ones after it, to their left. While the framebuffer still holds the
// last image, a new column moves that image a column to the left by copies and only the new
// column is drawn (see scrollShownColumns).
#include <algorithm>
#include <cmath>

#include "analysis/UISpectrumView.h"

namespace {
constexpr float kColumnWidth = 3.0f;

uint32_t packColor(double r, double g, double b, double a) {
  auto byte = [](double v) { return static_cast<uint32_t>(static_cast<int>(v * 255.0)) & 0xffu; };
  return (byte(a) << 24) + (byte(r) << 16) + (byte(g) << 8) + byte(b);
}

// Keeps a column's texels in the ring's copy (whose size the ring was made with: a column it has
// no room for is not kept).
void storeColumn(std::vector<uint32_t>& ring, int32_t column, const std::vector<uint32_t>& texels) {
  const size_t at = static_cast<size_t>(std::max(column, 0)) * texels.size();
  if (at + texels.size() > ring.size()) return;
  std::copy(texels.begin(), texels.end(), ring.begin() + static_cast<std::ptrdiff_t>(at));
}

// Sonogram levels of silence or of a broken frame are not numbers (−inf, NaN); they count as the
// bottom of the range so they show as the palette's lowest colour, not as an error colour.
float finiteLevel(float level) {
  if (std::isnan(level)) return -80.0f;
  if (std::isinf(level)) return level > 0 ? -16.0f : -80.0f;
  return level;
}
}  // namespace

std::vector<SonogramColorStop> UISpectrumView::defaultSonogramColors() {
  return {{0.0f, UIColor::colorWithRed(0, 0, 0, 0)},
          {0.333f, UIColor::colorWithRed(0.7, 0, 0, 1)},
          {0.667f, UIColor::colorWithRed(0, 0, 1, 1)},
          {1.0f, UIColor::colorWithRed(0, 1, 1, 1)}};
}

int32_t UISpectrumView::getTexBufferSizeForHeight(int32_t height) {
  int32_t size = 2;
  while (size < height && size < (1 << 30)) size *= 2;
  return size;
}

uint32_t UISpectrumView::colorForLevel(float v) const {
  // Without a palette the view draws with the default one rather than with undefined colours.
  const auto& stops = sonogramColors.empty() ? defaultSonogramColors() : sonogramColors;
  for (size_t k = 0; k + 1 < stops.size(); ++k) {
    const auto& A = stops[k];
    const auto& B = stops[k + 1];
    if (A.level <= v && v <= B.level) {
      // Two stops at one level would divide 0 by 0: the lower stop's colour is taken.
      float span = B.level - A.level;
      float u = span > 0 ? (v - A.level) / span : 0.0f;
      auto a = A.color ? A.color->components() : std::array<double, 4>{0, 0, 0, 1};
      auto b = B.color ? B.color->components() : std::array<double, 4>{0, 0, 0, 1};
      return packColor(a[0] + u * (b[0] - a[0]), a[1] + u * (b[1] - a[1]), a[2] + u * (b[2] - a[2]),
                       a[3] + u * (b[3] - a[3]));
    }
  }
  return packColor(0, 0, 0, 1);
}

void UISpectrumView::setupViewForSpectrum() { buildRing(nullptr); }

std::optional<UISpectrumView::KeptColumns> UISpectrumView::keepColumns() {
  const size_t pitch = static_cast<size_t>(std::max(texBitBufferSize, 0));
  if (!isSpectrogramInited || currentTexCount <= 0 || pitch == 0 ||
      ringTexels.size() < static_cast<size_t>(currentTexCount) * pitch) {
    return std::nullopt;
  }
  KeptColumns kept;
  kept.texels = std::move(ringTexels);
  ringTexels.clear();
  kept.count = currentTexCount;
  kept.newest = std::clamp(newestColumn, 0, currentTexCount - 1);
  kept.rows = std::clamp(backingHeight, 0, texBitBufferSize);
  kept.pitch = texBitBufferSize;
  return kept;
}

namespace {
// The row of a column `rows` high that row r of a column `newRows` high shows: both span the same
// levels from the first row to the last (the bottom and top of the frequency axis on either
// scale), so the ends stay the ends.
int32_t stretchedRow(int32_t r, int32_t newRows, int32_t rows) {
  if (rows <= 1 || newRows <= 1) return 0;
  const double at = static_cast<double>(r) * static_cast<double>(rows - 1) / static_cast<double>(newRows - 1);
  return std::clamp(static_cast<int32_t>(std::lround(at)), 0, rows - 1);
}
}  // namespace

void UISpectrumView::buildRing(const KeptColumns* kept) {
  texBitBufferSize = getTexBufferSizeForHeight(backingHeight);
  texBitBuffer.assign(static_cast<size_t>(texBitBufferSize), 0u);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  currentTexCount = static_cast<int32_t>(std::ceil(backingWidth / 3.0));
  // OpenGL ES 1.1 textures have power-of-two sizes; the columns past the ring's are never drawn.
  ringTextureWidth = currentTexCount > 0 ? getTexBufferSizeForHeight(currentTexCount) : 0;
  newestColumn = 0;
  shownColumn = -1;
  clearTexBuffer();
  const size_t pitch = static_cast<size_t>(texBitBufferSize);
  ringTexels.resize(static_cast<size_t>(std::max(currentTexCount, 0)) * pitch);
  for (int32_t column = 0; column < currentTexCount; ++column) {
    std::copy(texBitBuffer.begin(), texBitBuffer.end(), ringTexels.begin() + static_cast<std::ptrdiff_t>(column * pitch));
  }
  if (kept && kept->count > 0 && currentTexCount > 0) {
    // The newest kept column at the right edge and the older ones left of it, as many as the new
    // ring holds; the columns left of the oldest show the background, as in a ring not yet full.
    const int32_t count = std::min(kept->count, currentTexCount);
    const int32_t rows = std::min(backingHeight, texBitBufferSize);
    for (int32_t age = 0; age < count; ++age) {
      const int32_t from = ((kept->newest - age) % kept->count + kept->count) % kept->count;
      const uint32_t* source = kept->texels.data() + static_cast<size_t>(from) * static_cast<size_t>(kept->pitch);
      uint32_t* target = ringTexels.data() + static_cast<size_t>(count - 1 - age) * pitch;
      for (int32_t r = 0; r < rows; ++r) target[r] = source[stretchedRow(r, rows, kept->rows)];
    }
    newestColumn = count - 1;
  }
  if (currentTexCount > 0) {
    glGenTextures(1, &ringTexture);
    glBindTexture(GL_TEXTURE_2D, ringTexture);
    // Each texel column is stretched over 3 pixels: nearest in both directions keeps neighbouring
    // columns apart, as separate textures kept them.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, ringTextureWidth, texBitBufferSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    for (int32_t column = 0; column < currentTexCount; ++column) {
      glTexSubImage2D(GL_TEXTURE_2D, 0, column, 0, 1, texBitBufferSize, GL_RGBA, GL_UNSIGNED_BYTE,
                      ringTexels.data() + static_cast<size_t>(column) * pitch);
    }
  }
  glEnable(GL_TEXTURE_2D);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);
  isSpectrogramInited = true;
}

void UISpectrumView::clearTexBuffer() {
  const auto& stops = sonogramColors.empty() ? defaultSonogramColors() : sonogramColors;
  auto c = stops.front().color ? stops.front().color->components() : std::array<double, 4>{0, 0, 0, 0};
  uint32_t background = packColor(c[0], c[1], c[2], c[3]);
  int32_t rows = std::min<int32_t>(backingHeight, static_cast<int32_t>(texBitBuffer.size()));
  std::fill(texBitBuffer.begin(), texBitBuffer.begin() + std::max(0, rows), background);
}

void UISpectrumView::clearTextures() {
  if (!isSpectrogramInited) return;
  clearTexBuffer();
  shownColumn = -1;
  if (!ringTexture) return;
  glBindTexture(GL_TEXTURE_2D, ringTexture);
  for (int32_t column = 0; column < currentTexCount; ++column) {
    storeColumn(ringTexels, column, texBitBuffer);
    glTexSubImage2D(GL_TEXTURE_2D, 0, column, 0, 1, texBitBufferSize, GL_RGBA, GL_UNSIGNED_BYTE, texBitBuffer.data());
  }
}

void UISpectrumView::freeScrollImage() {
  if (scrollFramebuffer) glDeleteFramebuffersOES(1, &scrollFramebuffer);
  if (scrollTexture) glDeleteTextures(1, &scrollTexture);
  scrollFramebuffer = 0;
  scrollTexture = 0;
  shownColumn = -1;
}

void UISpectrumView::freeSpectrumObjects() {
  freeScrollImage();
  if (!isSpectrogramInited) return;
  texBitBuffer.clear();
  texBitBuffer.shrink_to_fit();
  ringTexels.clear();
  ringTexels.shrink_to_fit();
  if (ringTexture) glDeleteTextures(1, &ringTexture);
  ringTexture = 0;
  ringTextureWidth = 0;
  newestColumn = 0;
  isSpectrogramInited = false;
}

void UISpectrumView::cycleSpectrum() {
  // The oldest column (the one after the newest, round the ring) becomes the newest.
  if (currentTexCount > 1) newestColumn = (newestColumn + 1) % currentTexCount;
}

void UISpectrumView::renderFFTToTex() {
  cycleSpectrum();
  const int32_t H = std::min<int32_t>(backingHeight, static_cast<int32_t>(texBitBuffer.size()));
  const auto& levels = sonogramData ? *sonogramData : std::vector<float>{};
  const size_t n = levels.size();
  if (H >= 1 && n == 0) {
    clearTexBuffer();  // a frame without levels shows as background
  } else if (H >= 1) {
    const float b = static_cast<float>(22050.0 / static_cast<double>(n));
    const float logRange = static_cast<float>(std::log10(735.0));
    for (int32_t r = 0; r < H; ++r) {
      float p;
      if (scaleType_ == 1) {
        float e = static_cast<float>(r) / (static_cast<float>(H) / logRange);
        p = static_cast<float>(std::pow(10.0, e + std::log10(30.0))) / b;
      } else {
        // A view one pixel high has a single row, showing the first bin (not 0/0).
        p = H > 1 ? static_cast<float>(n - 1) * static_cast<float>(r) / static_cast<float>(H - 1) : 0.0f;
      }
      size_t i = std::min(static_cast<size_t>(std::max(0.0f, p)), n - 1);
      float t = p - std::floor(p);
      size_t i1 = i + 1 >= n ? n - 1 : i + 1;
      float a = finiteLevel(levels[i]), c = finiteLevel(levels[i1]);
      float v = (1 - t) * (a + 80) / 64 + t * (c + 80) / 64;
      if (v < 0) v = 0;
      if (v > 1) v = 1;
      v = std::sqrt(v);
      texBitBuffer[static_cast<size_t>(r)] = colorForLevel(v);
    }
  }
  if (ringTexture) {
    storeColumn(ringTexels, newestColumn, texBitBuffer);
    glBindTexture(GL_TEXTURE_2D, ringTexture);
    glTexSubImage2D(GL_TEXTURE_2D, 0, newestColumn, 0, 1, texBitBufferSize, GL_RGBA, GL_UNSIGNED_BYTE,
                    texBitBuffer.data());
  }
}

// Moves the framebuffer's image of the ring one column to the left, as the next image has it,
// when the framebuffer still holds the image of the column before the newest. The copies go from
// framebuffer to texture as they lie, which the software rasteriser does as a plain copy of rows,
// where drawing the ring's quads costs several nanoseconds a pixel: the image is copied to the
// scroll texture, shifted, and back. Only the newest column is then left to draw. False (nothing
// moved) when the image cannot be reused or copied: the whole ring is drawn then.
bool UISpectrumView::scrollShownColumns() {
  const int32_t W = backingWidth, H = backingHeight;
  const auto shift = static_cast<GLint>(kColumnWidth);
  if (shownColumn < 0 || currentTexCount < 2 || (shownColumn + 1) % currentTexCount != newestColumn) return false;
  if (W <= shift || H <= 0) return false;
  // The image can be copied back only into a colour texture (the layer's, see EAGLContext).
  GLint type = 0, colorTexture = 0;
  glGetFramebufferAttachmentParameterivOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES,
                                           GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_OES, &type);
  glGetFramebufferAttachmentParameterivOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES,
                                           GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_OES, &colorTexture);
  if (type != GL_TEXTURE || colorTexture == 0) return false;
  // Errors queued before would read as the copies' own (a few at most: one per error flag).
  for (int i = 0; i < 8 && glGetError() != GL_NO_ERROR; ++i) {
  }
  if (!scrollTexture) {
    glGenTextures(1, &scrollTexture);
    glBindTexture(GL_TEXTURE_2D, scrollTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    // The layer's own pixel order, so that the copies convert nothing.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_BGRA_EXT, W, H, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffersOES(1, &scrollFramebuffer);
    glBindFramebufferOES(GL_FRAMEBUFFER_OES, scrollFramebuffer);
    glFramebufferTexture2DOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_TEXTURE_2D, scrollTexture, 0);
    const bool complete = glGetError() == GL_NO_ERROR &&
                          glCheckFramebufferStatusOES(GL_FRAMEBUFFER_OES) == GL_FRAMEBUFFER_COMPLETE_OES;
    glBindFramebufferOES(GL_FRAMEBUFFER_OES, viewFramebuffer);
    if (!complete) {
      freeScrollImage();
      return false;
    }
  }
  glBindTexture(GL_TEXTURE_2D, scrollTexture);
  glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, shift, 0, W - shift, H);
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, scrollFramebuffer);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(colorTexture));
  glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, W - shift, H);
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, viewFramebuffer);
  if (glGetError() != GL_NO_ERROR) {
    // What the framebuffer holds now is not known: it is drawn whole, and never reused again.
    freeScrollImage();
    return false;
  }
  return true;
}

void UISpectrumView::drawSpectrogram() {
  glClearColor(0, 0, 0, 0);
  if (sonogramData) renderFFTToTex();
  glEnable(GL_TEXTURE_2D);
  // The ring's quads cover the whole view (ceil(W/3) columns of 3 pixels, a texture at least as
  // high as the view) and are written without blending: a clear under them would be overwritten.
  // Only a view without a ring is cleared.
  if (!ringTexture) {
    glClear(GL_COLOR_BUFFER_BIT);
    glFlush();
    return;
  }
  // With a new column the image before moves a column to the left, where it can be had by a copy.
  const bool scrolled = sonogramData && scrollShownColumns();
  glPushMatrix();
  glTranslatef(static_cast<GLfloat>(backingWidth), 0, 0);
  // Column c of the texture is drawn (newest − c) columns left of the right edge: the columns up to
  // the newest end at the edge, the ones after it (older) end where those begin.
  const GLfloat S = static_cast<GLfloat>(texBitBufferSize);
  const GLfloat tw = static_cast<GLfloat>(ringTextureWidth);
  const GLfloat newer = static_cast<GLfloat>(newestColumn + 1);  // texture columns 0 .. newest
  const GLfloat all = static_cast<GLfloat>(currentTexCount);
  const GLfloat xSplit = -kColumnWidth * newer, xLeft = -kColumnWidth * all;
  const GLfloat quads[] = {
      xSplit, 0, 0, 0, xSplit, S, 0, S,           // columns 0 .. newest
      xLeft, 0, xSplit, 0, xLeft, S, xSplit, S,   // columns newest + 1 .. last
  };
  const GLfloat texCoords[] = {
      0, 0, newer / tw, 0, 0, 1, newer / tw, 1,
      newer / tw, 0, all / tw, 0, newer / tw, 1, all / tw, 1,
  };
  glVertexPointer(2, GL_FLOAT, 0, quads);
  glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glBindTexture(GL_TEXTURE_2D, ringTexture);
  // The quads meet at one edge and cover each pixel once, over the cleared (transparent) buffer:
  // the blend (ONE, ONE_MINUS_SRC_ALPHA) would give the texture's pixels unchanged, so they are
  // written without reading what lies under them.
  glDisable(GL_BLEND);
  // The texels as they are: the palette's colours, whatever colour the traces left current (and
  // the rasteriser's code for a plain copy is cheaper than for a product with the colour).
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  if (scrolled) {
    // Only the newest column, at the edge: the same quad as for the whole ring, cut to that
    // column, so its pixels are those the whole ring's draw gives.
    const auto shift = static_cast<GLint>(kColumnWidth);
    glScissor(backingWidth - shift, 0, shift, backingHeight);
    glEnable(GL_SCISSOR_TEST);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glDisable(GL_SCISSOR_TEST);
  } else {
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    if (newestColumn + 1 < currentTexCount) glDrawArrays(GL_TRIANGLE_STRIP, 4, 4);
  }
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glEnable(GL_BLEND);
  glPopMatrix();
  glFlush();
  shownColumn = newestColumn;
}
