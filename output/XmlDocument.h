#pragma once
// The text of one XML touch document: a TUIO "/tuio/2Dcur" bundle written
// as XML (set messages, the alive list, fseq), built without allocating.
#include <cstddef>
#include <cstdint>

// One touch of a document. id 0 means the entry holds no touch.
struct XmlEntry {
  float x;
  float dx;  // |x - x of the previous entry at the same index|
  float y;
  float dy;
  std::int32_t id;
};

// Entries a document can hold: one per ContactTable position.
constexpr int kMaxXmlEntries = 32;

namespace xmldoc {

// Longest text "%f" gives for a float ("-" and 39 digits, ".", 6 decimals).
constexpr std::size_t kMaxFloatText = 48;
constexpr std::size_t kMaxIntText = 11;  // "-2147483648"

// Room for the document of `n` entries, without the terminating zero.
constexpr std::size_t MaxDocumentSize(int n);

// Writes `value` as printf's "%f" does (six decimals, the exact binary
// value rounded half to even) and returns the length. `out` needs
// kMaxFloatText + 1 bytes; no terminating zero is written.
std::size_t FormatFloat(float value, char* out);
// "%d".
std::size_t FormatInt(std::int32_t value, char* out);

// The document of entries[0 .. n) with fseq value `documentCounter`, into
// `out` (at least MaxDocumentSize(n) + 1 bytes), followed by one zero byte.
// Returns the length without the zero byte. n == 0 gives the empty string.
std::size_t WriteTouchDocument(const XmlEntry* entries, int n, std::int32_t documentCounter,
                               char* out);

// --- the fixed pieces ---------------------------------------------------
constexpr char kPacketOpen[] = "<OSCPACKET ADDRESS=\"127.0.0.1\" PORT=\"3000\" TIME=\"1\">";
constexpr char kPacketClose[] = "</OSCPACKET>";
constexpr char kMessageOpen[] = "<MESSAGE NAME=\"/tuio/2Dcur\">";
constexpr char kMessageClose[] = "</MESSAGE>";
constexpr char kSetWord[] = "<ARGUMENT TYPE=\"s\" VALUE=\"set\" />";
constexpr char kAliveWord[] = "<ARGUMENT TYPE=\"s\" VALUE=\"alive\" />";
constexpr char kFseqHead[] = "<ARGUMENT TYPE=\"s\" VALUE=\"fseq\" /><ARGUMENT TYPE=\"i\" VALUE=\"";
constexpr char kIntegerHead[] = "<ARGUMENT TYPE=\"i\" VALUE=\"";
constexpr char kFloatHead[] = "<ARGUMENT TYPE=\"f\" VALUE=\"";
constexpr char kZeroFloat[] = "<ARGUMENT TYPE=\"f\" VALUE=\"0.0\" />";
constexpr char kValueClose[] = "\" />";

template <std::size_t N>
constexpr std::size_t Len(const char (&)[N]) {
  return N - 1;
}

constexpr std::size_t MaxDocumentSize(int n) {
  if (n <= 0) return 0;
  const std::size_t intArg = Len(kIntegerHead) + kMaxIntText + Len(kValueClose);
  const std::size_t floatArg = Len(kFloatHead) + kMaxFloatText + Len(kValueClose);
  const std::size_t set = Len(kMessageOpen) + Len(kSetWord) + intArg + 4 * floatArg +
                          2 * Len(kZeroFloat) + Len(kMessageClose);
  const std::size_t alive =
      Len(kMessageOpen) + Len(kAliveWord) + std::size_t(n) * intArg + Len(kMessageClose);
  const std::size_t fseq =
      Len(kMessageOpen) + Len(kFseqHead) + kMaxIntText + Len(kValueClose) + Len(kMessageClose);
  return Len(kPacketOpen) + std::size_t(n) * set + alive + fseq + Len(kPacketClose);
}

}  // namespace xmldoc
