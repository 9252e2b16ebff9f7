// Time to load and render each dialog image at the size it is drawn at (scale 1 and 1.5).
// The background is painted on every WM_PAINT of the About and how-to windows and the left-hand
// artwork on every WM_PAINT of the dialog, so those two are the figures that matter.
//
//   svg_bench [image folder]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Korvath/View/Svg.h"

namespace {

using Clock = std::chrono::steady_clock;

double medianMs(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

template <typename F>
double timeMs(int runs, F f) {
  std::vector<double> samples;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    f();
    samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return medianMs(samples);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : KV_SVG_IMAGE_DIR;
  struct Image {
    const char* file;
    unsigned width, height;
  };
  const Image images[] = {
      {"push.svg", 81, 58},       {"qrcode.svg", 81, 58},         {"otp.svg", 81, 58},
      {"forgot-token.svg", 81, 58}, {"back.svg", 30, 30},         {"about.svg", 20, 20},
      {"dialog-artwork.svg", 420, 500}, {"background.svg", 840, 500}, {"authentication.svg", 112, 112},
      {"logo.svg", 251, 72},
  };
  std::printf("%-20s %10s %12s %12s\n", "image", "load ms", "render s=1", "render s=1.5");
  for (const auto& image : images) {
    std::ifstream in(dir + "/" + image.file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto doc = Korvath::View::Svg::Document::loadFromData(text.data(), text.size());
    if (!doc) {
      std::fprintf(stderr, "svg_bench: cannot load %s/%s\n", dir.c_str(), image.file);
      return 1;
    }
    double load = timeMs(50, [&] { Korvath::View::Svg::Document::loadFromData(text.data(), text.size()); });
    double one = timeMs(50, [&] { doc->renderToBitmap(image.width, image.height); });
    double big = timeMs(50, [&] { doc->renderToBitmap(image.width * 3 / 2, image.height * 3 / 2); });
    std::printf("%-20s %10.3f %12.3f %12.3f\n", image.file, load, one, big);
  }
  return 0;
}
