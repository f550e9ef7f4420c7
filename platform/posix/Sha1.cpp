#include "platform/Sha1.h"

#include <openssl/evp.h>

namespace platform {

namespace {

template <typename Digest>
bool Hash(const EVP_MD* type, const void* data, std::size_t size, Digest& out) {
  out.fill(0);
  unsigned int length = 0;
  return EVP_Digest(data, size, out.data(), &length, type, nullptr) == 1 && length == out.size();
}

}  // namespace

bool Sha1(const void* data, std::size_t size, Sha1Digest& out) {
  return Hash(EVP_sha1(), data, size, out);
}

bool Sha256(const void* data, std::size_t size, Sha256Digest& out) {
  return Hash(EVP_sha256(), data, size, out);
}

}  // namespace platform
