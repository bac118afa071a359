// The sonogram: a ring of one-texel-wide textures, one per column of 3 pixels, newest at the right
// edge. Adding a column re-uses the oldest texture, so scrolling never copies older columns.
#include <algorithm>
#include <cmath>

#include "analysis/UISpectrumView.h"

namespace {
constexpr float kColumnWidth = 3.0f;

uint32_t packColor(double r, double g, double b, double a) {
  auto byte = [](double v) { return static_cast<uint32_t>(static_cast<int>(v * 255.0)) & 0xffu; };
  return (byte(a) << 24) + (byte(r) << 16) + (byte(g) << 8) + byte(b);
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

void UISpectrumView::setupViewForSpectrum() {
  texBitBufferSize = getTexBufferSizeForHeight(backingHeight);
  texBitBuffer.assign(static_cast<size_t>(texBitBufferSize), 0u);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  currentTexCount = static_cast<int32_t>(std::ceil(backingWidth / 3.0));
  std::vector<GLuint> names(static_cast<size_t>(std::max(0, currentTexCount)));
  if (!names.empty()) glGenTextures(static_cast<GLsizei>(names.size()), names.data());
  SpectrumLinkedTexture* last = nullptr;
  for (GLuint name : names) {
    auto* node = new SpectrumLinkedTexture{name, nullptr};
    if (last) last->next = node;
    else firstTex = node;
    last = node;
  }
  clearTexBuffer();
  for (auto* node = firstTex; node; node = node->next) {
    glBindTexture(GL_TEXTURE_2D, node->texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, texBitBufferSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, texBitBuffer.data());
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
  for (auto* node = firstTex; node; node = node->next) {
    glBindTexture(GL_TEXTURE_2D, node->texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, texBitBufferSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, texBitBuffer.data());
  }
}

void UISpectrumView::freeSpectrumObjects() {
  if (!isSpectrogramInited) return;
  texBitBuffer.clear();
  texBitBuffer.shrink_to_fit();
  while (firstTex) {
    SpectrumLinkedTexture* next = firstTex->next;
    glDeleteTextures(1, &firstTex->texture);
    delete firstTex;
    firstTex = next;
  }
  isSpectrogramInited = false;
}

void UISpectrumView::cycleSpectrum() {
  if (!firstTex || !firstTex->next) return;  // a ring of one column has nothing to rotate
  SpectrumLinkedTexture* beforeLast = firstTex;
  while (beforeLast->next->next) beforeLast = beforeLast->next;
  SpectrumLinkedTexture* last = beforeLast->next;
  beforeLast->next = nullptr;
  last->next = firstTex;  // the node is moved, not freed and remade: same texture, new place
  firstTex = last;
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
  if (firstTex) {
    glBindTexture(GL_TEXTURE_2D, firstTex->texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, texBitBufferSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, texBitBuffer.data());
  }
}

void UISpectrumView::drawSpectrogram() {
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (sonogramData) renderFFTToTex();
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_TEXTURE_2D);
  glPushMatrix();
  glTranslatef(static_cast<GLfloat>(backingWidth), 0, 0);
  const GLfloat S = static_cast<GLfloat>(texBitBufferSize);
  const GLfloat quad[] = {0, 0, kColumnWidth, 0, 0, S, kColumnWidth, S};
  const GLshort texCoords[] = {0, 0, 1, 0, 0, 1, 1, 1};
  glVertexPointer(2, GL_FLOAT, 0, quad);
  glTexCoordPointer(2, GL_SHORT, 0, texCoords);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glPushMatrix();
  for (auto* node = firstTex; node; node = node->next) {
    glTranslatef(-kColumnWidth, 0, 0);
    glBindTexture(GL_TEXTURE_2D, node->texture);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  }
  glPopMatrix();
  glPopMatrix();
  glFlush();
}
