// The document text, piece by piece, and the number formats it relies on.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "output/XmlDocument.h"

namespace {

std::string Printf(float v) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%f", double(v));
  return buf;
}

std::string Format(float v) {
  char buf[xmldoc::kMaxFloatText + 1];
  return std::string(buf, xmldoc::FormatFloat(v, buf));
}

std::string Document(const std::vector<XmlEntry>& e, std::int32_t counter) {
  std::vector<char> out(xmldoc::MaxDocumentSize(int(e.size())) + 1, '#');
  const std::size_t n = xmldoc::WriteTouchDocument(e.data(), int(e.size()), counter, out.data());
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

TEST(XmlNumbers, FloatsReadAsPrintfWritesThem) {
  // Ties at the sixth decimal round to even, as printf rounds the exact
  // binary value: 1/128 = 0.0078125, 3/128 = 0.0234375.
  EXPECT_EQ(Format(1.0f / 128), "0.007812");
  EXPECT_EQ(Format(3.0f / 128), "0.023438");
  EXPECT_EQ(Format(0.0f), "0.000000");
  EXPECT_EQ(Format(-0.0f), Printf(-0.0f));
  EXPECT_EQ(Format(1.0f), "1.000000");
  EXPECT_EQ(Format(32767.0f / 32760.0f), Printf(32767.0f / 32760.0f));
  for (float v : {FLT_MAX, -FLT_MAX, FLT_MIN, FLT_TRUE_MIN, 16777216.0f, 16777215.0f,
                  1048575.999756f, 4e-7f, 5e-7f, 6e-7f, -2.5e-6f})
    EXPECT_EQ(Format(v), Printf(v)) << v;

  // Every coordinate the records can produce, and a spread of other values.
  for (std::uint32_t c = 0; c <= 70000; ++c) {
    const float standard = float(double(c) * 0.000244140625);
    const float series = float(double(c) / 32760.0);
    ASSERT_EQ(Format(standard), Printf(standard)) << c;
    ASSERT_EQ(Format(series), Printf(series)) << c;
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 200000; ++i) {
    std::uint32_t bits = rng();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    if (v != v) continue;  // NaN text differs between C libraries
    ASSERT_EQ(Format(v), Printf(v)) << bits;
  }
}

TEST(XmlNumbers, IntegersAsPercentD) {
  char buf[16];
  for (std::int32_t v : {0, 1, -1, 65536, INT_MAX, INT_MIN}) {
    char want[16];
    std::snprintf(want, sizeof want, "%d", int(v));
    EXPECT_EQ(std::string(buf, xmldoc::FormatInt(v, buf)), want);
  }
}

TEST(XmlDocumentText, EveryPieceInOrder) {
  const std::string doc = Document({{0.5f, 0.25f, 0.75f, 0.0f, 7}, {0, 0, 0, 0, 0}}, 3);
  const std::string set7 =
      "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"set\" />"
      "<ARGUMENT TYPE=\"i\" VALUE=\"7\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.500000\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.750000\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.250000\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.000000\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.0\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.0\" /></MESSAGE>";
  const std::string set0 =
      "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"set\" />"
      "<ARGUMENT TYPE=\"i\" VALUE=\"0\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.000000\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.000000\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.000000\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.000000\" />"
      "<ARGUMENT TYPE=\"f\" VALUE=\"0.0\" /><ARGUMENT TYPE=\"f\" VALUE=\"0.0\" /></MESSAGE>";
  EXPECT_EQ(doc,
            "<OSCPACKET ADDRESS=\"127.0.0.1\" PORT=\"3000\" TIME=\"1\">" + set7 + set0 +
                "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"alive\" />"
                "<ARGUMENT TYPE=\"i\" VALUE=\"7\" /><ARGUMENT TYPE=\"i\" VALUE=\"0\" /></MESSAGE>"
                "<MESSAGE NAME=\"/tuio/2Dcur\"><ARGUMENT TYPE=\"s\" VALUE=\"fseq\" />"
                "<ARGUMENT TYPE=\"i\" VALUE=\"3\" /></MESSAGE></OSCPACKET>");
}

TEST(XmlDocumentText, NoEntriesIsTheEmptyString) {
  EXPECT_EQ(Document({}, 9), "");
}

TEST(XmlDocumentText, WidestDocumentFitsItsBound) {
  std::vector<XmlEntry> e(kMaxXmlEntries,
                          XmlEntry{-FLT_MAX, -FLT_MAX, -FLT_MAX, -FLT_MAX, INT_MIN});
  const std::size_t room = xmldoc::MaxDocumentSize(kMaxXmlEntries);
  std::vector<char> out(room + 1 + 64, '#');
  const std::size_t n = xmldoc::WriteTouchDocument(e.data(), kMaxXmlEntries, INT_MIN, out.data());
  EXPECT_LE(n, room);
  EXPECT_EQ(out[n], '\0');
  EXPECT_EQ(out[n + 1], '#');
}

}  // namespace
