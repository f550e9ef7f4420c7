#include "platform/Sha1.h"

#include <openssl/evp.h>

namespace platform {

bool Sha1(const void* data, std::size_t size, Sha1Digest& out) {
  out.fill(0);
  unsigned int length = 0;
  return EVP_Digest(data, size, out.data(), &length, EVP_sha1(), nullptr) == 1 &&
         length == out.size();
}

}  // namespace platform
