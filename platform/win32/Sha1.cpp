#include "platform/Sha1.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

namespace platform {

bool Sha1(const void* data, std::size_t size, Sha1Digest& out) {
  out.fill(0);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0) != 0) return false;
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

}  // namespace platform
