#pragma once
// What a TUIO 1.1 bundle must hold, written out by hand in tests and
// compared against a bundle that liblo decoded.
#include <map>
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

struct TuioPoint {
  double x, y;
};

// One TUIO frame as a receiver sees it (cursors; object bundles carry
// only alive and fseq).
struct CursorFrame {
  bool cursors = true;
  std::vector<int> alive;
  std::map<int, TuioPoint> sets;
  int fseq = -2;
};

CursorFrame ReadCursorFrame(const OscBundle& b);

}  // namespace testsupport
