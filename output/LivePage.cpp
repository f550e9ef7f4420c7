#include "output/LivePage.h"

namespace {
// output/web/LivePage.html as bytes, generated at configure time so the page
// is edited as a page and never copied into a string by hand.
constexpr unsigned char kLivePage[] = {
#include "output/LivePage.inc"
};
constexpr unsigned char kCalibrationPage[] = {
#include "output/CalibrationPage.inc"
};
}  // namespace

std::string_view LivePageHtml() {
  return {reinterpret_cast<const char*>(kLivePage), sizeof kLivePage};
}

std::string_view CalibrationPageHtml() {
  return {reinterpret_cast<const char*>(kCalibrationPage), sizeof kCalibrationPage};
}
