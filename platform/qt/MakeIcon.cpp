// Writes the program's icon as a PNG file: kestrova_make_icon FILE SIZE.
#include <cstdio>
#include <cstdlib>

#include "platform/qt/QtPictures.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kestrova_make_icon FILE SIZE\n");
    return 2;
  }
  const int size = std::atoi(argv[2]);
  if (size < 16 || size > 1024) {
    std::fprintf(stderr, "kestrova_make_icon: size must be 16 to 1024\n");
    return 2;
  }
  if (!kestrova::platform::qt::DrawIcon(size).save(argv[1], "PNG")) {
    std::fprintf(stderr, "kestrova_make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
