#pragma once
// What a TUIO 1.1 bundle must hold, written out by hand in tests and
// compared against a bundle that liblo decoded.
#include <string>
#include <vector>

#include "tests/support/OscCapture.h"

namespace testsupport {

struct ExpectedSet {
  int id;
  float x, y, xSpeed, ySpeed, accel;
};

struct ExpectedBundle {
  std::string profile;     // "/tuio/2Dcur" or "/tuio/2Dobj"
  std::vector<int> alive;  // session ids in list order
  std::vector<ExpectedSet> sets;
  int fseq;
};

ExpectedBundle Cur(std::vector<int> alive, std::vector<ExpectedSet> sets, int fseq);
ExpectedBundle Obj(int fseq);

// Empty string when `got` is exactly `want` (floats within 1e-4 relative),
// else what differs. Also checks the immediate time tag.
std::string Mismatch(const OscBundle& got, const ExpectedBundle& want);

// Compares a whole sequence; empty string when equal.
std::string Mismatch(const std::vector<OscBundle>& got, const std::vector<ExpectedBundle>& want);

}  // namespace testsupport
