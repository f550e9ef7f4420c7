#include "platform/Sha1.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

namespace platform {

namespace {

template <typename Digest>
bool Hash(LPCWSTR algorithmId, const void* data, std::size_t size, Digest& out) {
  out.fill(0);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, algorithmId, nullptr, 0) != 0) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
  ok =
      ok && BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)), ULONG(size), 0) == 0;
  ok = ok && BCryptFinishHash(hash, out.data(), ULONG(out.size()), 0) == 0;
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!ok) out.fill(0);
  return ok;
}

}  // namespace

bool Sha1(const void* data, std::size_t size, Sha1Digest& out) {
  return Hash(BCRYPT_SHA1_ALGORITHM, data, size, out);
}

bool Sha256(const void* data, std::size_t size, Sha256Digest& out) {
  return Hash(BCRYPT_SHA256_ALGORITHM, data, size, out);
}

}  // namespace platform
