// tuio_scenario PORT: plays the fixed publisher run towards 127.0.0.1:PORT.
#include <cstdio>
#include <cstdlib>

#include "tests/output/TuioScenario.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::atoi(argv[1]) <= 0) {
    std::fprintf(stderr, "usage: tuio_scenario PORT\n");
    return 2;
  }
  tuioscenario::Play("127.0.0.1", std::atoi(argv[1]));
  return 0;
}
